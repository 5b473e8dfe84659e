// The Windows platform: COM on the user-interface thread, the run-time
// services and the native window.
#include "platform/platform.h"

#include "platform/win32/errors_win32.h"
#include "platform/win32/runtime_win32.h"
#include "platform/win32/window_win32.h"

namespace vk {

namespace {

class Win32Platform final : public Platform {
public:
  Win32Platform(HINSTANCE instance, Text title) : instance_(instance), runtime_(std::move(title)) {}

  Runtime& runtime() override { return runtime_; }
  std::unique_ptr<Window> createWindow(const WindowSpec& layout) override {
    return std::make_unique<win32::Win32Window>(instance_, layout, runtime_);
  }
  // The setup mutex, as installers keep one: Windows closes it with the
  // process, however that ends.
  bool claimOnlyCopy() override {
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, L"VorlanKur.Kurulum");
    const DWORD why = ::GetLastError(); // read before anything else can set it
    only_.reset(mutex);
    // A copy started with other rights holds one this user may not open.
    if (!mutex) return why != ERROR_ACCESS_DENIED;
    return why != ERROR_ALREADY_EXISTS;
  }

private:
  HINSTANCE instance_;
  win32::unique_handle only_;
  win32::Win32Runtime runtime_;
};

} // namespace

int startPlatform(int, char**, const ApplicationInfo& info, ApplicationMain main) {
  // The automation objects and the shell want a single-threaded apartment.
  const win32::com_apartment com;
  if (FAILED(com.result())) {
    const Text why =
        u"COM başlatılamadı: " + win32::systemMessage(static_cast<DWORD>(com.result()));
    ::MessageBoxW(nullptr, win32::wide(why), win32::wide(info.title), MB_ICONERROR);
    return 1;
  }
  // Everything COM is released before the apartment goes.
  Win32Platform platform(::GetModuleHandleW(nullptr), info.title);
  return main(platform);
}

} // namespace vk
