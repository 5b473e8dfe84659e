// The platform contract's cases against the Win32 layer, on Windows or Wine.
// Drive D: is the cases' scratch drive: it is emptied before every case, so
// the program runs only where D:\vk-contract-scratch marks it as such.
// contract_child.exe, built beside this program, is the program the cases
// start.
//
// Prints one line per case, each failure, and "contract: N passed, M failed"
// (cases) last; the exit status is 1 when a case failed.
#include "contract/contract.h"
#include "platform/win32/runtime_win32.h"
#include "platform/win32/window_win32.h"

#include <cstdio>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <utility>

using namespace vk;
using namespace vk::win32;
using namespace vk::contract;

namespace {

const wchar_t kMarker[] = L"vk-contract-scratch";

std::wstring wstr(const Text& text) {
  return std::wstring(text.begin(), text.end());
}

std::wstring folderOfThisProgram() {
  wchar_t self[MAX_PATH] = {};
  const std::wstring path(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
  return path.substr(0, path.find_last_of(L'\\'));
}

// Everything in a folder but the scratch marker, read-only entries included.
void emptyFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW found{};
  const unique_find listing(::FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!listing) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L".." || name == kMarker) continue;
    const std::wstring path = folder + L"\\" + name;
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      emptyFolder(path);
      ::RemoveDirectoryW(path.c_str());
    } else {
      ::DeleteFileW(path.c_str());
    }
  } while (::FindNextFileW(listing.get(), &found));
}

// Answers the next message box of this thread from its own message loop.
struct BoxAnswer {
  UINT_PTR timer = 0;
  int result = 0; // 0: the default button
};
BoxAnswer boxAnswer;

BOOL CALLBACK findBox(HWND hwnd, LPARAM found) {
  wchar_t name[16] = {};
  ::GetClassNameW(hwnd, name, 16);
  if (std::wstring(name) != L"#32770" || !::IsWindowVisible(hwnd)) return TRUE;
  *reinterpret_cast<HWND*>(found) = hwnd;
  return FALSE;
}

// Enter presses the box's default push button.
BOOL CALLBACK findDefault(HWND hwnd, LPARAM id) {
  if ((::GetWindowLongPtrW(hwnd, GWL_STYLE) & 0xF) != BS_DEFPUSHBUTTON) return TRUE;
  *reinterpret_cast<int*>(id) = ::GetDlgCtrlID(hwnd);
  return FALSE;
}

void CALLBACK answerBox(HWND, UINT, UINT_PTR, DWORD) {
  HWND box = nullptr;
  ::EnumThreadWindows(::GetCurrentThreadId(), findBox, reinterpret_cast<LPARAM>(&box));
  if (!box) return;
  ::KillTimer(nullptr, std::exchange(boxAnswer.timer, 0));
  int id = boxAnswer.result;
  if (!id) ::EnumChildWindows(box, findDefault, reinterpret_cast<LPARAM>(&id));
  ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(box, id)));
}

bool runningOnWine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::optional<std::string> readBytes(const std::wstring& path) {
  const unique_hfile in(::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!in) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  DWORD n = 0;
  while (::ReadFile(in.get(), buffer, sizeof buffer, &n, nullptr) && n > 0)
    bytes.append(buffer, n);
  return bytes;
}

std::optional<std::string> waitForBytes(const std::wstring& path) {
  for (int i = 0; i < 200; ++i) {
    if (auto bytes = readBytes(path)) return bytes;
    ::Sleep(50);
  }
  return std::nullopt;
}

class Win32Fixture final : public Fixture {
public:
  Win32Fixture() : child_(folderOfThisProgram() + L"\\contract_child.exe") {}
  ~Win32Fixture() override {
    if (boxAnswer.timer) ::KillTimer(nullptr, std::exchange(boxAnswer.timer, 0));
    if (!previousFolder_.empty()) ::SetCurrentDirectoryW(previousFolder_.c_str());
  }

  Runtime& runtime() override { return runtime_; }
  std::unique_ptr<Window> createWindow(const WindowSpec& layout) override {
    return std::make_unique<Win32Window>(::GetModuleHandleW(nullptr), layout, runtime_);
  }

