// Fetches one file from a web address and stores it on disk.
#include "form1/Form1.h"
#include "install/install.h"

namespace vk {

void Form1::dosyaIndir(Text& address, Text& path) {
  ObjectRef request = rt_.rtcCreateObject2(u"MSXML2.XMLHTTP");
  deref(request).call(u"Open", {u"GET", address, false});
  // From here on every failure is reported in one box and the call returns.
  ObjectRef stream;
  try {
    request->call(u"Send", {});
    const Variant status = request->get(u"Status");
    if (!vbaVarTstEq(status, Variant(std::int16_t{200}))) {
      // Never silent: the archive did not come and the user must know why.
      failedSteps.push_back(u"Sürücü indirme (HTTP durum kodu: " + status.toText() + u")");
      rt_.rtcMsgBox(Text(kSetupFailed) + u"HTTP durum kodu: " + status.toText(), vbInformation,
                    kMessageTitle);
      return;
    }
    stream = rt_.rtcCreateObject2(u"ADODB.Stream");
    deref(stream).call(u"Open", {});
    stream->put(u"Type", std::int16_t{1});
    stream->call(u"Write", {request->get(u"responseBody")});
    stream->put(u"Position", std::int16_t{0});
    stream->call(u"SaveToFile", {path, std::int16_t{2}});
    stream->call(u"Close", {});
  } catch (const RuntimeError& e) {
    failedStep(u"Sürücü indirme", e.number());
    rt_.rtcMsgBox(Text(kSetupFailed) + u"Hata No: " + vbaStrI4(e.number()), vbInformation,
                  kMessageTitle);
  }
}

} // namespace vk
