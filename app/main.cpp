// VorlanKur: creates the setup window and runs its event loop.
#include "form1/Form1.h"
#include "platform/platform.h"

namespace {

constexpr char16_t kAlreadyRunning[] =
    u"VorlanKur zaten çalışıyor ! Lütfen açık olan kurulum penceresini kullanınız.";

int runSetup(vk::Platform& platform) {
  vk::Runtime& rt = platform.runtime();
  try {
    // A double click starts two: the second would race the first over the
    // same folders and files.
    if (!platform.claimOnlyCopy()) {
      rt.rtcMsgBox(kAlreadyRunning, vk::vbInformation, vk::kMessageTitle);
      return 0;
    }
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
