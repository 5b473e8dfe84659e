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
#include "platform/posix/host/curl.h"
#include "platform/posix/host/files.h"
#include "platform/posix/host/process.h"
#include "platform/posix/host/stop_signals.h"
#include "platform/posix/host/temp_file.h"
#include "platform/posix/host/unique.h"
#include "platform/posix/machine/hosts_file.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace vk::posix {

namespace {

using json = nlohmann::json;
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

[[noreturn]] void fail(std::int32_t number, const Text& what, const std::string& detail = {}) {
  throw RuntimeError(number, detail.empty() ? what : what + u": " + fromUtf8(detail));
}

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

// Starts one of the session's programs, its output appended to log.
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

// Waits up to `limit` for a child to end; true once it is reaped (or is no
// child of ours any more).
bool reap(pid_t pid, std::chrono::milliseconds limit, int* status = nullptr) {
  const auto deadline = Clock::now() + limit;
  int st = 0;
  for (;;) {
    const pid_t r = waitpid(pid, &st, WNOHANG);
    if (r == pid) {
      if (status) *status = st;
      return true;
    }
    if (r < 0 && errno != EINTR) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
}

// True once no process of the group runs. Zombies count as ended: the
// browser's processes outlive the driver that started them and go to
// init, which in containers may take a second or more to reap them.
bool groupGone(pid_t group) {
  if (kill(-group, 0) < 0 && errno == ESRCH) return true;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (!std::isdigit(static_cast<unsigned char>(name[0]))) continue;
    const auto stat = processStat(static_cast<pid_t>(std::stol(name)));
    if (stat && stat->group == group && stat->state != 'Z' && stat->state != 'X') return false;
  }
  return !ec;
}

// Processes that are not our children but carry the session's folder in
// their command line or environment: helpers that detached themselves from
// the driver's process group (Chromium's crash handler does).
std::vector<pid_t> processesUsing(const std::string& needle) {
  std::vector<pid_t> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() ||
        !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    if (pid == getpid()) continue;
    const std::string dir = entry.path().string();
    if (contains(readFile(dir + "/cmdline"), needle) ||
        contains(readFile(dir + "/environ"), needle))
      found.push_back(pid);
  }
  return found;
}

void endStragglers(const std::string& work) {
  const std::string needle = work + "/";
  auto left = processesUsing(needle);
  if (left.empty()) return;
  for (pid_t p : left)
    kill(p, SIGTERM);
  const auto deadline = Clock::now() + 2s;
  while (!(left = processesUsing(needle)).empty() && Clock::now() < deadline)
    std::this_thread::sleep_for(50ms);
  for (pid_t p : left)
    kill(p, SIGKILL);
  const auto last = Clock::now() + 1s;
  while (!processesUsing(needle).empty() && Clock::now() < last)
    std::this_thread::sleep_for(20ms);
}

// Where the session's folder goes. Its files are many and small (the NSS
// database, which syncs every write, and the browser's profile), and on a
// disk creating and deleting them costs a good part of a second; the
// host's memory-backed /dev/shm costs nearly nothing. A TMPDIR of the
// user's, or a /dev/shm too small to be sure of (containers give 64 MB),
// keeps the usual temporary folder.
fs::path sessionParent() {
  const char* tmpdir = std::getenv("TMPDIR");
  struct statvfs shm {};
  if ((!tmpdir || !*tmpdir) && statvfs("/dev/shm", &shm) == 0 &&
      static_cast<unsigned long long>(shm.f_bavail) * shm.f_frsize >= (512ull << 20) &&
      access("/dev/shm", W_OK | X_OK) == 0)
    return "/dev/shm";
  return fs::temp_directory_path();
}

// A session's folder: "vkb-<pid>-XXXXXX". Short, since the browser's socket
// paths under it must stay within the 108 bytes a socket address holds.
constexpr std::string_view kSessionPrefix = "vkb-";

