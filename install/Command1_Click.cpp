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
constexpr char16_t kTesting[] = u"Chrome bağlantısı test ediliyor ...";
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

WaitText::WaitText(Window& window, const Text& text)
    : window_(window), before_(window.text(ctl::Text12)) {
  window_.setText(ctl::Text12, text);
}

WaitText::~WaitText() {
  try {
    window_.setText(ctl::Text12, before_);
  } catch (...) {
    // a window already gone keeps nothing to give back
  }
}

void WaitText::show(const Text& text) {
  window_.setText(ctl::Text12, text);
}

void Form1::Command1_Click() {
  // One run per start: "Devam" cannot be pressed again while the window
  // answers during the run's waits, nor after it.
  runStarted_ = true;
  w_.setEnabled(ctl::Command1, false);
  failedSteps.clear();
  const BrowserVersion browser = chooseDriver(); // 1. (may end the program)
  makeFolderTree();                              // 2. and 3.
  fetchDriver(browser.driverAddress);            // 4. to 8.
  askConnectionSettings();                       // 9. and 10.
  copyMissingComponents();                       // 11.

  // 12. From here on a failing statement is skipped; each failed step is
  // remembered so the final texts never announce a failure as success.
  ErrorMode mode;
  mode.onErrorResumeNext();
  copyApplicationFiles(mode); // 13.
  mode([&] { CreateShortCut(); });
  recordFailure(mode, u"Masaüstü kısayolu"); // 14.
  mode([&] { regVorlanComponents(); });
  recordFailure(mode, u"Bileşenlerin sistem klasörüne kaydı"); // 15.
  recordStep(rt_, mode, userPath, browser.prefix);
  recordFailure(mode, u"Sürücü sürüm kaydı"); // 16.
  checkDriverUnpacked(mode);
  writeFinalTexts(mode);    // 17.
  showClosingButtons(mode); // 18.
  testBrowser(mode);        // 19. and 20.
  startVorlan(mode);        // 21.
  // 22. The session ends as its reference goes.
}

BrowserVersion Form1::chooseDriver() {
  BrowserVersion browser = versionStep(rt_, w_);
  if (!browser.failedStep.empty()) failedSteps.push_back(browser.failedStep);
  return browser;
}

// Each missing folder is made, so a tree left partial (a folder deleted) is
// completed; a "Vorlan" that is a file fails here, as nothing safe can be
// done with it.
void Form1::makeFolderTree() {
  userPath = GetDesktop();
  for (const Text& folder :
       {vorlanFolder(), vorlanFolder() + u"\\Firmalarım", vorlanFolder() + u"\\Data",
        programFilesFolder(), vorlanFolder() + u"\\Raporlar", vorlanFolder() + u"\\Yedek"})
    if (rt_.rtcDir(folder, vbDirectory) == u"") rt_.rtcMakeDir(folder);
}

// The driver archive, fetched and unpacked beside the setup tool. With no
// driver found there is nothing to fetch, and the user was told.
void Form1::fetchDriver(const Text& address) {
  indirDosya = u"chromedriver_win32.zip";
  myUrl = address;
  myPath = siblingFolder() + u"\\" + indirDosya;
  if (myUrl == u"") return;
  dosyaIndir(myUrl, myPath);
  unzip();
}

// The connection-settings script, on the user's word. cmd.exe strips the
// first and last quote of what follows /c unless the text holds a blank and
// no & < > ( ) @ ^ |, so the quoted path gets a second pair: "Kurulum (2)"
// must not split it, nor "A & B" add a command. cmd.exe by its full path: a
// copy in the setup folder must never run.
void Form1::askConnectionSettings() {
  isWillReg = rt_.rtcMsgBox(kAskSettings, vbYesNo | vbQuestion | vbDefaultButton2, kMessageTitle);
  if (isWillReg == vbYes)
    rt_.rtcShell(Text(kCmd) + u" /c \"\"" + siblingFolder() + u"\\install.cmd\"\"",
                 vbMinimizedFocus);
}

