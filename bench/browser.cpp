// The browser step as the user waits on it: the browser-automation object
// started for "Chrome", opening a page and released, against a bare
// WebDriver session driven here over libcurl (chromedriver started, one
// headless session, the same page, the session deleted, the driver
// stopped), both against the same loopback HTTPS server.
//
// The bare session is the least a WebDriver client does: it has no
// certificate database of its own, so it accepts the test authority's
// certificate by acceptInsecureCerts, and it reaches the server's name by
// the same resolver rule. Prints the medians and their ratio; it measures
// and reports, it does not judge.
#include "bench_support.h"
#include "platform/posix/machine/machine.h"
#include "platform/posix/objects/browser_automation.h"
#include "platform/posix/runtime_posix.h"
#include "support/https_server.h"
#include "support/test_machine.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace vk;
using namespace bench;
using namespace std::chrono_literals;
using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 11;
constexpr char16_t kClass[] = u"{0277FC34-FD1B-4616-BB19-5D556733E8C9}";
constexpr char16_t kInterface[] = u"{0277FC34-FD1B-4616-BB19-CC6284398AA5}";
const char* const kHost = "www.google.com";
const char* const kPath = "/kontrol";
const std::string kPage = "<!DOCTYPE html><html><head><title>Vorlan</title></head>"
                          "<body>tamam</body></html>";

// The setup tool's browser step: create, start, open, release.
void ourPath(Runtime& rt, const std::string& url) {
  ObjectRef browser = rt.createObject(kClass, kInterface);
  browser->callId(posix::BrowserAutomation::kStart, {Variant(u"Chrome")});
  browser->callId(posix::BrowserAutomation::kGet, {Variant(fromUtf8(url))});
  browser.reset();
}

// ---- The bare session ----------------------------------------------------

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// One request to the driver; the answer's body, or "" when it did not answer.
std::string request(CURL* c, const char* method, const std::string& url,
                    const std::string* body = nullptr) {
  std::string reply;
  curl_easy_reset(c);
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, 60'000L);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &reply);
  curl_slist* headers = nullptr;
  if (body) {
    headers = curl_slist_append(nullptr, "Content-Type: application/json");
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body->c_str());
  }
  if (std::strcmp(method, "DELETE") == 0) curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method);
  const CURLcode rc = curl_easy_perform(c);
  curl_slist_free_all(headers);
  return rc == CURLE_OK ? reply : std::string();
}

int freePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = -1;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(s);
  return port;
}

// chromedriver, one headless session, one navigation, the session deleted
// and the driver stopped; false when a step failed.
bool bareSession(const std::string& url, const std::string& rules) {
  const int port = freePort();
  const std::string portArg = "--port=" + std::to_string(port);
  char* args[] = {const_cast<char*>("chromedriver"), const_cast<char*>(portArg.c_str()),
                  const_cast<char*>("--silent"), nullptr};
  pid_t driver = 0;
  if (posix_spawnp(&driver, args[0], nullptr, nullptr, args, environ) != 0) return false;
  const std::string endpoint = "http://127.0.0.1:" + std::to_string(port);
  CURL* c = curl_easy_init();
  bool ok = false;
  const auto deadline = Clock::now() + 20s;
  while (Clock::now() < deadline) {
    const json status = json::parse(request(c, "GET", endpoint + "/status"), nullptr, false);
    if (status.is_object() && status["value"].is_object() &&
        status["value"].value("ready", false)) {
      ok = true;
      break;
    }
    std::this_thread::sleep_for(10ms);
  }
  std::string session;
  if (ok) {
    const json caps = {
        {"capabilities",
         {{"alwaysMatch",
           {{"browserName", "chrome"},
            {"acceptInsecureCerts", true},
            {"goog:chromeOptions",
             {{"args", {"--headless=new", "--no-sandbox", "--host-resolver-rules=" + rules}}}}}}}}};
    const std::string body = caps.dump();
    const json created =
        json::parse(request(c, "POST", endpoint + "/session", &body), nullptr, false);
    if (created.is_object() && created["value"].is_object() &&
        created["value"]["sessionId"].is_string())
      session = created["value"]["sessionId"].get<std::string>();
    ok = !session.empty();
  }
  if (ok) {
    const std::string go = json{{"url", url}}.dump();
    const json navigated = json::parse(
        request(c, "POST", endpoint + "/session/" + session + "/url", &go), nullptr, false);
    ok = navigated.is_object() && navigated.contains("value") && navigated["value"].is_null();
    request(c, "DELETE", endpoint + "/session/" + session);
  }
  curl_easy_cleanup(c);
  kill(driver, SIGTERM);
  waitpid(driver, nullptr, 0);
  return ok;
}