// The folders of sessions whose tool was killed outright (those of a
// process that is gone, and ours): their programs died with it, their
// folder did not. A running instance's are never touched.
void removeStaleSessions(const fs::path& parent) {
  static constexpr std::string_view kPrefix = kSessionPrefix;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(parent, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kPrefix, 0) != 0) continue;
    // mkdtemp's six letters and digits.
    const pid_t owner = ownerOf(std::string_view(name).substr(kPrefix.size()), 6,
                                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    struct stat st {};
    if (!ownerGone(owner) || lstat(entry.path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != geteuid())
      continue;
    std::error_code removal;
    fs::remove_all(entry.path(), removal);
  }
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

struct Reply {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// What a request does when a stop is asked for while it runs: gives up and
// ends the program, or (ending the session) finishes.
enum class OnStop { End, Finish };

int abandonOnStop(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return stopRequested() ? 1 : 0;
}

Reply http(const char* method, const std::string& url, const std::string* body, long timeoutMs,
           OnStop onStop = OnStop::End) {
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

// A WebDriver command that did not succeed: the WebDriver error code and
// message, or an empty code when the driver did not answer at all.
struct WebDriverFailure {
  std::string error;
  std::string message;
};

json command(const std::string& endpoint, const char* method, const std::string& path,
             const json* body, long timeoutMs, OnStop onStop = OnStop::End) {
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
    fail(browser_err::InsecureCertificate, u"Güvenli olmayan sertifika", detail);
  if (contains(upper, "ERR_NAME_NOT_RESOLVED") || contains(upper, "ERR_NAME_RESOLUTION_FAILED"))
    fail(browser_err::NameNotResolved, u"Sunucu adı çözümlenemedi", detail);
  if (error == "timeout" || contains(upper, "TIMED_OUT"))
    fail(browser_err::Timeout, u"Tarayıcı zaman aşımına uğradı", detail);
  if (error == "invalid argument")
    fail(browser_err::InvalidAddress, u"Geçersiz web adresi", detail);
  if (contains(upper, "ERR_")) fail(browser_err::PageNotOpened, u"Sayfa açılamadı", detail);
  fail(browser_err::BrowserError, u"Tarayıcı hatası", detail);
}

// Chromium's error pages (an untrusted certificate's warning among them)
// are pages like any other to the driver, which reports the load as a
// success; the page itself names the error.
constexpr char kErrorPageScript[] =
    "if (String(document.URL).indexOf('chrome-error:') !== 0) return null;"
    "var e = document.querySelector('#error-code, .error-code');"
    "var t = e ? String(e.textContent).trim() : '';"
    "return t || 'net::ERR_FAILED';";

bool plainHostName(const std::string& name) {
  if (name.empty() || name.size() > 253) return false;
  // ASCII only, whatever the locale says a letter is.
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
  });
}

void requireRegistered(ObjectContext ctx, const char16_t* key) {
  if (!ctx.machine.registry().keyExists(Hive::LocalMachine, key))
    throw RuntimeError(err::CannotCreateObject);
}

} // namespace

std::string hostResolverRules(const std::string& hostsFile) {
  return hostResolverRules(parseHostsFile(hostsFile));
}

std::string hostResolverRules(const std::vector<HostsEntry>& entries) {
  std::string rules;
  std::size_t size = 0;
  for (const HostsEntry& e : entries)
    size += e.name.size() + e.address.size() + 7;
  rules.reserve(size + 20);
  for (const HostsEntry& e : entries) {
    // Chromium resolves localhost itself; the rules keep it out (below).
    if (e.name == "localhost" || !plainHostName(e.name)) continue;
    rules.append("MAP ").append(e.name).append(" ").append(e.address).append(", ");
  }
  if (rules.empty()) return {};
  return rules + "EXCLUDE localhost";
}

