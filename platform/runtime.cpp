#include "platform/runtime.h"

namespace vk {

void showRuntimeErrorBox(Runtime& rt, const RuntimeError& error) {
  rt.rtcMsgBox(u"Çalışma zamanı hatası '" + vbaStrI4(error.number()) + u"':\r\n\r\n" +
                   error.description(),
               vbCritical, u"VorlanKur");
}

} // namespace vk
