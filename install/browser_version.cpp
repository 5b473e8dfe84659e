#include "form1/controls.h"
#include "install/install.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace vk {

const std::array<DriverRow, 15> kDriverTable = {{
    {u"104", u"https://chromedriver.storage.googleapis.com/104.0.5112.79/chromedriver_win32.zip"},
    {u"103", u"https://chromedriver.storage.googleapis.com/103.0.5060.134/chromedriver_win32.zip"},
    {u"102", u"https://chromedriver.storage.googleapis.com/102.0.5005.27/chromedriver_win32.zip"},
    {u"101", u"https://chromedriver.storage.googleapis.com/101.0.4951.41/chromedriver_win32.zip"},
    {u"100", u"https://chromedriver.storage.googleapis.com/100.0.4896.60/chromedriver_win32.zip"},
    {u"99.", u"https://chromedriver.storage.googleapis.com/99.0.4844.51/chromedriver_win32.zip"},
    {u"98.", u"https://chromedriver.storage.googleapis.com/98.0.4758.102/chromedriver_win32.zip"},
    {u"97.", u"https://chromedriver.storage.googleapis.com/97.0.4692.71/chromedriver_win32.zip"},
    {u"96.", u"https://chromedriver.storage.googleapis.com/96.0.4664.45/chromedriver_win32.zip"},
    {u"95.", u"https://chromedriver.storage.googleapis.com/95.0.4638.69/chromedriver_win32.zip"},
    {u"94.", u"https://chromedriver.storage.googleapis.com/94.0.4606.113/chromedriver_win32.zip"},
    {u"93.", u"https://chromedriver.storage.googleapis.com/93.0.4577.63/chromedriver_win32.zip"},
    {u"92.", u"https://chromedriver.storage.googleapis.com/92.0.4515.107/chromedriver_win32.zip"},
    {u"91.", u"https://chromedriver.storage.googleapis.com/91.0.4472.101/chromedriver_win32.zip"},
    {u"90.", u"https://chromedriver.storage.googleapis.com/90.0.4430.24/chromedriver_win32.zip"},
}};