std::string etcHosts(const std::vector<HostsEntry>& entries) {
  // The driver and the browser reach each other over loopback by this name.
  std::string text = "127.0.0.1 localhost\n::1 localhost\n";
  for (const HostsEntry& e : entries) {
    if (e.name == "localhost" || !plainHostName(e.name)) continue;
    const bool v6 = e.address.front() == '[';
    if (v6)
      text.append(e.address, 1, e.address.size() - 2);
    else
      text += e.address;
    text.append(" ").append(e.name).append("\n");
  }
  return text;
}

NameResolution resolutionFor(const std::string& hostsFile, const std::string& folder) {
  const std::vector<HostsEntry> entries = parseHostsFile(hostsFile);
  NameResolution r;
  r.rules = hostResolverRules(entries);
  if (r.rules.size() <= kMaxRulesArgument) return r;
  // Too many names for one argument: the driver and the browser it starts
  // run in a mount namespace of their own whose /etc/hosts is the machine's
  // file, which the host's resolver and Chromium's own both read for every
  // name, as Windows does with its hosts file.
  r.rules.clear();
  const std::string path = folder + "/hosts";
  std::ofstream(path, std::ios::binary) << etcHosts(entries);
  const std::string unshare = findHostProgram("unshare").value_or("unshare");
  r.wrapper = {unshare,
               "--user",
               "--map-root-user",
               "--mount",
               "/bin/sh",
               "-c",
               "mount --bind \"$0\" /etc/hosts && exec \"$@\"",
               path};
  return r;
}

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
    fail(browser_err::BrowserError, u"Tarayıcı hatası", e.what());
  }
}

void BrowserAutomation::start(const Text& browser) {
  if (!equalsIgnoreCase(browser, u"Chrome"))
    fail(browser_err::UnsupportedBrowser, u"Desteklenmeyen tarayıcı", toUtf8(browser));
  end(); // a new session replaces the old one

  const std::string driver = findProgram(programs_.driver, "chromedriver");
  if (driver.empty())
    fail(browser_err::DriverNotFound, u"Tarayıcı sürücüsü (chromedriver) bulunamadı");
  const std::string chromium = findProgram(programs_.browser, "chromium");
  if (chromium.empty()) fail(browser_err::BrowserNotFound, u"Tarayıcı (chromium) bulunamadı");

  try {
    const fs::path parent = sessionParent();
    removeStaleSessions(parent);
    std::string folder =
        (parent / (std::string(kSessionPrefix) + std::to_string(getpid()) + "-XXXXXX")).string();
    if (!mkdtemp(folder.data()))
      fail(browser_err::DriverNotStarted, u"Tarayıcı sürücüsü başlatılamadı",
           std::string("mkdtemp: ") + std::strerror(errno));
    work_ = folder;
    for (const char* sub : {"/home", "/tmp"})
      fs::create_directories(work_ + sub);

    trustMachineAuthorities(work_ + "/home");

    const auto hostsFile = machine_.hostsFile();
    const NameResolution names =
        hostsFile ? resolutionFor(readFile(*hostsFile), work_) : NameResolution();
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
      if (f.error.empty())
        fail(browser_err::DriverNotStarted, u"Tarayıcı sürücüsü yanıt vermiyor", detailOf(f));
      fail(browser_err::SessionNotCreated, u"Tarayıcı oturumu açılamadı", detailOf(f));
    }
    if (value.is_object() && value.contains("sessionId") && value["sessionId"].is_string())
      session_ = value["sessionId"].get<std::string>();
    if (session_.empty())
      fail(browser_err::SessionNotCreated, u"Tarayıcı oturumu açılamadı",
           "no session id in the driver's answer");
  } catch (...) {
    end();
    throw;
  }
}

