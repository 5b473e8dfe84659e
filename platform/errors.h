// The run-time's error regime.
//
// A failure is a RuntimeError carrying the run-time's error number and text.
// With no error mode set it simply propagates to the caller. Handler mode is a
// try/catch in the procedure. Resume-next mode is an ErrorMode whose
// statements swallow RuntimeError. The end of the program is ProgramEnd, which
// is deliberately not a RuntimeError, so no resume-next ever swallows it.
#pragma once

#include "platform/text.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vk {

// The run-time's error numbers and their Turkish texts, as the run-time shows
// them. Every number the program raises on either platform has its row here.
namespace err {

struct Row {
  std::int32_t number;
  std::u16string_view text;
};

inline constexpr Row kRows[] = {
    {5, u"Geçersiz yordam çağrısı veya bağımsız değişken"},
    {6, u"Taşma"},
    {7, u"Yetersiz bellek"},
    {13, u"Tür uyuşmazlığı"},
    {52, u"Hatalı dosya adı veya numarası"},
    {53, u"Dosya bulunamadı"},
    {54, u"Hatalı dosya modu"},
    {57, u"Aygıt G/Ç hatası"},
    {58, u"Dosya zaten var"},
    {61, u"Disk dolu"},
    {67, u"Çok fazla dosya"},
    {68, u"Aygıt kullanılamıyor"},
    {70, u"İzin reddedildi"},
    {71, u"Disk hazır değil"},
    {74, u"Farklı sürücü ile yeniden adlandırılamaz"},
    {75, u"Yol/Dosya erişim hatası"},
    {76, u"Yol bulunamadı"},
    {91, u"Nesne değişkeni veya With blok değişkeni ayarlanmamış"},
    {429, u"ActiveX bileşeni nesne oluşturamıyor"},
    {430, u"Sınıf Otomasyonu veya beklenen arabirimi desteklemiyor"},
    {438, u"Nesne bu özelliği veya yöntemi desteklemiyor"},
    {446, u"Nesne adlandırılmış bağımsız değişkenleri desteklemiyor"},
    {449, u"Bağımsız değişken isteğe bağlı değil"},
    {450, u"Bağımsız değişken sayısı yanlış veya özellik ataması geçersiz"},
};

// What the run-time shows for a number it has no text for.
inline constexpr std::u16string_view kUnknownText = u"Uygulama tanımlı veya nesne tanımlı hata";

constexpr bool hasRow(std::int32_t number) noexcept {
  for (const Row& row : kRows)
    if (row.number == number) return true;
  return false;
}

// A run-time error number that has its row in kRows. Naming a number without
// a row does not compile, so a number raised by name never shows the
// run-time's text for unknown numbers.
class Code {
public:
  explicit consteval Code(std::int32_t number) : number_(number) {
    if (!hasRow(number)) throw "err::kRows has no row for this number";
  }
  constexpr operator std::int32_t() const noexcept { return number_; }

private:
  std::int32_t number_;
};

inline constexpr Code InvalidCall{5};
inline constexpr Code Overflow{6};
inline constexpr Code OutOfMemory{7};
inline constexpr Code TypeMismatch{13};
inline constexpr Code BadFileName{52};
inline constexpr Code FileNotFound{53};
inline constexpr Code BadFileMode{54};
inline constexpr Code DeviceIo{57};
inline constexpr Code FileAlreadyExists{58};
inline constexpr Code DiskFull{61};
inline constexpr Code TooManyFiles{67};
inline constexpr Code DeviceUnavailable{68};
inline constexpr Code PermissionDenied{70};
inline constexpr Code DiskNotReady{71};
inline constexpr Code RenameAcrossDisks{74};
inline constexpr Code PathFileAccess{75};
inline constexpr Code PathNotFound{76};
inline constexpr Code ObjectNotSet{91};
inline constexpr Code CannotCreateObject{429};
inline constexpr Code NoAutomationInterface{430};
inline constexpr Code NoSuchMember{438};
inline constexpr Code NoNamedArguments{446};
inline constexpr Code ArgumentNotOptional{449};
inline constexpr Code WrongArgumentCount{450};

// Win32 error codes (winerror.h) the run-time has a number of its own for:
// the Windows layer meets them from GetLastError, the stand-in from the
// errno of the same failure. The others become the caller's fallback.
namespace win32code {
inline constexpr std::uint32_t FileNotFound = 2;         // ERROR_FILE_NOT_FOUND
inline constexpr std::uint32_t PathNotFound = 3;         // ERROR_PATH_NOT_FOUND
inline constexpr std::uint32_t TooManyOpenFiles = 4;     // ERROR_TOO_MANY_OPEN_FILES
inline constexpr std::uint32_t AccessDenied = 5;         // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t InvalidHandle = 6;        // ERROR_INVALID_HANDLE
inline constexpr std::uint32_t NotEnoughMemory = 8;      // ERROR_NOT_ENOUGH_MEMORY
inline constexpr std::uint32_t OutOfMemory = 14;         // ERROR_OUTOFMEMORY
inline constexpr std::uint32_t InvalidDrive = 15;        // ERROR_INVALID_DRIVE
inline constexpr std::uint32_t NotSameDevice = 17;       // ERROR_NOT_SAME_DEVICE
inline constexpr std::uint32_t WriteProtect = 19;        // ERROR_WRITE_PROTECT
inline constexpr std::uint32_t NotReady = 21;            // ERROR_NOT_READY
inline constexpr std::uint32_t SharingViolation = 32;    // ERROR_SHARING_VIOLATION
inline constexpr std::uint32_t LockViolation = 33;       // ERROR_LOCK_VIOLATION
inline constexpr std::uint32_t HandleDiskFull = 39;      // ERROR_HANDLE_DISK_FULL
inline constexpr std::uint32_t BadNetPath = 53;          // ERROR_BAD_NETPATH
inline constexpr std::uint32_t BadNetName = 67;          // ERROR_BAD_NET_NAME
inline constexpr std::uint32_t FileExists = 80;          // ERROR_FILE_EXISTS
inline constexpr std::uint32_t InvalidParameter = 87;    // ERROR_INVALID_PARAMETER
inline constexpr std::uint32_t DiskFull = 112;           // ERROR_DISK_FULL
inline constexpr std::uint32_t InvalidName = 123;        // ERROR_INVALID_NAME
inline constexpr std::uint32_t DirNotEmpty = 145;        // ERROR_DIR_NOT_EMPTY
inline constexpr std::uint32_t BadPathname = 161;        // ERROR_BAD_PATHNAME
inline constexpr std::uint32_t AlreadyExists = 183;      // ERROR_ALREADY_EXISTS
inline constexpr std::uint32_t BadExeFormat = 193;       // ERROR_BAD_EXE_FORMAT
inline constexpr std::uint32_t FilenameExcedRange = 206; // ERROR_FILENAME_EXCED_RANGE
} // namespace win32code

// The run-time's number for a Win32 code; nullopt for a code it has none for.
std::optional<Code> fromWin32(std::uint32_t code) noexcept;

} // namespace err

