#include "platform/posix/host/temp_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace vk::posix {

TempFile::TempFile(int dirFd, const std::string& prefix, mode_t mode) : dirFd_(dirFd) {
  std::random_device seed;
  for (int attempt = 0; !fd_ && attempt < 100; ++attempt) {
    char suffix[20];
    std::snprintf(suffix, sizeof suffix, "%08x%08x", seed(), seed());
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
