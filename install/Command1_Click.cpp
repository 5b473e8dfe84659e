// The installation run behind "Devam".
#include "form1/Form1.h"
#include "install/install.h"

#include <vector>

namespace vk {

namespace {

constexpr char16_t kAskSettings[] =
    u"Chrome bağlantı ayarları şimdi yapılsın mı ? (EVET önerilir.)";
constexpr char16_t kDoneHeadline[] = u"Kurulum işlemi tamamlandı !";
constexpr char16_t kDoneDetail[] = u"Gerekli Windows Bileşenleri masaüstü\\Vorlan\\prgDosyaları "
                                   u"klasörüne başarıyla kaydedildi !";
constexpr char16_t kDoneAdvice[] = u"Lütfen şimdi kur'u kapatın VorlanKur klasörü ve içeriğini "
                                   u"silebilirsiniz. Vorlan uygulaması başlatılacak.";
constexpr char16_t kPartlyHeadline[] =
    u"Kurulum işlemi tamamlandı, ancak bazı adımlar başarısız oldu !";
constexpr char16_t kFailedSteps[] = u"Başarısız adımlar:";
constexpr char16_t kTested[] = u"Chrome bağlantısı test edildi.";
constexpr char16_t kNotTested[] = u"Chrome bağlantısı test edilemedi ! Hata No: ";

// The browser-automation library: the class the run asks for, the class its
// self-creating reference falls back on, and their interface.
constexpr char16_t kBrowserClass[] = u"{0277FC34-FD1B-4616-BB19-5D556733E8C9}";
constexpr char16_t kBrowserFallbackClass[] = u"{0277FC34-FD1B-4616-BB19-E3CCFFAB4234}";
constexpr char16_t kBrowserInterface[] = u"{0277FC34-FD1B-4616-BB19-CC6284398AA5}";
constexpr std::int32_t kStartSession = 12;
constexpr std::int32_t kOpenAddress = 32;
constexpr char16_t kTestAddress[] = u"https://www.google.com";

struct FailedStep {
  Text name;
  std::int32_t number;
};

} // namespace

void Form1::Command1_Click() {
  // 1. Browser version and driver choice (may end the program).
  const BrowserVersion browser = versionStep(rt_);

  // 2. and 3. Desktop folder and the folder tree.
  userPath = GetDesktop();
  if (rt_.rtcDir(userPath + u"\\Vorlan", vbDirectory) == u"") {
    for (const char16_t* sub :
         {u"\\Vorlan", u"\\Vorlan\\Firmalarım", u"\\Vorlan\\Data", u"\\Vorlan\\prgDosyaları",
          u"\\Vorlan\\Raporlar", u"\\Vorlan\\Yedek"})
      rt_.rtcMakeDir(userPath + sub);
  }

  // 4. to 8. The driver archive, fetched and unpacked beside the setup tool.
  indirDosya = u"chromedriver_win32.zip";
  myUrl = browser.driverAddress;
  myPath = rt_.appPath() + u"\\Vorlan-Grenvilta\\" + indirDosya;
  // No driver matched: there is nothing to fetch, and the user was told.
  if (myUrl != u"") {
    dosyaIndir(myUrl, myPath);
    unzip();
  }

  // 9. and 10. The connection-settings script, on the user's word. The path
  // is quoted: a blank must not split it, nor a folder name add commands.
  isWillReg = rt_.rtcMsgBox(kAskSettings, vbYesNo | vbQuestion | vbDefaultButton2, kMessageTitle);
  if (isWillReg == vbYes)
    rt_.rtcShell(u"cmd.exe /c \"" + rt_.appPath() + u"\\Vorlan-Grenvilta\\install.cmd\"",
                 vbMinimizedFocus);

  // 11. The missing components into the program-files folder.
  for (int slot = 0; slot <= 6; ++slot) {
    const Text name = text(ctl::Text1(slot));
    if (name != u"") {
      copyFromStr = rt_.appPath() + u"\\Vorlan Bileşenleri\\" + name;
      copyToStr = userPath + u"\\Vorlan\\prgDosyaları\\" + name;
      rt_.rtcFileCopy(copyFromStr, copyToStr);
    }
  }

  // 12. From here on a failing statement is skipped; each failed step is
  // remembered so the final texts never announce a failure as success.
  ErrorMode mode;
  mode.onErrorResumeNext();
  std::vector<FailedStep> failed;
  const auto record = [&](const Text& name) {
    if (auto e = mode.takeError()) failed.push_back({name, e->number()});
  };
  const auto finalTexts = [&] {
    if (failed.empty()) {
      mode([&] { setText(ctl::Text12, kDoneHeadline); });
      mode([&] { setText(ctl::Text13, kDoneDetail); });
    } else {
      Text detail = kFailedSteps;
      for (const auto& f : failed)
        detail += u"\r\n" + f.name + u" (Hata No: " + __vbaStrI4(f.number) + u")";
      mode([&] { setText(ctl::Text12, kPartlyHeadline); });
      mode([&] { setText(ctl::Text13, detail); });
    }
    mode([&] { setText(ctl::Text14, kDoneAdvice); });
  };

  // 13. The application files.
  struct Copy {
    const char16_t* from;
    const char16_t* to;
    const char16_t* step;
  };
  for (const Copy& c :
       {Copy{u"\\Vorlan.exe", u"\\Vorlan\\Vorlan.exe", u"Vorlan.exe kopyalama"},
        Copy{u"\\VorlanUpdate.exe", u"\\Vorlan\\VorlanUpdate.exe", u"VorlanUpdate.exe kopyalama"},
        Copy{u"\\DATA.xlsx", u"\\Vorlan\\Data\\DATA.xlsx", u"DATA.xlsx kopyalama"}}) {
    copyFromStr = rt_.appPath() + c.from;
    copyToStr = userPath + c.to;
    mode([&] { rt_.rtcFileCopy(copyFromStr, copyToStr); });
    record(c.step);
  }

  // 14. to 16. Shortcut, system components, version record.
  mode([&] { CreateShortCut(); });
  record(u"Masaüstü kısayolu");
  mode([&] { regVorlanComponents(); });
  record(u"Bileşenlerin sistem klasörüne kaydı");
  recordStep(rt_, mode, userPath, browser.prefix);
  record(u"Sürücü sürüm kaydı");

  // 17. and 18. Final texts and buttons.
  finalTexts();
  mode([&] { w_.setVisible(ctl::Command3, true); });
  mode([&] { w_.setVisible(ctl::Command2, false); });
  mode([&] { w_.setVisible(ctl::Command1, false); });
  mode.takeError();

  // 19. Browser test, through a self-creating reference.
  ObjectRef session;
  const auto selfCreating = [&]() -> Object& {
    if (!session) session = rt_.createObject(kBrowserFallbackClass, kBrowserInterface);
    return *session;
  };
  mode([&] { session = rt_.createObject(kBrowserClass, kBrowserInterface); });
  mode.takeError(); // the fallback below decides whether the library is there
  mode([&] { selfCreating().callId(kStartSession, {u"Chrome"}); });
  mode([&] { selfCreating().callId(kOpenAddress, {Text(kTestAddress)}); });
  const std::optional<RuntimeError> browserError = mode.error();
  record(u"Chrome bağlantı testi");
  if (browserError) finalTexts();

  // 20. The test message.
  if (browserError)
    mode([&] {
      rt_.rtcMsgBox(kNotTested + __vbaStrI4(browserError->number()), vbExclamation, kMessageTitle);
    });
  else
    mode([&] { rt_.rtcMsgBox(kTested, vbInformation, kMessageTitle); });
  mode.takeError();

  // 21. Start the installed program.
  mode([&] { rt_.rtcShell(userPath + u"\\Vorlan\\Vorlan.exe", vbNormalFocus); });
  if (mode.error()) {
    record(u"Vorlan başlatma");
    finalTexts();
  }
  // 22. The session ends as its reference goes.
}

} // namespace vk
