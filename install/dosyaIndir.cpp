// Fetches one file from a web address and stores it on disk.
#include "form1/Form1.h"
#include "install/install.h"

#include <chrono>

namespace vk {

namespace {

constexpr char16_t kDownloading[] = u"Chrome sürücüsü indiriliyor ...";

Text decimal(std::uint64_t n) {
  return fromUtf8(std::to_string(n));
}

// What the server announced as the archive's size, once its headers are
// in; "" before, or when it announced none.
Text announcedSize(Object& request) {
  try {
    const Text length = request.call(u"getResponseHeader", {u"Content-Length"}).toText();
    if (length.empty() || length.size() > 18 ||
        length.find_first_not_of(u"0123456789") != Text::npos)
      return Text();
    return sizeText(std::stoull(toUtf8(length)));
  } catch (const RuntimeError&) {
    return Text(); // the headers are not in yet
  }
}

} // namespace

Text sizeText(std::uint64_t bytes) {
  if (bytes < 1024) return decimal(bytes) + u" bayt";
  if (const std::uint64_t kb = bytes / 1024 + (bytes % 1024 >= 512); kb < 1024)
    return decimal(kb) + u" KB";
  // Tenths of a unit, rounded; a size that rounds up to 1024 MB is 1,0 GB.
  const auto tenths = [&](std::uint64_t unit) {
    return bytes / unit * 10 + (bytes % unit * 10 + unit / 2) / unit;
  };
  std::uint64_t t = tenths(1u << 20);
  const char16_t* name = u" MB";
  if (t >= 10240) {
    t = tenths(1u << 30);
    name = u" GB";
  }
  return decimal(t / 10) + u"," + decimal(t % 10) + name;
}

Variant sendAndWait(Runtime& rt, Object& request, const std::function<void(int)>& eachSecond) {
  request.call(u"Send", {});
  const auto start = std::chrono::steady_clock::now();
  int shown = 0;
  while (request.get(u"readyState").toInt32() != 4) {
    rt.rtcDoEvents();
    const auto waited =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
            .count();
    if (eachSecond && waited > shown) {
      shown = static_cast<int>(waited);
      eachSecond(shown);
    }
  }
  const Variant status = request.get(u"Status");
  // Asked asynchronously, the request object completes a request that
  // failed with WinINet's own number as its status.
  if (status.isNumber() && hr::isInternetCode(status.toInt32())) {
    const std::int32_t number = hr::fromWin32(static_cast<std::uint32_t>(status.toInt32()));
    throw RuntimeError(number, describeError(number));
  }
  return status;
}

void Form1::dosyaIndir(Text& address, Text& path) {
  ObjectRef request = rt_.rtcCreateObject2(u"MSXML2.XMLHTTP");
  // Asynchronous, so the window answers while the archive comes.
  deref(request).call(u"Open", {u"GET", address, true});
  // From here on every failure is reported in one box and the call returns.
  ObjectRef stream;
  try {
    Variant status;
    {
      WaitText wait(w_, kDownloading);
      Text size;
      status = sendAndWait(rt_, *request, [&](int seconds) {
        if (size.empty()) size = announcedSize(*request);
        wait.show(Text(kDownloading) + (size.empty() ? Text() : u" " + size + u",") + u" " +
                  vbaStrI4(seconds) + u" sn");
      });
    }
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