namespace {
// Where Chrome's version is: BLBeacon, which Chrome writes when it runs for
// this user; else where Google's updater records the installed version, for
// the whole machine (for a 32-bit program on 64-bit Windows Windows redirects
// that key to WOW6432Node; a 64-bit build asks there by name), then for the
// user. Another account's Chrome, or one never started, is found so.
constexpr const char16_t* kVersionValues[] = {
    u"HKEY_CURRENT_USER\\Software\\Google\\Chrome\\BLBeacon\\version",
    u"HKEY_LOCAL_MACHINE\\Software\\Google\\Update\\Clients\\"
    u"{8A69D345-D564-463c-AFF1-A69D9E530F96}\\pv",
    u"HKEY_LOCAL_MACHINE\\Software\\WOW6432Node\\Google\\Update\\Clients\\"
    u"{8A69D345-D564-463c-AFF1-A69D9E530F96}\\pv",
    u"HKEY_CURRENT_USER\\Software\\Google\\Update\\Clients\\"
    u"{8A69D345-D564-463c-AFF1-A69D9E530F96}\\pv",
};
constexpr char16_t kNotInstalled[] = u" Chrome yüklü değil ! Öncelikle Chrome Browser kurulumu "
                                     u"yapınız. Daha sonra VorlanKur 'u yeniden çalıştırınız.";
// Every Chrome from 90 on finds its driver: the table, else the servers'
// version files.
constexpr char16_t kUnsupported[] =
    u" Chrome Tarayıcı versiyonu 90.x ve sonrası destekleniyor. Sizin versiyonunuz: ";
constexpr char16_t kAskSupport[] = u" lütfen destek isteyiniz. ";
constexpr char16_t kSupportMailbox[] = u"destek@vorlan.com.tr";
// Windows' "file not found" HRESULT, which RegRead gives for a missing value.
constexpr std::int32_t kRegistryValueMissing = hr::FileNotFound;
constexpr char16_t kNotAVersion[] = u"Sunucunun yanıtı bir sürücü sürümü değil.";
constexpr char16_t kAskingVersion[] = u"Chrome sürücüsünün sürümü soruluyor ...";

// Where the drivers of Chrome lines past the table are published: the
// version file that names a line's newest driver, and the archive of a
// driver version. Up to 114 the table's own server; from 115 on Chrome for
// Testing, whose win32 driver runs on 64-bit Windows too.
struct DriverServer {
  std::int64_t firstMajor;
  std::u16string_view versionFiles; // + "LATEST_RELEASE_<version>"
  std::u16string_view archiveBefore, archiveAfter;
};
constexpr DriverServer kDriverServers[] = {
    {115, u"https://googlechromelabs.github.io/chrome-for-testing/LATEST_RELEASE_",
     u"https://storage.googleapis.com/chrome-for-testing-public/",
     u"/win32/chromedriver-win32.zip"},
    {90, u"https://chromedriver.storage.googleapis.com/LATEST_RELEASE_",
     u"https://chromedriver.storage.googleapis.com/", u"/chromedriver_win32.zip"},
};
constexpr std::int64_t kLargeNumber = 1'000'000'000; // no Chrome gets near it

// The numbers of a version text split at its dots; a part that is not a
// decimal number is -1. Leading zeros are dropped, and a huge number is
// kept as its digits but counted as kLargeNumber.
struct VersionPart {
  Text digits;
  std::int64_t value = -1;
  bool padded = false; // written with leading zeros
};
std::vector<VersionPart> versionParts(TextView text) {
  std::vector<VersionPart> parts;
  for (std::size_t start = 0;;) {
    const std::size_t dot = std::min(text.find(u'.', start), text.size());
    const TextView piece = text.substr(start, dot - start);
    VersionPart part;
    if (!piece.empty() && std::all_of(piece.begin(), piece.end(),
                                      [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
      const std::size_t first = std::min(piece.find_first_not_of(u'0'), piece.size() - 1);
      part.digits = Text(piece.substr(first));
      part.padded = first > 0;
      part.value = part.digits.size() > 9 ? kLargeNumber : std::stoll(toUtf8(part.digits));
    }
    parts.push_back(std::move(part));
    if (dot == text.size()) return parts;
    start = dot + 1;
  }
}

// A version file's answer names a driver only when it is four numbers of
// the asked-for line, none written with a leading zero, once blanks and
// line ends around it are gone.
bool isDriverVersion(TextView answer, const Text& major) {
  const auto parts = versionParts(answer);
  return parts.size() == 4 && parts[0].digits == major &&
         std::all_of(parts.begin(), parts.end(),
                     [](const VersionPart& p) { return p.value >= 0 && !p.padded; });
}

// A version file is some 15 bytes; a longer answer is none.
constexpr std::uint64_t kVersionFileLimit = 1024;

// Blanks, line ends and a byte-order mark around the answer.
TextView trimmed(TextView text) {
  const auto blank = [](char16_t c) {
    return c == u' ' || c == u'\r' || c == u'\n' || c == u'\uFEFF';
  };
  while (!text.empty() && blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && blank(text.back()))
    text.remove_suffix(1);
  return text;
}

// What the version files said: a failure, the last status, or an answer.
struct Asked {
  std::optional<std::int32_t> failure; // a request that failed outright
  Variant status;
  Text answer; // of the first file that answered 200, trimmed
  bool answered = false;
};

// Asks the version files in order, the exact build's first, until one
// answers 200; the window says so meanwhile. A dead network is not asked
// twice.
Asked ask(Runtime& rt, Window& window, const DriverServer& server, const std::vector<Text>& files) {
  WaitText wait(window, kAskingVersion);
  Asked asked;
  for (const Text& file : files) {
    try {
      ObjectRef request = rt.rtcCreateObject2(u"MSXML2.XMLHTTP");
      deref(request).call(u"Open", {u"GET", Text(server.versionFiles) + file, true});
      // An answer too long for a version file is given up as soon as its
      // length shows, announced or come; it is no version either way.
      WaitHooks hooks;
      hooks.keep = [&] {
        const ResponseSize size = responseSize(*request);
        return size.announced.value_or(0) <= kVersionFileLimit &&
               size.received.value_or(0) <= kVersionFileLimit;
      };
      const std::optional<Variant> status = sendAndWait(rt, *request, hooks);
      asked.answered = !status || vbaVarTstEq(*status, Variant(std::int16_t{200}));
      if (status) asked.status = *status;
      if (!asked.answered) continue;
      if (status && request->get(u"responseBody").toBytes().size() <= kVersionFileLimit)
        asked.answer = Text(trimmed(request->get(u"responseText").toText()));
    } catch (const RuntimeError& e) {
      asked.failure = e.number();
    }
    return asked;
  }
  return asked;
}

// Asks the server's version files for the line's driver: the exact build
// first, then the newest of the major. Fills the address, or tells the user
// and names the failed step; nothing is fetched then.
void askVersionFiles(Runtime& rt, Window& window, BrowserVersion& v,
                     const std::vector<VersionPart>& parts) {
  const std::int64_t major = parts[0].value;
  const DriverServer& server =
      *std::find_if(std::begin(kDriverServers), std::end(kDriverServers),
                    [&](const DriverServer& s) { return major >= s.firstMajor; });
  std::vector<Text> files;
  if (parts.size() >= 3 && parts[1].value >= 0 && parts[2].value >= 0)
    files.push_back(parts[0].digits + u"." + parts[1].digits + u"." + parts[2].digits);
  files.push_back(parts[0].digits);

  const Asked asked = ask(rt, window, server, files);
  if (asked.failure) {
    v.failedStep = u"Sürücü seçimi (Hata No: " + vbaStrI4(*asked.failure) + u")";
    rt.rtcMsgBox(Text(kSetupFailed) + u"Hata No: " + vbaStrI4(*asked.failure), vbInformation,
                 kMessageTitle);
  } else if (!asked.answered) {
    v.failedStep = u"Sürücü seçimi (HTTP durum kodu: " + asked.status.toText() + u")";
    rt.rtcMsgBox(Text(kSetupFailed) + u"HTTP durum kodu: " + asked.status.toText(), vbInformation,
                 kMessageTitle);
  } else if (!isDriverVersion(asked.answer, parts[0].digits)) {
    v.failedStep = u"Sürücü seçimi (geçersiz yanıt)";
    rt.rtcMsgBox(Text(kSetupFailed) + kNotAVersion, vbInformation, kMessageTitle);
  } else {
    v.driverAddress = Text(server.archiveBefore) + asked.answer + Text(server.archiveAfter);
  }
}

} // namespace

BrowserVersion versionStep(Runtime& rt, Window& window) {
  BrowserVersion v;
  v.version = Variant(u"");
  {
    ObjectRef shell = rt.rtcCreateObject2(u"WScript.Shell");
    for (const char16_t* value : kVersionValues) {
      try {
        v.version = deref(shell).call(u"RegRead", {value});
      } catch (const RuntimeError& e) {
        // Without Chrome the values are absent: told as for an empty one.
        if (e.number() != kRegistryValueMissing) throw;
      }
      if (!vbaVarTstEq(v.version, Variant(u""))) break;
    }
  }
  if (vbaVarTstEq(v.version, Variant(u""))) {
    rt.rtcMsgBox(kNotInstalled, vbInformation, kMessageTitle);
    rt.vbaEnd();
  }
  v.prefix = rtcLeftCharVar(v.version.toText(), 3);
  for (const auto& row : kDriverTable) {
    if (vbaVarTstEq(Variant(v.prefix), Variant(Text(row.prefix)))) {
      v.driverAddress = row.address;
      break;
    }
  }
  if (!v.driverAddress.empty()) return v;

  // No row: a line from 90 on is looked up on its server.
  const auto parts = versionParts(v.version.toText());
  if (parts[0].value >= 90) {
    askVersionFiles(rt, window, v, parts);
    return v;
  }
  v.failedStep = u"Sürücü seçimi (desteklenmeyen Chrome sürümü: " + v.version.toText() + u")";
  rt.rtcMsgBox(kUnsupported + v.version.toText() + kAskSupport + kSupportMailbox, vbOKOnly);
  return v;
}

void recordStep(Runtime& rt, ErrorMode& mode, const Text& userPath, const Text& prefix) {
  ObjectRef fso;
  ObjectRef file;
  mode([&] { fso = rt.rtcCreateObject2(u"Scripting.FileSystemObject"); });
  mode([&] {
    file = deref(fso)
               .call(u"CreateTextFile",
                     {userPath + u"\\Vorlan\\prgDosyaları\\ChromeDriverVersiyon.txt", true})
               .toObject();
  });
  mode([&] { deref(file).call(u"writeline", {u"[" + prefix + u"]"}); });
  mode([&] { deref(file).call(u"Close", {}); });
}

} // namespace vk
