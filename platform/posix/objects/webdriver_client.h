// The browser-automation object's client of the host's chromedriver: a
// session with its programs and its folder, the W3C WebDriver calls, and
// the failures they end in, with the numbers of browser_automation.h.
#pragma once

#include "platform/posix/host/process.h"
#include "platform/text.h"

#include <sys/types.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vk::posix {

using json = nlohmann::json;

// Raises the browser object's error: its number, the text of its row and
// the driver's or the browser's own message.
[[noreturn]] void failBrowser(std::int32_t number, const std::string& detail = {});

// The given program, or else the one of that name on the host.
std::string findProgram(const std::string& given, const std::string& name);

// The last non-empty line of a log, to say why a tool gave up.
std::string lastLine(const std::string& path);

// Starts one of the session's programs with the session's own HOME and
// temporary folder under work, its output appended to log. Killed outright,
// this process still takes it along.
StartedProcess startInSession(std::vector<std::string> argv, const std::string& work,
                              const std::string& log, ProcessOptions::Group group);

// Chromium as the driver is to start it (see the source).
std::string browserLauncher(const std::string& chromium, const std::string& work);

// A port on loopback nothing listens on now; -1 when none is found.
int freeLoopbackPort();

// Whether the driver at the endpoint says it is ready.
bool driverReady(const std::string& endpoint);

// What a request does when a stop is asked for while it runs: gives up and
// ends the program, or (ending the session) finishes.
enum class OnStop { End, Finish };

// A WebDriver command that did not succeed: the WebDriver error code and
// message, or an empty code when the driver did not answer at all.
struct WebDriverFailure {
  std::string error;
  std::string message;
};

// One WebDriver command; its "value", or a WebDriverFailure.
json command(const std::string& endpoint, const char* method, const std::string& path,
             const json* body, long timeoutMs, OnStop onStop = OnStop::End);

// What the driver said, as one line: its message, which usually starts with
// the error code already.
std::string detailOf(const WebDriverFailure& f);

// A failed page load, from the WebDriver error or Chromium's net error code.
[[noreturn]] void failNavigation(const std::string& error, const std::string& detail);

// The host's programs a session runs; each empty one is looked for on the
// host by its name.
struct BrowserPrograms {
  std::string driver;  // chromedriver
  std::string browser; // chromium
  std::string certutil;
};

// What a session starts from: its programs, and what the machine gives it:
// the authorities it trusts (PEM text) and its hosts file's text (none when
// the machine has none).
struct SessionSetup {
  BrowserPrograms programs;
  std::string authorities;
  std::optional<std::string> hostsFile;
};

// One headless Chromium session driven through the host's chromedriver, on
// a free loopback port, in its own process group. Everything it writes (the
// driver's log, a HOME with its certificate database, temporary files and
// the browser profile) lives in one folder; when the object goes, the
// session, each of its processes and the folder go with it. A failure to
// start raises the browser object's error, and nothing of it is left.
class WebDriverSession {
public:
  explicit WebDriverSession(const SessionSetup& setup);
  ~WebDriverSession() { end(); }
  WebDriverSession(const WebDriverSession&) = delete;
  WebDriverSession& operator=(const WebDriverSession&) = delete;

  // Opens the address; a page that did not load raises the error for why.
  void navigate(const std::string& url);

  const std::string& folder() const { return work_; }
  pid_t driver() const { return driver_; }

private:
  // The machine's authorities, trusted through an NSS database in the
  // session's HOME, where Chromium looks for the user's.
  void trustAuthorities(const std::string& pem, const std::string& certutilGiven);
  void launchDriver(const std::string& driver, const std::vector<std::string>& wrapper);
  void end() noexcept;

  std::string work_;
  pid_t driver_ = 0;
  std::string endpoint_; // http://127.0.0.1:<port>
  std::string session_;
};

} // namespace vk::posix
