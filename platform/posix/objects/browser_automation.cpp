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
#include "platform/posix/host/certificates.h"
#include "platform/posix/host/files.h"
#include "platform/posix/host/process.h"
#include "platform/posix/host/process_group.h"
#include "platform/posix/host/temp_file.h"
#include "platform/posix/objects/webdriver_client.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace vk::posix {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr char16_t kClassKey[] =
    u"Software\\Classes\\CLSID\\{0277FC34-FD1B-4616-BB19-5D556733E8C9}";
constexpr char16_t kFallbackClassKey[] =
    u"Software\\Classes\\CLSID\\{0277FC34-FD1B-4616-BB19-E3CCFFAB4234}";

constexpr auto kDriverReady = 20s;
constexpr long kSessionTimeoutMs = 90'000;
constexpr long kPageLoadMs = 30'000;
constexpr long kNavigateTimeoutMs = kPageLoadMs + 15'000;

// Where the session's folder goes. Its files are many and small (the NSS
// database, which syncs every write, and the browser's profile), and on a
// disk creating and deleting them costs a good part of a second; the
// host's memory-backed /dev/shm costs nearly nothing. A TMPDIR of the
// user's, or a /dev/shm too small to be sure of (containers give 64 MB),
// keeps the usual temporary folder, unless its path is too long for the
// browser's socket under it: then /tmp.
fs::path sessionParent() {
  const char* tmpdir = std::getenv("TMPDIR");
  struct statvfs shm {};
  if ((!tmpdir || !*tmpdir) && statvfs("/dev/shm", &shm) == 0 &&
      static_cast<unsigned long long>(shm.f_bavail) * shm.f_frsize >= (512ull << 20) &&
      access("/dev/shm", W_OK | X_OK) == 0)
    return "/dev/shm";
  fs::path usual = fs::temp_directory_path();
  // A socket's path holds at most 107 bytes; under the parent come the
  // session's "/vkb-<pid>-XXXXXX/tmp" (26 at most) and the browser's
  // "/.org.chromium.Chromium.XXXXXX/SingletonSocket" (47).
  if (usual.string().size() > 107 - 26 - 47 && access("/tmp", W_OK | X_OK) == 0) return "/tmp";
  return usual;
}

// A session's folder: "vkb-<pid>-XXXXXX". Short, since the browser's socket
// paths under it must stay within the 108 bytes a socket address holds.
constexpr std::string_view kSessionPrefix = "vkb-";

// Chromium's error pages (an untrusted certificate's warning among them)
// are pages like any other to the driver, which reports the load as a
// success; the page itself names the error.
constexpr char kErrorPageScript[] =
    "if (String(document.URL).indexOf('chrome-error:') !== 0) return null;"
    "var e = document.querySelector('#error-code, .error-code');"
    "var t = e ? String(e.textContent).trim() : '';"
    "return t || 'net::ERR_FAILED';";

void requireRegistered(ObjectContext ctx, const char16_t* key) {
  if (!ctx.machine.registry().keyExists(Hive::LocalMachine, key))
    throw RuntimeError(err::CannotCreateObject);
}

} // namespace

BrowserAutomation::BrowserAutomation(ObjectContext ctx, BrowserPrograms programs)
    : machine_(ctx.machine), programs_(std::move(programs)) {}