std::unique_ptr<posix::PosixRuntime> makeRuntime(const posix::Machine& machine) {
  return std::make_unique<posix::PosixRuntime>(
      machine, u"C:\\Kurulum", u"VorlanKur", [](const Text& prompt, int, const Text&) {
        std::fprintf(stderr, "box: %s\n", toUtf8(prompt).c_str());
        return vbNo;
      });
}

} // namespace

int main() {
  for (const char* v : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
    unsetenv(v);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  test::TestMachine tm;
  test::TestCa ca;
  tm.setRegString(false, "Software\\Classes\\CLSID\\{0277FC34-FD1B-4616-BB19-5D556733E8C9}", "",
                  "Tarayıcı otomasyonu");
  tm.writeFile(u"C:\\Windows\\System32\\drivers\\etc\\hosts",
               std::string("127.0.0.1 ") + kHost + "\r\n");
  std::ofstream(tm.root() + "/ca-certificates.pem", std::ios::binary) << ca.pem();
  test::HttpsServer server(ca.issue({kHost}));
  server.serve(kPath, 200, kPage, {"Content-Type: text/html; charset=utf-8"});
  const std::string url = server.url(kHost, kPath);
  const std::string rules = std::string("MAP ") + kHost + " 127.0.0.1, EXCLUDE localhost";

  posix::Machine machine(tm.root());
  auto rt = makeRuntime(machine);

  auto oursOnce = [&] {
    const auto t0 = Clock::now();
    ourPath(*rt, url);
    return seconds(Clock::now() - t0);
  };
  bool bareOk = true;
  auto bareOnce = [&] {
    const auto t0 = Clock::now();
    bareOk = bareSession(url, rules) && bareOk;
    return seconds(Clock::now() - t0);
  };

  try {
    oursOnce(); // warm-up of both, not counted
    bareOnce();
    std::vector<double> a, b;
    for (int i = 0; i < kRuns; ++i) {
      // Alternate the order, so neither side always runs on a warmer cache.
      if (i % 2) {
        a.push_back(oursOnce());
        b.push_back(bareOnce());
      } else {
        b.push_back(bareOnce());
        a.push_back(oursOnce());
      }
    }
    const double ma = median(a), mb = median(b);
    std::printf("one page over HTTPS on 127.0.0.1, %d runs each\n", kRuns);
    std::printf("browser-automation object (start, open, release): median %.0f ms (%.0f-%.0f)\n",
                ma * 1000, *std::min_element(a.begin(), a.end()) * 1000,
                *std::max_element(a.begin(), a.end()) * 1000);
    std::printf("bare WebDriver session over libcurl:              median %.0f ms (%.0f-%.0f)%s\n",
                mb * 1000, *std::min_element(b.begin(), b.end()) * 1000,
                *std::max_element(b.begin(), b.end()) * 1000, bareOk ? "" : " (a step FAILED)");
    std::printf("ratio object / bare session: %.2f (goal: at most 1.1)\n", ma / mb);
  } catch (const RuntimeError& e) {
    std::fprintf(stderr, "the object failed with %d: %s\n", e.number(),
                 toUtf8(e.description()).c_str());
    return 1;
  }
  return 0;
}
