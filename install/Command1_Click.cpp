#include "form1/Form1.h"

namespace vk {

// The installation run is not built yet: say so plainly and change nothing.
void Form1::Command1_Click() {
  rt_.rtcMsgBox(u"Kurulum adımı henüz hazır değil; hiçbir değişiklik yapılmadı.", vbInformation,
                kMessageTitle);
}

} // namespace vk