// Windows' HRESULTs that the program raises or expects, as the run-time
// reports a failed automation call: a negative Long. Written from the
// 0x8xxxxxxx form Windows' headers use; the names follow Windows' own,
// which are macros on Windows and so cannot be used here as they are.
namespace hr {

constexpr std::int32_t make(std::uint32_t bits) noexcept {
  return static_cast<std::int32_t>(bits);
}

inline constexpr std::int32_t Pending = make(0x8000000A);       // E_PENDING
inline constexpr std::int32_t Unexpected = make(0x8000FFFF);    // E_UNEXPECTED
inline constexpr std::int32_t NotImpl = make(0x80004001);       // E_NOTIMPL
inline constexpr std::int32_t Fail = make(0x80004005);          // E_FAIL
inline constexpr std::int32_t DispException = make(0x80020009); // DISP_E_EXCEPTION

// Win32 codes as HRESULTs (HRESULT_FROM_WIN32), and back.
constexpr std::int32_t fromWin32(std::uint32_t code) noexcept {
  return make(0x80070000u | (code & 0xFFFFu));
}
constexpr std::uint32_t win32Code(std::int32_t number) noexcept {
  return static_cast<std::uint32_t>(number) & 0xFFFFu;
}
// WinINet's own numbers lie from 12001 on, below 13000; the request object
// answers with one as the status of an asynchronous request that failed.
constexpr bool isInternetCode(std::int32_t code) noexcept {
  return code > 12000 && code < 13000;
}
constexpr bool isInternetError(std::int32_t number) noexcept {
  return (static_cast<std::uint32_t>(number) & 0xFFFF0000u) == 0x80070000u &&
         isInternetCode(static_cast<std::int32_t>(win32Code(number)));
}
inline constexpr std::int32_t FileNotFound = make(0x80070002); // ERROR_FILE_NOT_FOUND
inline constexpr std::int32_t PathNotFound = make(0x80070003); // ERROR_PATH_NOT_FOUND
inline constexpr std::int32_t AccessDenied = make(0x80070005); // E_ACCESSDENIED
inline constexpr std::int32_t OutOfMemory = make(0x8007000E);  // E_OUTOFMEMORY
inline constexpr std::int32_t InvalidArg = make(0x80070057);   // E_INVALIDARG
inline constexpr std::int32_t DiskFull = make(0x80070070);     // ERROR_DISK_FULL

// WinINet's ERROR_INTERNET_* and ERROR_HTTP_* codes as XMLHTTP reports them.
inline constexpr std::int32_t InternetTimeout = make(0x80072EE2);
inline constexpr std::int32_t InternetUnrecognizedScheme = make(0x80072EE6);
inline constexpr std::int32_t InternetNameNotResolved = make(0x80072EE7);
inline constexpr std::int32_t InternetCannotConnect = make(0x80072EFD);
inline constexpr std::int32_t InternetConnectionAborted = make(0x80072EFE);
inline constexpr std::int32_t InternetConnectionReset = make(0x80072EFF);
inline constexpr std::int32_t InternetSecCertDateInvalid = make(0x80072F05);
inline constexpr std::int32_t InternetSecCertCnInvalid = make(0x80072F06);
inline constexpr std::int32_t InternetHttpsToHttpOnRedir = make(0x80072F08);
inline constexpr std::int32_t InternetInvalidCa = make(0x80072F0D);
inline constexpr std::int32_t InternetSecCertErrors = make(0x80072F17);
inline constexpr std::int32_t HttpInvalidServerResponse = make(0x80072F78);
inline constexpr std::int32_t HttpRedirectFailed = make(0x80072F7C);
inline constexpr std::int32_t InternetSecurityChannelError = make(0x80072F7D);
inline constexpr std::int32_t InternetSecCertRevoked = make(0x80072F8A);

// URL monikers'.
inline constexpr std::int32_t InetInvalidUrl = make(0x800C0002);       // INET_E_INVALID_URL
inline constexpr std::int32_t InetResourceNotFound = make(0x800C0005); // INET_E_RESOURCE_NOT_FOUND

} // namespace hr

