#include "platform/posix/host/io.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/mman.h>
#include <unistd.h>

namespace vk::posix {

bool writeAll(int fd, const void* data, std::size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, at, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    at += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::optional<std::string> readHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void reserveAndPrefault(Bytes& b, std::size_t size) {
  b.reserve(size);
  if (size < (1u << 20)) return;
#ifdef MADV_POPULATE_WRITE
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto begin = (reinterpret_cast<std::uintptr_t>(b.data()) + page - 1) & ~(page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(b.data()) + size) & ~(page - 1);
  if (end > begin) // older kernels refuse the advice; the faults then come one by one
    (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#endif
}

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
