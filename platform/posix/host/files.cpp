#include "platform/posix/host/files.h"

#include "platform/posix/host/stop_signals.h"
#include "platform/posix/host/unique.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

bool copyContents(int from, int to) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    endIfStopRequested();
    const ssize_t n = ::read(from, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0;
    if (!writeAll(to, buffer.data(), static_cast<std::size_t>(n))) return false;
  }
}

namespace {

// Reads an opened file to its end; nullopt past cap bytes.
std::optional<std::string> readToEnd(int fd, const struct stat& st, std::size_t cap) {
  // Read straight into the text, in one piece when the size is known: a
  // hive file is megabytes. Files of /proc say 0 and are read to their end.
  std::string text(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 4096, '\0');
  std::size_t used = 0;
  for (;;) {
    if (used > cap) return std::nullopt;
    if (used == text.size()) text.resize(text.size() * 2);
    const ssize_t n = ::read(fd, text.data() + used, text.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  text.resize(used);
  return text;
}

} // namespace

std::optional<std::string> readHostFile(const std::string& path) {
  const unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
  return readToEnd(fd.get(), st, SIZE_MAX);
}

std::optional<std::string> readMachineFile(const std::string& path, std::size_t cap) {
  const unique_fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uint64_t>(st.st_size) > cap)
    return std::nullopt;
  return readToEnd(fd.get(), st, cap);
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

bool folderWritable(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return false;
  if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) return false;
  return ::access(folder.c_str(), W_OK) == 0;
}

bool folderWritable(int folderFd) {
  struct stat st {};
  if (::fstat(folderFd, &st) != 0) return false;
  if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) return false;
  return ::faccessat(folderFd, ".", W_OK, 0) == 0;
}

std::string parentFolder(const std::string& hostPath) {
  const auto slash = hostPath.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return hostPath.substr(0, slash);
}

} // namespace vk::posix