void BrowserAutomation::trustMachineAuthorities(const std::string& home) {
  const auto authorities = pemCertificates(readFile(machine_.authoritiesFile()));
  if (authorities.empty()) return;
  const std::string certutil = findProgram(programs_.certutil, "certutil");
  if (certutil.empty())
    fail(browser_err::CertificateStore, u"Güvenilen sertifikalar tarayıcıya eklenemedi",
         "certutil not found");
  const std::string db = "sql:" + home + "/.pki/nssdb";
  fs::create_directories(home + "/.pki/nssdb");
  const std::string log = work_ + "/certutil.log";
  const auto run = [&](std::vector<std::string> argv) {
    const StartedProcess started =
        startInSession(std::move(argv), work_, log, ProcessOptions::Group::Ours);
    if (!started.pid)
      fail(browser_err::CertificateStore, u"Güvenilen sertifikalar tarayıcıya eklenemedi",
           certutil + ": " + std::strerror(started.error));
    const pid_t pid = started.pid;
    int status = 0;
    if (!reap(pid, 20s, &status)) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      fail(browser_err::CertificateStore, u"Güvenilen sertifikalar tarayıcıya eklenemedi",
           "certutil did not finish");
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      fail(browser_err::CertificateStore, u"Güvenilen sertifikalar tarayıcıya eklenemedi",
           lastLine(log));
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
      fail(browser_err::DriverNotStarted, u"Tarayıcı sürücüsü başlatılamadı",
           driver + ": " + std::strerror(started.error));
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
      const Reply r = http("GET", endpoint_ + "/status", nullptr, 1000);
      if (r.code == CURLE_OK && r.status == 200) {
        const json status = json::parse(r.body, nullptr, false);
        if (status.is_object() && status.contains("value") && status["value"].is_object() &&
            status["value"].value("ready", false))
          return;
      }
      if (Clock::now() >= deadline)
        fail(browser_err::DriverNotStarted, u"Tarayıcı sürücüsü başlatılamadı",
             "chromedriver not ready within 20 s");
      std::this_thread::sleep_for(10ms);
    }
  }
  fail(browser_err::DriverNotStarted, u"Tarayıcı sürücüsü başlatılamadı", why);
}

void BrowserAutomation::open(const Text& address) {
  if (session_.empty())
    fail(browser_err::NoSession, u"Tarayıcı oturumu başlatılmamış (önce oturum açılmalı)");
  const std::string url = toUtf8(address);
  const std::string base = "/session/" + session_;
  try {
    const json go = {{"url", url}};
    command(endpoint_, "POST", base + "/url", &go, kNavigateTimeoutMs);
  } catch (const WebDriverFailure& f) {
    if (f.error.empty())
      fail(browser_err::DriverNotStarted, u"Tarayıcı sürücüsü yanıt vermiyor", detailOf(f));
    failNavigation(f.error, detailOf(f));
  }
  json page;
  try {
    const json script = {{"script", kErrorPageScript}, {"args", json::array()}};
    page = command(endpoint_, "POST", base + "/execute/sync", &script, 20'000);
  } catch (const WebDriverFailure& f) {
    if (f.error.empty())
      fail(browser_err::DriverNotStarted, u"Tarayıcı sürücüsü yanıt vermiyor", detailOf(f));
    fail(browser_err::BrowserError, u"Tarayıcı hatası", detailOf(f));
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
  if (driver_ > 0) {
    const pid_t group = driver_;
    kill(-group, SIGTERM);
    bool reaped = false;
    const auto deadline = Clock::now() + 5s;
    while (Clock::now() < deadline) {
      if (!reaped) reaped = reap(driver_, 0ms);
      if (reaped && groupGone(group)) break;
      std::this_thread::sleep_for(5ms);
    }
    if (!groupGone(group)) kill(-group, SIGKILL);
    if (!reaped) {
      int status = 0;
      while (waitpid(driver_, &status, 0) < 0 && errno == EINTR) {
      }
    }
    const auto last = Clock::now() + 2s;
    while (!groupGone(group) && Clock::now() < last)
      std::this_thread::sleep_for(20ms);
    driver_ = 0;
  }
  endpoint_.clear();
  if (!work_.empty()) {
    try {
      endStragglers(work_);
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