  void makeDir(const Text& path) override {
    const std::wstring p = wstr(path);
    for (std::size_t cut = p.find(L'\\', 3); cut != std::wstring::npos;
         cut = p.find(L'\\', cut + 1))
      ::CreateDirectoryW(p.substr(0, cut).c_str(), nullptr);
    ::CreateDirectoryW(p.c_str(), nullptr);
  }
  void writeFile(const Text& path, std::string_view content) override {
    makeDir(path.substr(0, path.find_last_of(u'\\')));
    const unique_hfile out(::CreateFileW(wstr(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!out || !::WriteFile(out.get(), content.data(), static_cast<DWORD>(content.size()),
                             &written, nullptr))
      throw std::runtime_error("cannot write " + toUtf8(path));
  }
  std::optional<std::string> readFile(const Text& path) override { return readBytes(wstr(path)); }
  void setReadOnly(const Text& path) override { addAttribute(path, FILE_ATTRIBUTE_READONLY); }
  void setHidden(const Text& path) override { addAttribute(path, FILE_ATTRIBUTE_HIDDEN); }
  void setSystem(const Text& path) override { addAttribute(path, FILE_ATTRIBUTE_SYSTEM); }

  void makeProgram(const Text& path) override {
    makeDir(path.substr(0, path.find_last_of(u'\\')));
    if (!::CopyFileW(child_.c_str(), wstr(path).c_str(), FALSE))
      throw std::runtime_error("cannot place the child program at " + toUtf8(path));
  }
  std::optional<Text> recordedFolder(const Text& record) override {
    const auto bytes = waitForBytes(wstr(record));
    if (!bytes) return std::nullopt;
    return fromUtf8(*bytes);
  }
  void endProgram(double processId) override {
    const unique_handle process(
        ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(processId)));
    if (!process) return;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 10 * 1000);
  }
  void setWorkingFolder(const Text& path) override {
    if (previousFolder_.empty()) {
      wchar_t folder[MAX_PATH] = {};
      previousFolder_.assign(folder, ::GetCurrentDirectoryW(MAX_PATH, folder));
    }
    if (!::SetCurrentDirectoryW(wstr(path).c_str()))
      throw std::runtime_error("cannot change to " + toUtf8(path));
  }
  void answerNextBox(int result) override {
    boxAnswer.result = result;
    if (!boxAnswer.timer) boxAnswer.timer = ::SetTimer(nullptr, 0, 50, answerBox);
  }

  // Runs a copy of the child program from the folder and asks it.
  Text appPathIn(const Text& folder) override {
    std::wstring base = wstr(folder);
    if (base.back() != L'\\') base += L'\\';
    const std::wstring program = base + L"vk-apppath.exe";
    const std::wstring record = base + L"vk-apppath.txt";
    if (!::CopyFileW(child_.c_str(), program.c_str(), FALSE))
      throw std::runtime_error("cannot place the child program in " + toUtf8(folder));
    std::wstring line = L"\"" + program + L"\" apppath \"" + record + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info))
      throw std::runtime_error("cannot start the child program");
    const unique_handle process(info.hProcess);
    const unique_handle thread(info.hThread);
    ::WaitForSingleObject(process.get(), 30 * 1000);
    const auto bytes = readBytes(record);
    ::DeleteFileW(record.c_str());
    ::DeleteFileW(program.c_str());
    return bytes ? fromUtf8(*bytes) : Text(u"(nothing recorded)");
  }

  bool onWine() const override { return runningOnWine(); }
  bool thirtyTwoBitOn64BitWindows() override {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
  }
  // The test's web server and a dead address, from the environment.
  Text webServer() override { return fromEnvironment(L"VORLANKUR_CONTRACT_WEB"); }
  Text deadAddress() override { return fromEnvironment(L"VORLANKUR_CONTRACT_DEAD"); }

private:
  static Text fromEnvironment(const wchar_t* name) {
    wchar_t value[512] = {};
    const DWORD n = ::GetEnvironmentVariableW(name, value, 512);
    if (n == 0 || n >= 512)
      throw std::runtime_error("no " + toUtf8(Text(name, name + std::wcslen(name))) +
                               " in the environment");
    return Text(value, value + n);
  }
  static void addAttribute(const Text& path, DWORD attribute) {
    const DWORD now = ::GetFileAttributesW(wstr(path).c_str());
    if (now == INVALID_FILE_ATTRIBUTES ||
        !::SetFileAttributesW(wstr(path).c_str(), (now & ~FILE_ATTRIBUTE_NORMAL) | attribute))
      throw std::runtime_error("cannot set the attributes of " + toUtf8(path));
  }

  std::wstring child_;
  Win32Runtime runtime_{u"Sınama"};
  std::wstring previousFolder_;
};

} // namespace

int main() {
  const std::wstring scratch = L"D:";
  if (::GetFileAttributesW((scratch + L"\\" + kMarker).c_str()) == INVALID_FILE_ATTRIBUTES) {
    std::printf("contract: D:\\vk-contract-scratch is missing; D: is no scratch drive\n");
    std::printf("contract: 0 passed, 1 failed\n");
    return 1;
  }
  // Message boxes and the window want COM's apartment, as the program has it.
  const com_apartment com;
  int passed = 0;
  int failed = 0;
  for (const Case& c : cases()) {
    emptyFolder(scratch);
    Check check(runningOnWine());
    {
      Win32Fixture fixture;
      runCase(c, fixture, check);
    }
    const bool ok = check.failures().empty() && check.passed() > 0;
    (ok ? passed : failed)++;
    std::printf("  %-5s %s\n", ok ? "ok" : "FAIL", c.name);
    for (const std::string& gap : check.gapsSeen())
      std::printf("        Wine's known gap: %s\n", gap.c_str());
    for (const std::string& f : check.failures())
      std::printf("        %s\n", f.c_str());
    std::fflush(stdout);
  }
  emptyFolder(scratch);
  std::printf("contract: %d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
