// Files published in one step, through a temporary beside them.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace vk::posix {

// The process a leftover's name says made it, when the name (after its
// prefix) is exactly "<pid>-<random>" with randomLength characters of
// alphabet: the form this program makes. 0 for any other name, which may
// well be the user's and is never touched.
pid_t ownerOf(std::string_view rest, std::size_t randomLength, std::string_view alphabet);

// Whether that process is gone: neither this one nor any that runs.
bool ownerGone(pid_t owner);

// Removes the folders in parent named prefix + "<pid>-<6 letters or
// digits>" (mkdtemp's form) that a process now gone made and this user owns:
// left by a run killed outright. A running instance's are never touched.
void removeStaleFolders(const std::string& parent, std::string_view prefix);

// How a published file takes its name.
enum class Publish {
  Replace,      // renamed over whatever has it; a link there is replaced, never followed
  OnlyIfAbsent, // only if no file has it, even one that appeared meanwhile
};

// The one way a file is published: written beside target as a temporary
// (without a name where the file system allows, else tempPrefix +
// "<pid>-<16 hex digits>"; mode as open() takes it) by write, synced and
// closed, and only then given the name, so that target holds its
// old content or the whole new one, never a part, even after a power cut.
// target is in dirFd's terms (with AT_FDCWD a path). False, with errno set,
// when a step fails (write sets errno itself when it returns false); the
// temporary is gone then and target untouched, as when write throws.
bool publishFile(int dirFd, const std::string& target, const std::string& tempPrefix, mode_t mode,
                 Publish how, const std::function<bool(int fd)>& write);

} // namespace vk::posix
