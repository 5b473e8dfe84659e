#include "platform/posix/objects/webdriver_client.h"

#include "platform/errors.h"
#include "platform/posix/host/curl.h"
#include "platform/posix/host/files.h"
#include "platform/posix/host/stop_signals.h"
#include "platform/posix/host/unique.h"
#include "platform/posix/objects/browser_automation.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

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

} // namespace vk::posix
