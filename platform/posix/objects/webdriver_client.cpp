#include "platform/posix/objects/webdriver_client.h"

#include "platform/errors.h"
#include "platform/posix/host/certificates.h"
#include "platform/posix/host/curl.h"
#include "platform/posix/host/files.h"
#include "platform/posix/host/process_group.h"
#include "platform/posix/host/stop_signals.h"
#include "platform/posix/host/temp_file.h"
#include "platform/posix/host/unique.h"
#include "platform/posix/machine/hosts_file.h"
#include "platform/posix/objects/browser_automation.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace vk::posix {

namespace {

bool contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

std::string firstLine(const std::string& text) {
  const auto end = text.find_first_of("\r\n");
  return end == std::string::npos ? text : text.substr(0, end);
}

// A file's content, "" when it cannot be read.
std::string readFile(const std::string& path) {
  return readHostFile(path).value_or(std::string());
}

// The host's environment with the session's own HOME and temporary folder,
// so the browser keeps nothing of the host user's and leaves nothing behind.
std::vector<std::string> sessionEnvironment(const std::string& work) {
  const std::string home = work + "/home";
  return environmentWith({{"HOME", home},
                          {"TMPDIR", work + "/tmp"},
                          {"XDG_CONFIG_HOME", home + "/.config"},
                          {"XDG_CACHE_HOME", home + "/.cache"},
                          {"XDG_DATA_HOME", home + "/.local/share"}});
}

} // namespace

[[noreturn]] void failBrowser(std::int32_t number, const std::string& detail) {
  raiseFrom(browser_err::kRows, number, fromUtf8(detail));
}

// The last non-empty line of a log, to say why a tool gave up.
std::string lastLine(const std::string& path) {
  std::istringstream in(readFile(path));
  std::string line, last;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
      line.pop_back();
    if (!line.empty()) last = line;
  }
  if (last.size() > 300) last.resize(300);
  return last;
}

// The given program, or else the one of that name on the host.
std::string findProgram(const std::string& given, const std::string& name) {
  const auto found =
      given.empty() ? findHostProgram(name) : firstProgram({given}, Accept::Executable);
  return found.value_or(std::string());
}

StartedProcess startInSession(std::vector<std::string> argv, const std::string& work,
                              const std::string& log, ProcessOptions::Group group) {
  ProcessOptions options;
  options.argv = std::move(argv);
  options.environment = sessionEnvironment(work);
  options.output = ProcessOptions::Output::AppendToLog;
  options.log = log;
  options.group = group;
  // Killed outright, this process still takes the session's programs along.
  options.parentDeathSignal = SIGKILL;
  return startProcess(options);
}

// Chromium as the driver is to start it: through setpriv, so that the
// browser, and with it every process it starts, ends with the driver, as
// the driver ends with this process even when that is killed outright.
// Chromium itself where there is no setpriv or the folder cannot hold a
// program.
std::string browserLauncher(const std::string& chromium, const std::string& work) {
  const auto setpriv = findHostProgram("setpriv");
  struct statvfs volume {};
  if (!setpriv || ::statvfs(work.c_str(), &volume) != 0 || (volume.f_flag & ST_NOEXEC))
    return chromium;
  const auto quoted = [](const std::string& s) {
    std::string q = "'";
    for (char c : s)
      q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  };
  const std::string launcher = work + "/chromium";
  std::ofstream(launcher, std::ios::binary)
      << "#!/bin/sh\nexec " << quoted(*setpriv) << " --pdeathsig KILL -- " << quoted(chromium)
      << " \"$@\"\n";
  if (::chmod(launcher.c_str(), 0700) != 0) return chromium;
  return launcher;
}

int freeLoopbackPort() {
  const unique_fd s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!s) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  int port = -1;
  if (bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s.get(), reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  return port;
}

// ---- HTTP to the driver -------------------------------------------------

namespace {

struct Reply {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

int abandonOnStop(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return stopRequested() ? 1 : 0;
}

Reply http(const char* method, const std::string& url, const std::string* body, long timeoutMs,
           OnStop onStop) {
  setUpCurl();
  Reply reply;
  const unique_curl easy(curl_easy_init());
  if (!easy) {
    reply.code = CURLE_OUT_OF_MEMORY;
    return reply;
  }
  CURL* c = easy.get();
  unique_curl_slist headers;
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_NOPROXY, "*"); // the driver is on loopback, never behind a proxy
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, 5000L);
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, timeoutMs);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &reply.body);
  if (body) {
    headers.reset(curl_slist_append(nullptr, "Content-Type: application/json; charset=utf-8"));
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body->c_str());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(body->size()));
  }
  if (std::strcmp(method, "POST") != 0 && std::strcmp(method, "GET") != 0)
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method);
  if (onStop == OnStop::End) {
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, abandonOnStop);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    endIfStopRequested();
  }
  reply.code = curl_easy_perform(c);
  if (onStop == OnStop::End) endIfStopRequested();
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &reply.status);
  return reply;
}

} // namespace

