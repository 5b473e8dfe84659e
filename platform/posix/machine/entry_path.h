// The check an archive entry's name passes before anything is extracted.
#pragma once

#include "platform/text.h"

#include <vector>

namespace vk::posix {

// An archive entry's name, judged before anything is written.
struct EntryPath {
  enum class Verdict { Good, Empty, Absolute, Outside, Refused } verdict = Verdict::Good;
  std::vector<Text> parts; // without empty and "." steps
};

// "/" and "\" both separate steps and a leading one, or a drive ("X:"),
// makes the name absolute; a ".." step leads outside the destination. A
// step Windows will not make a file of (a device name such as "CON" or
// "NUL.txt", a trailing dot or blank, a control character or one of
// <>:"|?*) is Refused, its parts given. The parts of a Good name are never
// empty, "." or "..".
EntryPath judge(const Text& name);

} // namespace vk::posix
