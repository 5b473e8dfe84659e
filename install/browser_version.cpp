#include "form1/controls.h"
#include "install/install.h"

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
constexpr char16_t kVersionValue[] =
    u"HKEY_CURRENT_USER\\Software\\Google\\Chrome\\BLBeacon\\version";
constexpr char16_t kNotInstalled[] = u" Chrome yüklü değil ! Öncelikle Chrome Browser kurulumu "
                                     u"yapınız. Daha sonra VorlanKur 'u yeniden çalıştırınız.";
// The range named is the one the table really holds.
constexpr char16_t kUnsupported[] =
    u" Chrome Tarayıcı versiyonu 90.x ile 104.x arası destekleniyor. Sizin versiyonunuz: ";
constexpr char16_t kAskSupport[] = u" lütfen destek isteyiniz. ";
constexpr char16_t kSupportMailbox[] = u"destek@vorlan.com.tr";
// Windows' "file not found" HRESULT, which RegRead gives for a missing value.
constexpr std::int32_t kRegistryValueMissing = hr::FileNotFound;
} // namespace

BrowserVersion versionStep(Runtime& rt) {
  BrowserVersion v;
  {
    ObjectRef shell = rt.rtcCreateObject2(u"WScript.Shell");
    try {
      v.version = deref(shell).call(u"RegRead", {kVersionValue});
    } catch (const RuntimeError& e) {
      // Without Chrome the value is absent: tell the user as for an empty one.
      if (e.number() != kRegistryValueMissing) throw;
      v.version = Variant(u"");
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
  if (v.driverAddress.empty())
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
