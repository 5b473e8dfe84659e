#include "platform/win32/errors_win32.h"

#include "platform/win32/handles.h"

namespace vk::win32 {

namespace {

// Numbers the run-time uses for file and process failures that errors.h has
// no constant for.
constexpr std::int32_t kOutOfMemory = 7;
constexpr std::int32_t kFileAlreadyExists = 58;
constexpr std::int32_t kDiskFull = 61;
constexpr std::int32_t kTooManyFiles = 67;
constexpr std::int32_t kDeviceUnavailable = 68;
constexpr std::int32_t kDiskNotReady = 71;
constexpr std::int32_t kRenameAcrossDisks = 74;
constexpr std::int32_t kOverflow = 6;
constexpr std::int32_t kArgumentNotOptional = 449;
constexpr std::int32_t kNoNamedArguments = 446;

Text describe(std::int32_t number) {
  switch (number) {
  case kOutOfMemory:
    return u"Yetersiz bellek";
  case kOverflow:
    return u"Taşma";
  case kFileAlreadyExists:
    return u"Dosya zaten var";
  case kDiskFull:
    return u"Disk dolu";
  case kTooManyFiles:
    return u"Çok fazla dosya";
  case kDeviceUnavailable:
    return u"Aygıt kullanılamıyor";
  case kDiskNotReady:
    return u"Disk hazır değil";
  case kRenameAcrossDisks:
    return u"Farklı sürücü ile yeniden adlandırılamaz";
  case kArgumentNotOptional:
    return u"Bağımsız değişken isteğe bağlı değil";
  case kNoNamedArguments:
    return u"Nesne adlandırılmış bağımsız değişkenleri desteklemiyor";
  default:
    return describeError(number);
  }
}

} // namespace

std::int32_t runtimeNumber(DWORD code, std::int32_t fallback) {
  switch (code) {
  case ERROR_FILE_NOT_FOUND:
    return err::FileNotFound;
  case ERROR_PATH_NOT_FOUND:
  case ERROR_BAD_NETPATH:
  case ERROR_BAD_NET_NAME:
    return err::PathNotFound;
  case ERROR_TOO_MANY_OPEN_FILES:
    return kTooManyFiles;
  case ERROR_ACCESS_DENIED:
  case ERROR_SHARING_VIOLATION:
  case ERROR_LOCK_VIOLATION:
  case ERROR_WRITE_PROTECT:
    return err::PermissionDenied;
  case ERROR_INVALID_HANDLE:
  case ERROR_INVALID_NAME:
  case ERROR_BAD_PATHNAME:
  case ERROR_FILENAME_EXCED_RANGE:
    return err::BadFileName;
  case ERROR_NOT_ENOUGH_MEMORY:
  case ERROR_OUTOFMEMORY:
    return kOutOfMemory;
  case ERROR_INVALID_DRIVE:
    return kDeviceUnavailable;
  case ERROR_NOT_SAME_DEVICE:
    return kRenameAcrossDisks;
  case ERROR_NOT_READY:
    return kDiskNotReady;
  case ERROR_HANDLE_DISK_FULL:
  case ERROR_DISK_FULL:
    return kDiskFull;
  case ERROR_FILE_EXISTS:
    return kFileAlreadyExists;
  case ERROR_ALREADY_EXISTS:
  case ERROR_DIR_NOT_EMPTY:
    return err::PathFileAccess;
  case ERROR_INVALID_PARAMETER:
  case ERROR_BAD_EXE_FORMAT:
    return err::InvalidCall;
  default:
    return fallback;
  }
}

void throwWin32(DWORD code, std::int32_t fallback) {
  const std::int32_t number = runtimeNumber(code, fallback);
  throw RuntimeError(number, describe(number));
}

void throwLastError(std::int32_t fallback) {
  throwWin32(::GetLastError(), fallback);
}

std::int32_t hresultNumber(HRESULT hr) {
  // The run-time's own numbers travel as FACILITY_CONTROL codes.
  if (HRESULT_FACILITY(hr) == FACILITY_CONTROL) return HRESULT_CODE(hr);
  switch (hr) {
  case DISP_E_UNKNOWNNAME:
  case DISP_E_MEMBERNOTFOUND:
    return err::NoSuchMember;
  case DISP_E_BADPARAMCOUNT:
    return err::WrongArgumentCount;
  case DISP_E_TYPEMISMATCH:
  case DISP_E_BADVARTYPE:
    return err::TypeMismatch;
  case DISP_E_OVERFLOW:
    return kOverflow;
  case DISP_E_PARAMNOTOPTIONAL:
    return kArgumentNotOptional;
  case DISP_E_NONAMEDARGS:
    return kNoNamedArguments;
  case E_OUTOFMEMORY:
    return kOutOfMemory;
  case E_INVALIDARG:
    return err::InvalidCall;
  default:
    return static_cast<std::int32_t>(hr);
  }
}

void throwHresult(HRESULT hr) {
  throwHresult(hr, Text());
}

void throwHresult(HRESULT hr, const Text& description) {
  const std::int32_t number = hresultNumber(hr);
  if (!description.empty()) throw RuntimeError(number, description);
  if (number != static_cast<std::int32_t>(hr)) throw RuntimeError(number, describe(number));
  Text text = systemMessage(static_cast<DWORD>(hr));
  if (text.empty()) text = describeError(number);
  throw RuntimeError(number, text);
}

Text systemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const unique_hlocal owner(buffer);
  if (!buffer) return Text();
  Text text = fromWide(buffer, length);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
    text.pop_back();
  return text;
}

} // namespace vk::win32
