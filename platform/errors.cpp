#include "platform/errors.h"

namespace vk {

Text describeError(std::int32_t number) {
  for (const err::Row& row : err::kRows)
    if (row.number == number) return Text(row.text);
  return Text(err::kUnknownText);
}

namespace {

struct Win32Row {
  std::uint32_t code;
  err::Code number;
};

// How the run-time numbers a failed Windows call, by its Win32 code.
constexpr Win32Row kWin32Rows[] = {
    {err::win32code::FileNotFound, err::FileNotFound},
    {err::win32code::PathNotFound, err::PathNotFound},
    {err::win32code::BadNetPath, err::PathNotFound},
    {err::win32code::BadNetName, err::PathNotFound},
    {err::win32code::TooManyOpenFiles, err::TooManyFiles},
    {err::win32code::AccessDenied, err::PermissionDenied},
    {err::win32code::SharingViolation, err::PermissionDenied},
    {err::win32code::LockViolation, err::PermissionDenied},
    {err::win32code::WriteProtect, err::PermissionDenied},
    {err::win32code::InvalidHandle, err::BadFileName},
    {err::win32code::InvalidName, err::BadFileName},
    {err::win32code::BadPathname, err::BadFileName},
    {err::win32code::FilenameExcedRange, err::BadFileName},
    {err::win32code::NotEnoughMemory, err::OutOfMemory},
    {err::win32code::OutOfMemory, err::OutOfMemory},
    {err::win32code::InvalidDrive, err::DeviceUnavailable},
    {err::win32code::NotSameDevice, err::RenameAcrossDisks},
    {err::win32code::NotReady, err::DiskNotReady},
    {err::win32code::HandleDiskFull, err::DiskFull},
    {err::win32code::DiskFull, err::DiskFull},
    {err::win32code::FileExists, err::FileAlreadyExists},
    {err::win32code::AlreadyExists, err::PathFileAccess},
    {err::win32code::DirNotEmpty, err::PathFileAccess},
    {err::win32code::InvalidParameter, err::InvalidCall},
    {err::win32code::BadExeFormat, err::InvalidCall},
};

} // namespace

std::optional<err::Code> err::fromWin32(std::uint32_t code) noexcept {
  for (const Win32Row& row : kWin32Rows)
    if (row.code == code) return row.number;
  return std::nullopt;
}

RuntimeError::RuntimeError(std::int32_t number, Text description)
    : number_(number), description_(std::move(description)),
      what_(std::to_string(number) + ": " + toUtf8(description_)) {}

RuntimeError::RuntimeError(err::Code number) : RuntimeError(number, describeError(number)) {}

} // namespace vk
