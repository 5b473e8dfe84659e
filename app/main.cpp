// VorlanKur: creates the setup window and runs its event loop.
#include "form1/Form1.h"
#include "platform/platform.h"

namespace {

int runSetup(vk::Platform& platform) {
  vk::Runtime& rt = platform.runtime();
  try {
    auto window = platform.createWindow(vk::ctl::kWindow);
    vk::Form1 form(rt, *window);
    window->run(form);
    return 0; // closed by the close box
  } catch (const vk::ProgramEnd&) {
    return 0;
  } catch (const vk::RuntimeError& e) {
    // Nobody handled it: the run-time's own box, then the end.
    try {
      vk::showRuntimeErrorBox(rt, e);
    } catch (...) {
    }
    return 1;
  }
}

} // namespace

int main(int argc, char** argv) {
  return vk::startPlatform(argc, argv, vk::ApplicationInfo{vk::kApplicationTitle}, runSetup);
}