// The missing components into the program-files folder.
void Form1::copyMissingComponents() {
  for (int slot = 0; slot <= 6; ++slot) {
    const Text name = text(ctl::Text1(slot));
    if (name == u"") continue;
    copyFromStr = rt_.appPath() + u"\\Vorlan Bileşenleri\\" + name;
    copyToStr = programFilesFolder() + u"\\" + name;
    rt_.rtcFileCopy(copyFromStr, copyToStr);
  }
}

// The programs are replaced, that is what a rerun is for; the workbook holds
// the user's data and is copied only when there is none.
void Form1::copyApplicationFiles(ErrorMode& mode) {
  struct Copy {
    const char16_t* from;
    const char16_t* to;
    const char16_t* step;
    bool keepExisting;
  };
  for (const Copy& c :
       {Copy{u"\\Vorlan.exe", u"\\Vorlan.exe", u"Vorlan.exe kopyalama", false},
        Copy{u"\\VorlanUpdate.exe", u"\\VorlanUpdate.exe", u"VorlanUpdate.exe kopyalama", false},
        Copy{u"\\DATA.xlsx", u"\\Data\\DATA.xlsx", u"DATA.xlsx kopyalama", true}}) {
    copyFromStr = rt_.appPath() + c.from;
    copyToStr = vorlanFolder() + c.to;
    mode([&] {
      if (!c.keepExisting || rt_.rtcDir(copyToStr, vbHidden | vbSystem | vbDirectory) == u"")
        rt_.rtcFileCopy(copyFromStr, copyToStr);
    });
    recordFailure(mode, c.step);
  }
}

// The shell has had the whole run to unpack the driver; whatever it could
// not is a failure too. Without an archive there was nothing to unpack,
// and the download said why.
void Form1::checkDriverUnpacked(ErrorMode& mode) {
  if (!unpacked) return;
  Text failure = u"Sürücü arşivinin açılması";
  mode([&] { failure = unpackingFailure(); });
  mode.takeError();
  if (!failure.empty()) failedSteps.push_back(failure);
}

void Form1::writeFinalTexts(ErrorMode& mode) {
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
}

void Form1::showClosingButtons(ErrorMode& mode) {
  mode([&] { w_.setVisible(ctl::Command3, true); });
  mode([&] { w_.setVisible(ctl::Command2, false); });
  mode([&] { w_.setVisible(ctl::Command1, false); });
  mode.takeError();
}

// A browser session through a self-creating reference, then the test's
// message, which names a failure rather than announcing success.
void Form1::testBrowser(ErrorMode& mode) {
  ObjectRef session;
  const auto selfCreating = [&]() -> Object& {
    if (!session) session = rt_.createObject(kBrowserFallbackClass, kBrowserInterface);
    return *session;
  };
  {
    // Starting a browser takes seconds and the library's call holds the
    // window meanwhile: the window says why first.
    WaitText wait(w_, kTesting);
    rt_.rtcDoEvents();
    mode([&] { session = rt_.createObject(kBrowserClass, kBrowserInterface); });
    mode.takeError(); // the fallback below decides whether the library is there
    mode([&] { selfCreating().callId(kStartSession, {u"Chrome"}); });
    mode([&] { selfCreating().callId(kOpenAddress, {Text(kTestAddress)}); });
  }
  const std::optional<RuntimeError> browserError = mode.error();
  recordFailure(mode, u"Chrome bağlantı testi");
  if (browserError) {
    writeFinalTexts(mode);
    mode([&] {
      rt_.rtcMsgBox(kNotTested + vbaStrI4(browserError->number()), vbExclamation, kMessageTitle);
    });
  } else {
    mode([&] { rt_.rtcMsgBox(kTested, vbInformation, kMessageTitle); });
  }
  mode.takeError();
}

// Quoted: unquoted, a blank in the desktop path would have Windows try
// "C:\Users\Ali.exe" first.
void Form1::startVorlan(ErrorMode& mode) {
  mode([&] { rt_.rtcShell(u"\"" + vorlanFolder() + u"\\Vorlan.exe\"", vbNormalFocus); });
  if (!mode.error()) return;
  recordFailure(mode, u"Vorlan başlatma");
  writeFinalTexts(mode);
}

void Form1::recordFailure(ErrorMode& mode, const Text& step) {
  if (auto e = mode.takeError()) failedStep(step, e->number());
}

} // namespace vk