BrowserAutomation::~BrowserAutomation() {
  end();
}

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
  end(); // a new session replaces the old one

  const std::string driver = findProgram(programs_.driver, "chromedriver");
  if (driver.empty()) failBrowser(browser_err::DriverNotFound);
  const std::string chromium = findProgram(programs_.browser, "chromium");
  if (chromium.empty()) failBrowser(browser_err::BrowserNotFound);

  try {
    const fs::path parent = sessionParent();
    removeStaleFolders(parent.string(), kSessionPrefix);
    std::string folder =
        (parent / (std::string(kSessionPrefix) + std::to_string(getpid()) + "-XXXXXX")).string();
    if (!mkdtemp(folder.data()))
      failBrowser(browser_err::DriverNotStarted, std::string("mkdtemp: ") + std::strerror(errno));
    work_ = folder;
    for (const char* sub : {"/home", "/tmp"})
      fs::create_directories(work_ + sub);

    trustMachineAuthorities(work_ + "/home");

    const auto hostsFile = machine_.hostsFile();
    const NameResolution names =
        hostsFile ? resolutionFor(readMachineFile(*hostsFile, 64u << 20).value_or(""), work_)
                  : NameResolution();
    const std::string& rules = names.rules;

    launchDriver(driver, names.wrapper);

    // No --user-data-dir: the driver then makes the profile itself, in the
    // session's TMPDIR, with the preferences it sets for automation; an
    // empty profile of our own made the first page load half a second slower.
    json args = {"--headless=new",
                 "--no-sandbox",
                 "--disable-gpu",
                 "--disable-dev-shm-usage",
                 "--no-first-run",
                 "--no-default-browser-check",
                 "--disable-background-networking",
                 "--disable-component-update",
                 "--disable-sync",
                 "--disable-quic"};
    if (!rules.empty()) args.push_back("--host-resolver-rules=" + rules);
    const json request = {
        {"capabilities",
         {{"alwaysMatch",
           {{"browserName", "chrome"},
            {"acceptInsecureCerts", false},
            {"pageLoadStrategy", "normal"},
            {"timeouts", {{"pageLoad", kPageLoadMs}, {"script", 10'000}, {"implicit", 0}}},
            {"goog:chromeOptions",
             {{"binary", browserLauncher(chromium, work_)}, {"args", args}}}}}}}};
    json value;
    try {
      value = command(endpoint_, "POST", "/session", &request, kSessionTimeoutMs);
    } catch (const WebDriverFailure& f) {
      if (f.error.empty()) failBrowser(browser_err::DriverNotStarted, detailOf(f));
      failBrowser(browser_err::SessionNotCreated, detailOf(f));
    }
    if (value.is_object() && value.contains("sessionId") && value["sessionId"].is_string())
      session_ = value["sessionId"].get<std::string>();
    if (session_.empty())
      failBrowser(browser_err::SessionNotCreated, "no session id in the driver's answer");
  } catch (...) {
    end();
    throw;
  }
}

void BrowserAutomation::trustMachineAuthorities(const std::string& home) {
  const auto authorities = pemCertificates(
      readMachineFile(machine_.authoritiesFile(), 16u << 20).value_or(std::string()));
  if (authorities.empty()) return;
  const std::string certutil = findProgram(programs_.certutil, "certutil");
  if (certutil.empty()) failBrowser(browser_err::CertificateStore, "certutil not found");
  const std::string db = "sql:" + home + "/.pki/nssdb";
  fs::create_directories(home + "/.pki/nssdb");
  const std::string log = work_ + "/certutil.log";
  const auto run = [&](std::vector<std::string> argv) {
    const StartedProcess started =
        startInSession(std::move(argv), work_, log, ProcessOptions::Group::Ours);
    if (!started.pid)
      failBrowser(browser_err::CertificateStore, certutil + ": " + std::strerror(started.error));
    const pid_t pid = started.pid;
    int status = 0;
    if (!reap(pid, 20s, &status)) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      failBrowser(browser_err::CertificateStore, "certutil did not finish");
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      failBrowser(browser_err::CertificateStore, lastLine(log));
  };
  run({certutil, "-N", "-d", db, "--empty-password"});
  for (std::size_t i = 0; i < authorities.size(); ++i) {
    const std::string file = work_ + "/authority-" + std::to_string(i + 1) + ".pem";
    std::ofstream(file, std::ios::binary) << authorities[i];
    // "C,,": trusted to issue server certificates.
    run({certutil, "-A", "-d", db, "-n", "VorlanKur " + std::to_string(i + 1), "-t", "C,,", "-i",
         file});
  }
}

void BrowserAutomation::launchDriver(const std::string& driver,
                                     const std::vector<std::string>& wrapper) {
  const std::string log = work_ + "/chromedriver.log";
  std::string why;
  // A port found free can be taken before the driver binds it; then the
  // driver ends at once and another port is tried.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int port = freeLoopbackPort();
    if (port <= 0) {
      why = std::string("no free loopback port: ") + std::strerror(errno);
      break;
    }
    std::vector<std::string> argv = wrapper;
    argv.insert(argv.end(), {driver, "--port=" + std::to_string(port)});
    const StartedProcess started =
        startInSession(std::move(argv), work_, log, ProcessOptions::Group::Own);
    if (!started.pid)
      failBrowser(browser_err::DriverNotStarted, driver + ": " + std::strerror(started.error));
    const pid_t pid = started.pid;
    driver_ = pid;
    endpoint_ = "http://127.0.0.1:" + std::to_string(port);
    const auto deadline = Clock::now() + kDriverReady;
    for (;;) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        kill(-pid, SIGKILL); // anything it left in its group
        driver_ = 0;
        why = lastLine(log);
        if (why.empty()) why = "chromedriver ended at once";
        break;
      }
      if (driverReady(endpoint_)) return;
      if (Clock::now() >= deadline)
        failBrowser(browser_err::DriverNotStarted, "chromedriver not ready within 20 s");
      std::this_thread::sleep_for(10ms);
    }
  }
  failBrowser(browser_err::DriverNotStarted, why);
}

void BrowserAutomation::open(const Text& address) {
  if (session_.empty()) failBrowser(browser_err::NoSession);
  const std::string url = toUtf8(address);
  const std::string base = "/session/" + session_;
  try {
    const json go = {{"url", url}};
    command(endpoint_, "POST", base + "/url", &go, kNavigateTimeoutMs);
  } catch (const WebDriverFailure& f) {
    if (f.error.empty()) failBrowser(browser_err::DriverNotStarted, detailOf(f));
    failNavigation(f.error, detailOf(f));
  }
  json page;
  try {
    const json script = {{"script", kErrorPageScript}, {"args", json::array()}};
    page = command(endpoint_, "POST", base + "/execute/sync", &script, 20'000);
  } catch (const WebDriverFailure& f) {
    if (f.error.empty()) failBrowser(browser_err::DriverNotStarted, detailOf(f));
    failBrowser(browser_err::BrowserError, detailOf(f));
  }
  if (page.is_string()) {
    std::string code = page.get<std::string>();
    if (code.rfind("net::", 0) != 0 && code.rfind("NET::", 0) != 0) code = "net::" + code;
    failNavigation("", code + " (" + url + ")");
  }
}

void BrowserAutomation::end() noexcept {
  if (driver_ > 0 && !session_.empty()) {
    // Lets the driver close the browser in order; what remains is ended below.
    try {
      command(endpoint_, "DELETE", "/session/" + session_, nullptr, 10'000, OnStop::Finish);
    } catch (...) {
    }
  }
  session_.clear();
  if (driver_ > 0) endGroup(driver_);
  driver_ = 0;
  endpoint_.clear();
  if (!work_.empty()) {
    try {
      endProcessesUsing(work_);
    } catch (...) {
    }
    std::error_code ec;
    fs::remove_all(work_, ec);
    work_.clear();
  }
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
