// What a platform gives the program: its run-time services and its window.
#pragma once

#include "platform/runtime.h"
#include "platform/window.h"

#include <memory>

namespace vk {

struct ApplicationInfo {
  Text title; // shown by message boxes given no title
};

class Platform {
public:
  virtual ~Platform() = default;
  virtual Runtime& runtime() = 0;
  // The window is created hidden; Window::run shows it after its load event.
  virtual std::unique_ptr<Window> createWindow(const WindowSpec& layout) = 0;
  // Claims the one setup running on this machine for the rest of the
  // program's life; false when another copy holds it. A copy that died
  // leaves nothing behind that would keep the next one out.
  virtual bool claimOnlyCopy() = 0;
};

using ApplicationMain = int (*)(Platform& platform);

// Sets the platform up, runs the application and returns the exit status.
// A platform that cannot start says why in one sentence and fails.
int startPlatform(int argc, char** argv, const ApplicationInfo& info, ApplicationMain main);

} // namespace vk
