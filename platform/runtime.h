// The run-time services the logic reaches the platform through. Each
// operation keeps the run-time's name; failures are RuntimeErrors.
#pragma once

#include "platform/automation.h"
#include "platform/text.h"

#include <cstdint>
#include <optional>

namespace vk {

// rtcDir attribute masks.
inline constexpr int vbNormal = 0;
inline constexpr int vbHidden = 2;
inline constexpr int vbSystem = 4;
inline constexpr int vbDirectory = 16;

// rtcMsgBox buttons and results.
inline constexpr int vbOKOnly = 0;
inline constexpr int vbYesNo = 4;
inline constexpr int vbCritical = 16;
inline constexpr int vbQuestion = 32;
inline constexpr int vbExclamation = 48;
inline constexpr int vbInformation = 64;
inline constexpr int vbDefaultButton2 = 256;
inline constexpr int vbOK = 1;
inline constexpr int vbYes = 6;
inline constexpr int vbNo = 7;

// rtcShell window styles.
inline constexpr int vbNormalFocus = 1;
inline constexpr int vbMinimizedFocus = 2;

class Runtime {
public:
  virtual ~Runtime() = default;

  // First entry matching the pattern and mask, "" when none.
  virtual Text rtcDir(const Text& pathname, int attributes) = 0;
  // Next entry of the previous listing, "" when it is exhausted.
  virtual Text rtcDir() = 0;
  virtual void rtcMakeDir(const Text& path) = 0;
  virtual void rtcFileCopy(const Text& source, const Text& destination) = 0;
  // Starts the program and returns its process id without waiting.
  virtual double rtcShell(const Text& commandLine, int windowStyle) = 0;
  // A modal box over the setup window; no title shows the application title.
  virtual int rtcMsgBox(const Text& prompt, int buttons,
                        const std::optional<Text>& title = std::nullopt) = 0;
  // Ends the program: never returns.
  [[noreturn]] virtual void vbaEnd() = 0;
  // Lets the window handle what is waiting for it (painting, input, the
  // close box) and the platform move on what runs beside the program, then
  // returns; waits a little when nothing is waiting, so that a loop around
  // it never spins. Ends the program (ProgramEnd) when the window was
  // closed or a handler it ran ended it.
  virtual void rtcDoEvents() = 0;
  // An automation object by programmatic identifier.
  virtual ObjectRef rtcCreateObject2(const Text& progId) = 0;
  // An automation object by class and interface identifier ("{...}").
  virtual ObjectRef createObject(const Text& classId, const Text& interfaceId) = 0;
  // The folder of the running executable, without trailing "\" unless a root.
  virtual Text appPath() = 0;
};

// The run-time's own error box for an error nobody handled.
void showRuntimeErrorBox(Runtime& rt, const RuntimeError& error);

} // namespace vk
