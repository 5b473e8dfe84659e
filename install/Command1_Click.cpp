// The installation run behind "Devam".
#include "form1/Form1.h"
#include "install/install.h"

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

} // namespace

void Form1::Command1_Click() {
  failedSteps.clear();

  // 1. Browser version and driver choice (may end the program).
  const BrowserVersion browser = versionStep(rt_);
  if (!browser.failedStep.empty()) failedSteps.push_back(browser.failedStep);

  // 2. and 3. Desktop folder and the folder tree. Each missing folder is
  // made, so a tree left partial (a folder deleted) is completed; a "Vorlan"
  // that is a file fails here, as nothing safe can be done with it.
  userPath = GetDesktop();
  for (const char16_t* sub :
       {u"\\Vorlan", u"\\Vorlan\\Firmalarım", u"\\Vorlan\\Data", u"\\Vorlan\\prgDosyaları",
        u"\\Vorlan\\Raporlar", u"\\Vorlan\\Yedek"}) {
    if (rt_.rtcDir(userPath + sub, vbDirectory) == u"") rt_.rtcMakeDir(userPath + sub);
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

  // 9. and 10. The connection-settings script, on the user's word. cmd.exe
  // strips the first and last quote of what follows /c unless the text holds
  // a blank and no & < > ( ) @ ^ |, so the quoted path gets a second pair:
  // "Kurulum (2)" must not split it, nor "A & B" add a command. cmd.exe by
  // its full path: a copy in the setup folder must never run.
  isWillReg = rt_.rtcMsgBox(kAskSettings, vbYesNo | vbQuestion | vbDefaultButton2, kMessageTitle);
  if (isWillReg == vbYes)
    rt_.rtcShell(Text(kCmd) + u" /c \"\"" + rt_.appPath() + u"\\Vorlan-Grenvilta\\install.cmd\"\"",
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
  const auto record = [&](const Text& name) {
    if (auto e = mode.takeError()) failedStep(name, e->number());
  };
  const auto finalTexts = [&] {
    if (failedSteps.empty()) {
      mode([&] { setText(ctl::Text12, kDoneHeadline); });
      mode([&] { setText(ctl::Text13, kDoneDetail); });
    } else {
      Text detail = kFailedSteps;
      for (const Text& f : failedSteps)
        detail += u"\r\n" + f;
      mode([&] { setText(ctl::Text12, kPartlyHeadline); });
      mode([&] { setText(ctl::Text13, detail); });
    }
    mode([&] { setText(ctl::Text14, kDoneAdvice); });
  };

  // 13. The application files. The programs are replaced, that is what a
  // rerun is for; the workbook holds the user's data and is copied only
  // when there is none.
  struct Copy {
    const char16_t* from;
    const char16_t* to;
    const char16_t* step;
    bool keepExisting;
  };
  for (const Copy& c :
       {Copy{u"\\Vorlan.exe", u"\\Vorlan\\Vorlan.exe", u"Vorlan.exe kopyalama", false},
        Copy{u"\\VorlanUpdate.exe", u"\\Vorlan\\VorlanUpdate.exe", u"VorlanUpdate.exe kopyalama",
             false},
        Copy{u"\\DATA.xlsx", u"\\Vorlan\\Data\\DATA.xlsx", u"DATA.xlsx kopyalama", true}}) {
    copyFromStr = rt_.appPath() + c.from;
    copyToStr = userPath + c.to;
    mode([&] {
      if (!c.keepExisting || rt_.rtcDir(copyToStr, vbHidden | vbSystem | vbDirectory) == u"")
        rt_.rtcFileCopy(copyFromStr, copyToStr);
    });
    record(c.step);
  }

  // 14. to 16. Shortcut, system components, version record.
  mode([&] { CreateShortCut(); });
  record(u"Masaüstü kısayolu");
  mode([&] { regVorlanComponents(); });
  record(u"Bileşenlerin sistem klasörüne kaydı");
  recordStep(rt_, mode, userPath, browser.prefix);
  record(u"Sürücü sürüm kaydı");

  // 17. and 18. Final texts and buttons. The shell has had the whole run to
  // unpack the driver; whatever it could not is a failure too.
  if (unpacked) {
    bool arrived = false;
    mode([&] { arrived = driverUnpacked(); });
    mode.takeError();
    if (!arrived) failedSteps.push_back(u"Sürücü arşivinin açılması");
  }
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
      rt_.rtcMsgBox(kNotTested + vbaStrI4(browserError->number()), vbExclamation, kMessageTitle);
    });
  else
    mode([&] { rt_.rtcMsgBox(kTested, vbInformation, kMessageTitle); });
  mode.takeError();

  // 21. Start the installed program, quoted: unquoted, a blank in the
  // desktop path would have Windows try "C:\Users\Ali.exe" first.
  mode([&] { rt_.rtcShell(u"\"" + userPath + u"\\Vorlan\\Vorlan.exe\"", vbNormalFocus); });
  if (mode.error()) {
    record(u"Vorlan başlatma");
    finalTexts();
  }
  // 22. The session ends as its reference goes.
}

} // namespace vk
