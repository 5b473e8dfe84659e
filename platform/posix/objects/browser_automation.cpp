// The browser-automation object, over W3C WebDriver.
//
// Member 12 starts the host's chromedriver on a free loopback port, in its
// own process group, and asks it for a headless Chromium session; member 32
// sends that session to an address. Everything a session writes (the
// driver's log, a HOME with its certificate database, temporary files and
// the browser profile the driver makes among them) lives in one folder, and
// releasing the object ends the session, every process of it and the
// folder. A stop signal while a request to the driver runs ends the program
// (stop_signals.h), which releases the object; killed outright, the tool
// takes the driver and the browser along (parent-death signals), and the
// next session removes the folder.
//
// The browser sees the machine, not the host, where the two differ:
//   - names in the machine's hosts file resolve as the file says (Chromium's
//     --host-resolver-rules; a file too large for one argument becomes the
//     /etc/hosts of a mount namespace the driver and browser run in), others
//     through the host's resolver;
//   - the authorities in <machine>/ca-certificates.pem are trusted besides
//     the host's, through an NSS database in the session's own HOME, where
//     Chromium looks for user-trusted authorities. Certificate checks always
//     stay on.
//
// Failures carry the numbers of browser_automation.h:
//
//   what failed                                   number
//   --------------------------------------------  -------------------------------
//   browser name other than "Chrome"              UnsupportedBrowser   0x80040201
//   no chromedriver on the host                   DriverNotFound       0x80040202
//   no chromium on the host                       BrowserNotFound      0x80040203
//   driver could not start or was not ready
//     within 20 s, or stopped answering           DriverNotStarted     0x80040204
//   WebDriver "session not created"               SessionNotCreated    0x80040205
//   member 32 without a session                   NoSession            0x80040206
//   machine's authorities could not be added      CertificateStore     0x80040207
//   "insecure certificate", net::ERR_CERT_*       InsecureCertificate  0x80040210
//   net::ERR_NAME_NOT_RESOLVED                    NameNotResolved      0x80040211
//   any other net::ERR_* (refused, reset, ...)    PageNotOpened        0x80040212
//   WebDriver "timeout", net::ERR_*TIMED_OUT      Timeout              0x80040213
//   WebDriver "invalid argument" (bad address)    InvalidAddress       0x80040214
//   any other WebDriver error                     BrowserError         0x8004021F
//
// The description is Turkish and ends with the driver's or the browser's own
// message, e.g. "Sunucu adı çözümlenemedi: unknown error:
// net::ERR_NAME_NOT_RESOLVED".
#include "platform/posix/objects/browser_automation.h"
#include "platform/posix/host/files.h"

#include <exception>

namespace vk::posix {

namespace {

constexpr char16_t kClassKey[] =
    u"Software\\Classes\\CLSID\\{0277FC34-FD1B-4616-BB19-5D556733E8C9}";
constexpr char16_t kFallbackClassKey[] =
    u"Software\\Classes\\CLSID\\{0277FC34-FD1B-4616-BB19-E3CCFFAB4234}";

void requireRegistered(ObjectContext ctx, const char16_t* key) {
  if (!ctx.machine.registry().keyExists(Hive::LocalMachine, key))
    throw RuntimeError(err::CannotCreateObject);
}

} // namespace

BrowserAutomation::BrowserAutomation(ObjectContext ctx, BrowserPrograms programs)
    : machine_(ctx.machine), programs_(std::move(programs)) {}

BrowserAutomation::~BrowserAutomation() = default;

const Member<BrowserAutomation> BrowserAutomation::kMembers[] = {
    methodId<&BrowserAutomation::start>(kStart, 1, 1),
    methodId<&BrowserAutomation::open>(kGet, 1, 1),
};

Variant BrowserAutomation::call(TextView member, const Args& args) {
  return callMember(*this, kMembers, member, args);
}

void BrowserAutomation::put(TextView member, const Variant& value) {
  putMember(*this, kMembers, member, value);
}

void BrowserAutomation::callId(std::int32_t dispId, const Args& args) {
  try {
    callMemberId(*this, kMembers, dispId, args);
  } catch (const RuntimeError&) {
    throw;
  } catch (const std::exception& e) {
    // The caller's error regime knows only run-time errors.
    failBrowser(browser_err::BrowserError, e.what());
  }
}

void BrowserAutomation::start(const Text& browser) {
  if (!equalsIgnoreCase(browser, u"Chrome"))
    failBrowser(browser_err::UnsupportedBrowser, toUtf8(browser));
  session_.reset(); // a new session replaces the old one
  SessionSetup setup{programs_,
                     readMachineFile(machine_.authoritiesFile(), 16u << 20).value_or(std::string()),
                     std::nullopt};
  if (const auto hosts = machine_.hostsFile())
    setup.hostsFile = readMachineFile(*hosts, 64u << 20).value_or(std::string());
  session_ = std::make_unique<WebDriverSession>(setup);
}

void BrowserAutomation::open(const Text& address) {
  if (!session_) failBrowser(browser_err::NoSession);
  session_->navigate(toUtf8(address));
}

ObjectRef makeBrowserAutomation(ObjectContext ctx) {
  requireRegistered(ctx, kClassKey);
  return std::make_shared<BrowserAutomation>(ctx);
}

ObjectRef makeBrowserAutomationFallback(ObjectContext ctx) {
  requireRegistered(ctx, kFallbackClassKey);
  return std::make_shared<BrowserAutomation>(ctx);
}

} // namespace vk::posix
