#include "platform/posix/host/error_number.h"

#include <cerrno>

namespace vk::posix {

namespace {

struct Case {
  int error;
  std::uint32_t code;
};

// What Windows reports for the same failures.
constexpr Case kCases[] = {
    {ENOENT, err::win32code::PathNotFound},
    {ENOTDIR, err::win32code::PathNotFound},
    {EACCES, err::win32code::AccessDenied},
    {EPERM, err::win32code::AccessDenied},
    {EISDIR, err::win32code::AccessDenied}, // a folder opened as a file
    {EROFS, err::win32code::WriteProtect},
    {ETXTBSY, err::win32code::SharingViolation},
    {EBUSY, err::win32code::SharingViolation},
    {EEXIST, err::win32code::FileExists},
    {ENOTEMPTY, err::win32code::DirNotEmpty},
    {ENOSPC, err::win32code::DiskFull},
    {EDQUOT, err::win32code::DiskFull}, // over quota NTFS reports a full disk
    {ENAMETOOLONG, err::win32code::FilenameExcedRange},
    {EMFILE, err::win32code::TooManyOpenFiles},
    {ENFILE, err::win32code::TooManyOpenFiles},
    {ENOMEM, err::win32code::NotEnoughMemory},
    {EXDEV, err::win32code::NotSameDevice},
};

} // namespace

std::optional<std::uint32_t> win32Code(int error) {
  for (const Case& c : kCases)
    if (c.error == error) return c.code;
  return std::nullopt;
}

std::optional<err::Code> runtimeNumber(int error) {
  const auto code = win32Code(error);
  return code ? err::fromWin32(*code) : std::nullopt;
}

std::int32_t hresultOf(int error, std::int32_t fallback) {
  const auto code = win32Code(error);
  return code ? hr::fromWin32(*code) : fallback;
}

} // namespace vk::posix
