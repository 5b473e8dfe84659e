#include "platform/posix/host/files.h"

#include <cerrno>
#include <cstdint>
#include <fstream>
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

std::string parentFolder(const std::string& hostPath) {
  const auto slash = hostPath.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return hostPath.substr(0, slash);
}

} // namespace vk::posix
