// The program the platform contract's cases start on Windows:
//
//   contract_child wait              runs for a minute, or until ended
//   contract_child spawn             starts helper.exe beside itself with
//                                    "wait", writes its pid into pid.txt
//                                    there, and ends
//   contract_child cwd FILE          writes its working folder into FILE
//   contract_child apppath FILE      writes what appPath() gives into FILE
//
// FILE is written as UTF-8 beside itself first and then renamed, so a reader
// never sees half of it.
#include "platform/win32/runtime_win32.h"

#include <shellapi.h>

#include <string>

using namespace vk;
using namespace vk::win32;

namespace {

bool record(const std::wstring& file, const Text& text) {
  const std::string utf8 = toUtf8(text);
  const std::wstring part = file + L".part";
  {
    const unique_hfile out(::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!out ||
        !::WriteFile(out.get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr))
      return false;
  }
  return ::MoveFileExW(part.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  const unique_hlocal args(::CommandLineToArgvW(::GetCommandLineW(), &argc));
  const auto argv = static_cast<wchar_t**>(args.get());
  if (!argv || argc < 2) return 2;
  const std::wstring command = argv[1];
  if (command == L"wait") {
    ::Sleep(60 * 1000);
    return 0;
  }
  if (command == L"spawn") {
    std::wstring folder(MAX_PATH, L'\0');
    folder.resize(::GetModuleFileNameW(nullptr, folder.data(), MAX_PATH));
    folder.resize(folder.find_last_of(L'\\') + 1);
    std::wstring line = L"\"" + folder + L"helper.exe\" wait";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started))
      return 1;
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return record(folder + L"pid.txt", fromUtf8(std::to_string(started.dwProcessId))) ? 0 : 1;
  }
  if (argc < 3) return 2;
  if (command == L"cwd") {
    const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(length, L'\0');
    folder.resize(::GetCurrentDirectoryW(length, folder.data()));
    return record(argv[2], fromWide(folder.data(), folder.size())) ? 0 : 1;
  }
  if (command == L"apppath") return record(argv[2], Win32Runtime(u"").appPath()) ? 0 : 1;
  return 2;
}
