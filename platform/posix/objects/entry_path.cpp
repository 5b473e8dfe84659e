#include "platform/posix/objects/entry_path.h"

namespace vk::posix {

EntryPath judge(const Text& name) {
  EntryPath p;
  // Windows takes "\" as a separator and "X:" as a drive, wherever the
  // archive was made.
  if (!name.empty() && (name[0] == u'/' || name[0] == u'\\')) {
    p.verdict = EntryPath::Verdict::Absolute;
    return p;
  }
  Text part;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == u'/' || name[i] == u'\\') {
      if (part == u"..") {
        p.verdict = EntryPath::Verdict::Outside;
        return p;
      }
      if (part.empty() || part == u".") {
        part.clear();
        continue;
      }
      // A drive as the first step, after any "." steps too ("./C:/x").
      if (p.parts.empty() && part.size() >= 2 && part[1] == u':') {
        p.verdict = EntryPath::Verdict::Absolute;
        return p;
      }
      p.parts.push_back(part);
      part.clear();
    } else {
      part += name[i];
    }
  }
  if (p.parts.empty()) p.verdict = EntryPath::Verdict::Empty;
  return p;
}

} // namespace vk::posix
