// Fetches one file from a web address and stores it on disk.
#include "form1/Form1.h"
#include "install/install.h"

#include <algorithm>
#include <chrono>

namespace vk {

namespace {

constexpr char16_t kDownloading[] = u"Chrome sürücüsü indiriliyor ...";

Text decimal(std::uint64_t n) {
  return fromUtf8(std::to_string(n));
}

// The unit a size is written in, and the size in it: bytes and kilobytes
// whole, megabytes and gigabytes with one decimal; a size that rounds up
// to 1024 of a unit is written in the next.
struct Unit {
  std::uint64_t bytes;
  const char16_t* name;
  bool tenths;
};

// The size in the unit, rounded to what is written.
std::uint64_t rounded(std::uint64_t n, const Unit& u) {
  const std::uint64_t scale = u.tenths ? 10 : 1;
  return n / u.bytes * scale + (n % u.bytes * scale + u.bytes / 2) / u.bytes;
}

Text amount(std::uint64_t n, const Unit& u) {
  const std::uint64_t r = rounded(n, u);
  return u.tenths ? decimal(r / 10) + u"," + decimal(r % 10) : decimal(r);
}

Unit unitFor(std::uint64_t n) {
  constexpr Unit kUnits[] = {
      {1, u" bayt", false}, {1u << 10, u" KB", false}, {1u << 20, u" MB", true}};
  for (const Unit& u : kUnits)
    if (rounded(n, u) < (u.tenths ? 10240u : 1024u)) return u;
  return {1u << 30, u" GB", true};
}

std::optional<std::uint64_t> lengthOf(const Text& text) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of(u"0123456789") != Text::npos)
    return std::nullopt;
  return std::stoull(toUtf8(text));
}

} // namespace

Text sizeText(std::uint64_t bytes) {
  const Unit u = unitFor(bytes);
  return amount(bytes, u) + u.name;
}

Text progressText(const ResponseSize& size) {
  if (size.announced && size.received && *size.announced > 0) {
    const Unit u = unitFor(*size.announced);
    const std::uint64_t received = std::min(*size.received, *size.announced);
    return amount(received, u) + u" / " + sizeText(*size.announced) + u" (%" +
           decimal(received * 100 / *size.announced) + u")";
  }
  if (size.announced) return sizeText(*size.announced);
  if (size.received) return sizeText(*size.received);
  return Text();
}

ResponseSize responseSize(Object& request) {
  ResponseSize size;
  try {
    size.announced = lengthOf(request.call(u"getResponseHeader", {u"Content-Length"}).toText());
  } catch (const RuntimeError&) {
    // the headers are not in yet
  }
  try {
    size.received = request.get(u"responseBody").toBytes().size();
  } catch (const RuntimeError&) {
    // nothing of the body to be had yet
  }
  return size;
}

std::optional<Variant> sendAndWait(Runtime& rt, Object& request, const WaitHooks& hooks) {
  request.call(u"Send", {});
  const auto start = std::chrono::steady_clock::now();
  int shown = 0;
  for (std::int32_t state; (state = request.get(u"readyState").toInt32()) != 4;) {
    if (state == 3 && hooks.keep && !hooks.keep()) return std::nullopt;
    rt.rtcDoEvents();
    const auto waited =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
            .count();
    if (hooks.eachSecond && waited > shown) {
      shown = static_cast<int>(waited);
      hooks.eachSecond(shown);
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
      WaitHooks hooks;
      hooks.eachSecond = [&](int seconds) {
        const Text progress = progressText(responseSize(*request));
        wait.show(Text(kDownloading) + (progress.empty() ? Text() : u" " + progress + u",") + u" " +
                  vbaStrI4(seconds) + u" sn");
      };
      status = *sendAndWait(rt_, *request, hooks);
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
