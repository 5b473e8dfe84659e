// A temporary file that becomes another in one step.
#pragma once

#include "platform/posix/host/unique.h"

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

// A new file in the folder of the file it is to become, so that the
// destination holds its old content or the whole new one, never a part.
// Until it is moved into place it is closed and removed when it goes. Where
// the file system allows, it has no name until then (O_TMPFILE), so even a
// process killed outright leaves nothing.
class TempFile {
public:
  // Makes an unnamed file, or "<prefix><pid>-<16 hex digits>", in the folder
  // dirFd stands for (with AT_FDCWD the prefix is a path), mode as open()
  // takes it, so the umask applies. Empty, with errno set, when no such file could be made.
  // The first one of a prefix in a folder removes the files of that prefix
  // whose process is gone: left by a run killed outright.
  TempFile(int dirFd, const std::string& prefix, mode_t mode);
  ~TempFile() { discard(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  explicit operator bool() const noexcept { return static_cast<bool>(fd_); }
  int fd() const noexcept { return fd_.get(); }

  // Closes the file; false, with errno set, when closing reports a failure
  // (a write that did not land).
  bool close() noexcept;
  // Renames it over target (in the same folder descriptor's terms); false,
  // with errno set, when that fails.
  bool replace(const std::string& target) noexcept;
  // Gives it the name target only if no file has that name, even one that
  // appeared meanwhile; the temporary name goes either way. False, with
  // errno set, when the name was taken or the link failed.
  bool link(const std::string& target) noexcept;
  // Closes and removes it now, unless it is in place already.
  void discard() noexcept;

private:
  std::string randomName(int attempt) const;
  bool unnamed() const noexcept;
  // Links the unnamed file in as target; false, with errno set, when that fails.
  bool name(const std::string& target) noexcept;

  int dirFd_;
  std::string prefix_;
  std::string path_; // empty while unnamed, and once moved into place or removed
  unique_fd fd_;
};

} // namespace vk::posix
