// The run-time services on the Win32 API.
#pragma once

#include "platform/runtime.h"
#include "platform/win32/handles.h"

#include <functional>

namespace vk::win32 {

class Win32Runtime final : public Runtime {
public:
  explicit Win32Runtime(Text applicationTitle) : title_(std::move(applicationTitle)) {}

  Text rtcDir(const Text& pathname, int attributes) override;
  Text rtcDir() override;
  void rtcMakeDir(const Text& path) override;
  void rtcFileCopy(const Text& source, const Text& destination) override;
  double rtcShell(const Text& commandLine, int windowStyle) override;
  int rtcMsgBox(const Text& prompt, int buttons, const std::optional<Text>& title) override;
  [[noreturn]] void vbaEnd() override;
  void rtcDoEvents() override;
  ObjectRef rtcCreateObject2(const Text& progId) override;
  ObjectRef createObject(const Text& classId, const Text& interfaceId) override;
  Text appPath() override;

  // Message boxes are owned by the setup window while it exists.
  void setOwner(HWND owner) noexcept { owner_ = owner; }
  HWND owner() const noexcept { return owner_; }
  // DoEvents' turn is the window's while it exists; without one, the
  // thread's messages are dispatched as they come.
  void setEventPump(std::function<void()> pump) { pump_ = std::move(pump); }

private:
  // The open listing of rtcDir: its find handle and mask.
  Text nextMatch();
  unique_find listing_;
  WIN32_FIND_DATAW found_{};
  bool pending_ = false; // found_ holds an entry not yet tested
  int mask_ = 0;
  bool started_ = false;

  Text title_;
  HWND owner_ = nullptr;
  std::function<void()> pump_;
};

// The longest one turn of DoEvents sleeps when no message comes.
inline constexpr DWORD kDoEventsWaitMs = 50;

// Whether a found entry passes an rtcDir attribute mask.
bool matchesMask(DWORD attributes, int mask);

} // namespace vk::win32