bool driverReady(const std::string& endpoint) {
  const Reply r = http("GET", endpoint + "/status", nullptr, 1000, OnStop::End);
  if (r.code != CURLE_OK || r.status != 200) return false;
  const json status = json::parse(r.body, nullptr, false);
  return status.is_object() && status.contains("value") && status["value"].is_object() &&
         status["value"].value("ready", false);
}

json command(const std::string& endpoint, const char* method, const std::string& path,
             const json* body, long timeoutMs, OnStop onStop) {
  std::string text;
  if (body) text = body->dump(-1, ' ', false, json::error_handler_t::replace);
  const Reply r = http(method, endpoint + path, body ? &text : nullptr, timeoutMs, onStop);
  if (r.code != CURLE_OK) {
    if (r.code == CURLE_OPERATION_TIMEDOUT)
      throw WebDriverFailure{"timeout", curl_easy_strerror(r.code)};
    throw WebDriverFailure{"", curl_easy_strerror(r.code)};
  }
  json reply = json::parse(r.body, nullptr, false);
  const json* value = reply.is_object() && reply.contains("value") ? &reply["value"] : nullptr;
  if (value && value->is_object() && value->contains("error") && (*value)["error"].is_string()) {
    const json& m = (*value)["message"];
    throw WebDriverFailure{(*value)["error"].get<std::string>(),
                           firstLine(m.is_string() ? m.get<std::string>() : std::string())};
  }
  if (r.status != 200 || !value)
    throw WebDriverFailure{"unknown error", "HTTP " + std::to_string(r.status) + " " +
                                                firstLine(r.body.substr(0, 200))};
  return *value;
}

// What the driver said, as one line: its message, which usually starts with
// the error code already.
std::string detailOf(const WebDriverFailure& f) {
  if (f.message.empty()) return f.error;
  if (f.error.empty() || f.message.rfind(f.error, 0) == 0) return f.message;
  return f.error + ": " + f.message;
}

// A failed page load, from the WebDriver error or Chromium's net error code.
[[noreturn]] void failNavigation(const std::string& error, const std::string& detail) {
  const std::string upper = asciiUpper(detail);
  if (error == "insecure certificate" || contains(upper, "ERR_CERT_") ||
      contains(upper, "ERR_INSECURE_RESPONSE"))
    failBrowser(browser_err::InsecureCertificate, detail);
  if (contains(upper, "ERR_NAME_NOT_RESOLVED") || contains(upper, "ERR_NAME_RESOLUTION_FAILED"))
    failBrowser(browser_err::NameNotResolved, detail);
  if (error == "timeout" || contains(upper, "TIMED_OUT")) failBrowser(browser_err::Timeout, detail);
  if (error == "invalid argument") failBrowser(browser_err::InvalidAddress, detail);
  if (contains(upper, "ERR_")) failBrowser(browser_err::PageNotOpened, detail);
  failBrowser(browser_err::BrowserError, detail);
}

// ---- The session ----------------------------------------------------------

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

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

} // namespace

WebDriverSession::WebDriverSession(const SessionSetup& setup) {
  const std::string driver = findProgram(setup.programs.driver, "chromedriver");
  if (driver.empty()) failBrowser(browser_err::DriverNotFound);
  const std::string chromium = findProgram(setup.programs.browser, "chromium");
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

    trustAuthorities(setup.authorities, setup.programs.certutil);

    const NameResolution names =
        setup.hostsFile ? resolutionFor(*setup.hostsFile, work_) : NameResolution();
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

void WebDriverSession::trustAuthorities(const std::string& pem, const std::string& certutilGiven) {
  const auto authorities = pemCertificates(pem);
  if (authorities.empty()) return;
  const std::string certutil = findProgram(certutilGiven, "certutil");
  if (certutil.empty()) failBrowser(browser_err::CertificateStore, "certutil not found");
  const std::string home = work_ + "/home";
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

void WebDriverSession::launchDriver(const std::string& driver,
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

void WebDriverSession::navigate(const std::string& url) {
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

void WebDriverSession::end() noexcept {
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

} // namespace vk::posix