class RuntimeError : public std::exception {
public:
  RuntimeError(std::int32_t number, Text description);
  // With the run-time's own text for the number.
  explicit RuntimeError(err::Code number);

  std::int32_t number() const noexcept { return number_; }
  const Text& description() const noexcept { return description_; }
  const char* what() const noexcept override { return what_.c_str(); }

private:
  std::int32_t number_;
  Text description_;
  std::string what_;
};

// The run-time's Turkish text for a number: its row's, else kUnknownText.
Text describeError(std::int32_t number);

// Thrown by vbaEnd: unwinds every procedure and closes the window.
struct ProgramEnd {};

// One procedure's error mode. Statements run through it; in resume-next mode
// a failing statement is abandoned and the next one runs. error() keeps the
// first abandoned statement's error (the cause, where later ones follow from
// it) until takeError(), for callers that report what failed.
class ErrorMode {
public:
  void onErrorResumeNext() noexcept { resumeNext_ = true; }
  bool resumeNext() const noexcept { return resumeNext_; }

  // Runs one statement; returns false when it failed and was abandoned.
  template <class F> bool operator()(F&& statement) {
    if (!resumeNext_) {
      std::forward<F>(statement)();
      return true;
    }
    try {
      std::forward<F>(statement)();
      return true;
    } catch (const RuntimeError& e) {
      if (!error_) error_ = e;
      return false;
    }
  }

  const std::optional<RuntimeError>& error() const noexcept { return error_; }
  std::optional<RuntimeError> takeError() noexcept { return std::exchange(error_, {}); }

private:
  bool resumeNext_ = false;
  std::optional<RuntimeError> error_;
};

} // namespace vk
