#include "platform/posix/host/error_number.h"

#include <cerrno>

namespace vk::posix {

namespace {

struct Case {
  int error;
  err::Code number;
};

// Windows' codes for the same failures, as the Windows layer maps them.
constexpr Case kCases[] = {
    {ENOENT, err::PathNotFound},      // ERROR_PATH_NOT_FOUND
    {ENOTDIR, err::PathNotFound},     // ERROR_PATH_NOT_FOUND
    {EACCES, err::PermissionDenied},  // ERROR_ACCESS_DENIED
    {EPERM, err::PermissionDenied},   // ERROR_ACCESS_DENIED
    {EROFS, err::PermissionDenied},   // ERROR_WRITE_PROTECT
    {EISDIR, err::PermissionDenied},  // ERROR_ACCESS_DENIED for a folder opened as a file
    {ETXTBSY, err::PermissionDenied}, // ERROR_SHARING_VIOLATION
    {EEXIST, err::FileAlreadyExists}, // ERROR_FILE_EXISTS
    {ENOSPC, err::DiskFull},          // ERROR_DISK_FULL
    {EDQUOT, err::DiskFull},          // ERROR_DISK_FULL, over quota
};

} // namespace

std::optional<err::Code> runtimeNumber(int error) {
  for (const Case& c : kCases)
    if (c.error == error) return c.number;
  return std::nullopt;
}

} // namespace vk::posix
