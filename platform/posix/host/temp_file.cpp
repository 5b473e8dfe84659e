#include "platform/posix/host/temp_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <set>
#include <signal.h>
#include <string_view>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace vk::posix {

namespace {

// The folders (device, inode, name prefix) swept in this run: once is
// enough, and a folder that receives thousands of files is read once.
std::set<std::tuple<dev_t, ino_t, std::string>>& sweptFolders() {
  static std::set<std::tuple<dev_t, ino_t, std::string>> swept;
  return swept;
}

// The process a temporary file's name says made it: the digits after the
// prefix, up to a "-"; 0 when the name is not of that form.
pid_t ownerOf(std::string_view name) {
  const auto dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 9) return 0;
  pid_t pid = 0;
  for (char c : name.substr(0, dash)) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

// Removes the files of this prefix that a run killed outright left in the
// folder: those whose process is gone. A running instance's are never
// touched, however old.
void removeStale(int dirFd, const std::string& prefix) {
  const auto slash = prefix.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : prefix.substr(0, slash + 1);
  const std::string start = slash == std::string::npos ? prefix : prefix.substr(slash + 1);
  struct stat st {};
  if (::fstatat(dirFd, folder.c_str(), &st, 0) != 0 ||
      !sweptFolders().emplace(st.st_dev, st.st_ino, start).second)
    return;
  const unique_dir listing(
      ::fdopendir(::openat(dirFd, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
  if (!listing) return;
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string_view name = entry->d_name;
    if (name.size() <= start.size() || name.substr(0, start.size()) != start) continue;
    const pid_t owner = ownerOf(name.substr(start.size()));
    if (owner <= 0 || owner == ::getpid() || ::kill(owner, 0) == 0 || errno != ESRCH) continue;
    struct stat file {};
    if (::fstatat(::dirfd(listing.get()), entry->d_name, &file, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(file.st_mode))
      ::unlinkat(::dirfd(listing.get()), entry->d_name, 0);
  }
}

} // namespace

TempFile::TempFile(int dirFd, const std::string& prefix, mode_t mode) : dirFd_(dirFd) {
  removeStale(dirFd, prefix);
  std::random_device seed;
  const unsigned long pid = static_cast<unsigned long>(::getpid());
  for (int attempt = 0; !fd_ && attempt < 100; ++attempt) {
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, "%lu-%08x%08x", pid, seed(), seed());
    std::string path = prefix + suffix;
    fd_.reset(::openat(dirFd_, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (fd_)
      path_ = std::move(path);
    else if (errno != EEXIST)
      break;
  }
}

bool TempFile::close() noexcept {
  return closeNow(fd_);
}

bool TempFile::replace(const std::string& target) noexcept {
  if (::renameat(dirFd_, path_.c_str(), dirFd_, target.c_str()) != 0) return false;
  path_.clear();
  return true;
}

bool TempFile::link(const std::string& target) noexcept {
  const bool linked = ::linkat(dirFd_, path_.c_str(), dirFd_, target.c_str(), 0) == 0;
  const int error = errno;
  discard();
  errno = error;
  return linked;
}

void TempFile::discard() noexcept {
  fd_.reset();
  if (path_.empty()) return;
  ::unlinkat(dirFd_, path_.c_str(), 0);
  path_.clear();
}

} // namespace vk::posix
