// The browser-automation object: when its classes exist, how its members
// refuse misuse, and real headless Chromium sessions against loopback HTTPS
// servers whose certificates come from an authority made here. Host names
// reach the servers through the machine's hosts file; nothing leaves the
// machine.
#include "platform/posix/machine/machine.h"
#include "platform/posix/objects/browser_automation.h"
#include "platform/posix/objects/objects.h"
#include "support/failures.h"
#include "support/fake_runtime_posix.h"
#include "support/host_files.h"
#include "support/https_server.h"
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace vk {
namespace {

namespace fs = std::filesystem;
namespace be = posix::browser_err;
using posix::BrowserAutomation;
using test::Credentials;
using test::HttpsServer;
using test::TestCa;

constexpr char16_t kClass[] = u"{0277FC34-FD1B-4616-BB19-5D556733E8C9}";
constexpr char16_t kFallbackClass[] = u"{0277FC34-FD1B-4616-BB19-E3CCFFAB4234}";
constexpr char16_t kInterface[] = u"{0277FC34-FD1B-4616-BB19-CC6284398AA5}";
const std::string kClassKey = "Software\\Classes\\CLSID\\{0277FC34-FD1B-4616-BB19-5D556733E8C9}";
const std::string kFallbackKey = "Software\\Classes\\CLSID\\{0277FC34-FD1B-4616-BB19-E3CCFFAB4234}";

const std::string kPage = "<!DOCTYPE html><html><head><title>Vorlan</title></head>"
                          "<body>tamam</body></html>";

// A simulated machine with the library's classes registered (or not), a
// hosts file and, optionally, extra trusted authorities.
struct Box {
  explicit Box(std::vector<std::string> classKeys, const std::string& hosts = {},
               const std::optional<std::string>& authorities = std::nullopt) {
    for (const auto& key : classKeys)
      tm.setRegString(false, key, "", "Tarayıcı otomasyonu");
    test::writeHostFile(tm.root() + "/drive_c/windows/system32/drivers/etc/hosts", hosts);
    if (authorities) test::writeHostFile(tm.root() + "/ca-certificates.pem", *authorities);
    machine = std::make_unique<posix::Machine>(tm.root());
    rt = std::make_unique<test::FakeRuntime>(*machine);
  }
  test::TestMachine tm;
  std::unique_ptr<posix::Machine> machine;
  std::unique_ptr<test::FakeRuntime> rt;
};

#define EXPECT_FAILS_WITH(statement, expected)                                                     \
  do {                                                                                             \
    const auto e_ = test::errorOf([&] { statement; });                                             \
    ASSERT_TRUE(e_.has_value()) << #statement " did not fail";                                     \
    EXPECT_EQ(e_->number(), (expected)) << toUtf8(e_->description());                              \
  } while (0)

// Once an object is released, nothing of its session may be left: no
// process, no unreaped child, no folder.
void expectSessionGone(const std::string& folder, pid_t driver) {
  ASSERT_FALSE(folder.empty());
  ASSERT_GT(driver, 0);
  EXPECT_TRUE(test::processesUsing(folder).empty());
  errno = 0;
  EXPECT_EQ(waitpid(driver, nullptr, WNOHANG), -1) << "the driver is still a child of ours";
  EXPECT_EQ(errno, ECHILD);
  EXPECT_FALSE(fs::exists(folder));
}

BrowserAutomation& automation(const ObjectRef& ref) {
  auto* b = dynamic_cast<BrowserAutomation*>(ref.get());
  if (!b) throw std::runtime_error("not the browser-automation object");
  return *b;
}

bool received(const HttpsServer& server, const std::string& target) {
  const auto requests = server.requests();
  return std::any_of(requests.begin(), requests.end(),
                     [&](const test::ReceivedRequest& r) { return r.target == target; });
}

// ---- Classes ---------------------------------------------------------------

TEST(BrowserAutomationClasses, ExistOnlyWhenRegistered) {
  {
    Box box({});
    EXPECT_FAILS_WITH(box.rt->createObject(kClass, kInterface), err::CannotCreateObject);
    EXPECT_FAILS_WITH(box.rt->createObject(kFallbackClass, kInterface), err::CannotCreateObject);
  }
  {
    // Each class answers for itself: the fallback's key does not make the first one.
    Box box({kFallbackKey});
    EXPECT_FAILS_WITH(box.rt->createObject(kClass, kInterface), err::CannotCreateObject);
    const ObjectRef fallback = box.rt->createObject(kFallbackClass, kInterface);
    ASSERT_TRUE(fallback);
    EXPECT_NO_THROW(automation(fallback));
  }
  {
    Box box({kClassKey, kFallbackKey});
    const ObjectRef first = box.rt->createObject(kClass, kInterface);
    // Class identifiers match without regard to case, as COM's do.
    const ObjectRef second =
        box.rt->createObject(u"{0277fc34-fd1b-4616-bb19-e3ccffab4234}", kInterface);
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_NE(first, second);
    // Creating starts nothing yet.
    EXPECT_EQ(automation(first).driverProcess(), 0);
    EXPECT_EQ(automation(first).workFolder(), "");
  }
}

// ---- Members without a browser ------------------------------------------------

TEST(BrowserAutomationMembers, RefuseMisuseWithoutStartingAnything) {
  Box box({kClassKey});
  const ObjectRef ref = box.rt->createObject(kClass, kInterface);
  Object& o = *ref;

  // The program calls it by dispatch identifier only.
  EXPECT_FAILS_WITH(o.call(u"Start", {u"Chrome"}), err::NoSuchMember);
  EXPECT_FAILS_WITH(o.put(u"BaseUrl", u"https://www.google.com"), err::NoSuchMember);
  EXPECT_FAILS_WITH(o.callId(7, {u"Chrome"}), err::NoSuchMember);

  EXPECT_FAILS_WITH(o.callId(BrowserAutomation::kStart, {}), err::WrongArgumentCount);
  EXPECT_FAILS_WITH(o.callId(BrowserAutomation::kStart, {u"Chrome", u"x"}),
                    err::WrongArgumentCount);
  EXPECT_FAILS_WITH(o.callId(BrowserAutomation::kGet, {}), err::WrongArgumentCount);

  // Opening an address before a session was started.
  const auto noSession =
      test::errorOf([&] { o.callId(BrowserAutomation::kGet, {u"https://www.google.com"}); });
  ASSERT_TRUE(noSession);
  EXPECT_EQ(noSession->number(), be::NoSession);
  EXPECT_NE(toUtf8(noSession->description()).find("oturumu"), std::string::npos);

  // Only Chrome is driven; the name is part of the description.
  for (const char16_t* name : {u"Firefox", u"Edge", u"", u"Chrome "}) {
    const auto e = test::errorOf([&] { o.callId(BrowserAutomation::kStart, {Text(name)}); });
    ASSERT_TRUE(e) << toUtf8(name);
    EXPECT_EQ(e->number(), be::UnsupportedBrowser);
    EXPECT_NE(toUtf8(e->description()).find("Desteklenmeyen tarayıcı"), std::string::npos);
  }
  const auto firefox = test::errorOf([&] { o.callId(BrowserAutomation::kStart, {u"Firefox"}); });
  ASSERT_TRUE(firefox);
  EXPECT_NE(toUtf8(firefox->description()).find("Firefox"), std::string::npos);

  // None of that started a session.
  EXPECT_EQ(automation(ref).driverProcess(), 0);
  EXPECT_EQ(automation(ref).workFolder(), "");
  EXPECT_FAILS_WITH(o.callId(BrowserAutomation::kGet, {u"https://www.google.com"}), be::NoSession);
}

// Sessions made under a temporary folder of this test, so what a failed start
// leaves behind can be seen.
class ScratchTemp {
public:
  ScratchTemp() {
    std::string t = (fs::temp_directory_path() / "vk-browser-test-XXXXXX").string();
    if (!mkdtemp(t.data())) throw std::runtime_error("mkdtemp");
    dir_ = t;
    if (const char* old = std::getenv("TMPDIR")) old_ = old;
    setenv("TMPDIR", dir_.c_str(), 1);
  }
  ~ScratchTemp() {
    if (old_)
      setenv("TMPDIR", old_->c_str(), 1);
    else
      unsetenv("TMPDIR");
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  // Session folders (the test machine lives here too).
  int sessionFolders() const {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir_))
      n += e.path().filename().string().rfind("vkb-", 0) == 0;
    return n;
  }
  const std::string& dir() const { return dir_; }

private:
  std::string dir_;
  std::optional<std::string> old_;
};

TEST(BrowserAutomationMembers, MissingOrFailingHostProgramsFail) {
  ScratchTemp temp;
  Box box({}, "", TestCa().pem());
  const auto start = [&](posix::BrowserPrograms programs) {
    BrowserAutomation b(box.rt->context(), std::move(programs));
    const auto e = test::errorOf([&] { b.callId(BrowserAutomation::kStart, {u"Chrome"}); });
    EXPECT_EQ(b.driverProcess(), 0);
    EXPECT_EQ(b.workFolder(), "");
    EXPECT_EQ(temp.sessionFolders(), 0) << "a failed start left its folder in " << temp.dir();
    return e;
  };

  auto e = start({"/yok/chromedriver", "", ""});
  ASSERT_TRUE(e);
  EXPECT_EQ(e->number(), be::DriverNotFound);
  EXPECT_NE(toUtf8(e->description()).find("chromedriver"), std::string::npos);

  e = start({"", "/yok/chromium", ""});
  ASSERT_TRUE(e);
  EXPECT_EQ(e->number(), be::BrowserNotFound);

  // A driver that ends at once, whatever port it is given.
  e = start({"/bin/false", "", ""});
  ASSERT_TRUE(e);
  EXPECT_EQ(e->number(), be::DriverNotStarted);

  // The machine's authorities cannot be made trusted: no session without them.
  e = start({"", "", "/bin/false"});
  ASSERT_TRUE(e);
  EXPECT_EQ(e->number(), be::CertificateStore);
  e = start({"", "", "/yok/certutil"});
  ASSERT_TRUE(e);
  EXPECT_EQ(e->number(), be::CertificateStore);
  // The authorities come before the driver: when both fail, theirs is told.
  e = start({"/bin/false", "", "/bin/false"});
  ASSERT_TRUE(e);
  EXPECT_EQ(e->number(), be::CertificateStore);
}

// ---- Hosts file -------------------------------------------------------------

TEST(BrowserAutomationHosts, RulesFollowTheHostsFile) {
  EXPECT_EQ(posix::hostResolverRules(""), "");
  EXPECT_EQ(posix::hostResolverRules("# only comments\r\n\r\n   # indented\r\n"), "");
  EXPECT_EQ(posix::hostResolverRules("127.0.0.1 localhost\r\n::1 localhost\r\n"), "");

  EXPECT_EQ(posix::hostResolverRules("127.0.0.1\twww.google.com\r\n"),
            "MAP www.google.com 127.0.0.1, EXCLUDE localhost");

  // Windows' own layout: comments, several names a line, case, IPv6, the
  // first line that names a host deciding, and lines that are not entries.
  const std::string hosts = "\xEF\xBB\xBF# Copyright (c) 1993-2009 Microsoft Corp.\r\n"
                            "#\r\n"
                            "#      102.54.94.97     rhino.acme.com          # source server\r\n"
                            "127.0.0.5  WWW.Google.COM  vorlan.test # test page\r\n"
                            "::1 v6.test\r\n"
                            "10.0.0.9 www.google.com\r\n"
                            "not-an-address bad.test\r\n"
                            "300.1.1.1 bad2.test\r\n"
                            "127.0.0.7 odd,name.test ok.test\r\n";
  EXPECT_EQ(posix::hostResolverRules(hosts),
            "MAP www.google.com 127.0.0.5, MAP vorlan.test 127.0.0.5, MAP v6.test [::1], "
            "MAP ok.test 127.0.0.7, EXCLUDE localhost");
}

// ---- Real sessions ------------------------------------------------------------

TEST(BrowserSession, OpensATrustedPageAndEndsEverythingWhenReleased) {
  TestCa ca;
  HttpsServer server(ca.issue({"www.google.com"}));
  server.serve("/kontrol", 200, kPage, {"Content-Type: text/html; charset=utf-8"});
  Box box({kClassKey}, "127.0.0.1 www.google.com\r\n", ca.pem());

  ObjectRef ref = box.rt->createObject(kClass, kInterface);
  ref->callId(BrowserAutomation::kStart, {u"Chrome"});
  const std::string folder = automation(ref).workFolder();
  const pid_t driver = automation(ref).driverProcess();
  ASSERT_GT(driver, 0);
  ASSERT_TRUE(fs::is_directory(folder));
  // The driver and the browser it started both belong to the session.
  const auto running = test::processesUsing(folder);
  EXPECT_GE(running.size(), 2u);
  EXPECT_NE(std::find(running.begin(), running.end(), driver), running.end());

  const std::string url = server.url("www.google.com", "/kontrol");
  const auto e = test::errorOf([&] { ref->callId(BrowserAutomation::kGet, {fromUtf8(url)}); });
  ASSERT_FALSE(e) << toUtf8(e->description());
  EXPECT_TRUE(received(server, "/kontrol"));
  const auto requests = server.requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.front().host, "www.google.com:" + std::to_string(server.port()));

  ref.reset();
  expectSessionGone(folder, driver);
}

TEST(BrowserSession, FailedLoadsCarryTheirNumbersAndTheSessionGoesOn) {
  TestCa ca;
  TestCa stranger("Tanınmayan CA");
  HttpsServer good(ca.issue({"www.google.com"}));
  good.serve("/", 200, kPage, {"Content-Type: text/html"});
  HttpsServer untrusted(stranger.issue({"www.google.com"}));
  untrusted.serve("/", 200, kPage, {"Content-Type: text/html"});
  HttpsServer otherName(ca.issue({"baska.example"}, false));
  otherName.serve("/", 200, kPage, {"Content-Type: text/html"});
  Box box({kClassKey}, "127.0.0.1 www.google.com\r\n", ca.pem());

  const ObjectRef ref = box.rt->createObject(kClass, kInterface);
  ref->callId(BrowserAutomation::kStart, {u"chrome"}); // the name is not case-sensitive

  const auto open = [&](const std::string& url) {
    return test::errorOf([&] { ref->callId(BrowserAutomation::kGet, {fromUtf8(url)}); });
  };

  // A certificate from an authority the machine does not trust.
  auto e = open(untrusted.url("www.google.com", "/"));
  ASSERT_TRUE(e);
  EXPECT_EQ(e->number(), be::InsecureCertificate) << toUtf8(e->description());
  EXPECT_NE(toUtf8(e->description()).find("ERR_CERT_AUTHORITY_INVALID"), std::string::npos)
      << toUtf8(e->description());
  EXPECT_TRUE(untrusted.requests().empty()) << "the page was requested over a refused connection";

  // A trusted certificate for another name.
  e = open(otherName.url("www.google.com", "/"));
  ASSERT_TRUE(e);
  EXPECT_EQ(e->number(), be::InsecureCertificate) << toUtf8(e->description());
  EXPECT_NE(toUtf8(e->description()).find("ERR_CERT_COMMON_NAME_INVALID"), std::string::npos)
      << toUtf8(e->description());

  // A name neither the hosts file nor any resolver knows.
  e = open("https://yok.invalid/");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->number(), be::NameNotResolved) << toUtf8(e->description());
  EXPECT_NE(toUtf8(e->description()).find("ERR_NAME_NOT_RESOLVED"), std::string::npos);

  // Nobody listening.
  e = open("https://www.google.com:" + std::to_string(test::unusedPort()) + "/");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->number(), be::PageNotOpened) << toUtf8(e->description());
  EXPECT_NE(toUtf8(e->description()).find("ERR_CONNECTION_REFUSED"), std::string::npos)
      << toUtf8(e->description());

  // Not an address at all.
  e = open("yalnızca metin");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->number(), be::InvalidAddress) << toUtf8(e->description());

  // The same session still opens a good page.
  e = open(good.url("www.google.com", "/"));
  EXPECT_FALSE(e) << toUtf8(e->description());
  EXPECT_TRUE(received(good, "/"));
}

TEST(BrowserSession, WithoutTheMachinesAuthoritiesNothingIsTrusted) {
  TestCa ca;
  HttpsServer server(ca.issue({"www.google.com"}));
  server.serve("/", 200, kPage, {"Content-Type: text/html"});
  Box box({kClassKey}, "127.0.0.1 www.google.com\r\n"); // no ca-certificates.pem

  ObjectRef ref = box.rt->createObject(kClass, kInterface);
  ref->callId(BrowserAutomation::kStart, {u"Chrome"});
  EXPECT_FAILS_WITH(
      ref->callId(BrowserAutomation::kGet, {fromUtf8(server.url("www.google.com", "/"))}),
      be::InsecureCertificate);
  EXPECT_TRUE(server.requests().empty());
}

// Under a temporary folder of a long path too: the browser's socket under
// the session's folder must stay within the 108 bytes a socket address holds.
TEST(BrowserSession, StartingAgainReplacesTheSession) {
  ScratchTemp temp;
  const std::string longTemp = temp.dir() + "/" + std::string(70, 'u');
  fs::create_directories(longTemp);
  setenv("TMPDIR", longTemp.c_str(), 1);
  TestCa ca;
  HttpsServer server(ca.issue({"vorlan.test"}));
  server.serve("/ikinci", 200, kPage, {"Content-Type: text/html"});
  Box box({kClassKey}, "127.0.0.1 vorlan.test\r\n", ca.pem());

  ObjectRef ref = box.rt->createObject(kClass, kInterface);
  ref->callId(BrowserAutomation::kStart, {u"Chrome"});
  const std::string firstFolder = automation(ref).workFolder();
  const pid_t firstDriver = automation(ref).driverProcess();

  EXPECT_LT(firstFolder.size(), 60u) << firstFolder;
  ref->callId(BrowserAutomation::kStart, {u"CHROME"});
  expectSessionGone(firstFolder, firstDriver);
  const std::string folder = automation(ref).workFolder();
  const pid_t driver = automation(ref).driverProcess();
  EXPECT_NE(folder, firstFolder);

  const auto e = test::errorOf([&] {
    ref->callId(BrowserAutomation::kGet, {fromUtf8(server.url("vorlan.test", "/ikinci"))});
  });
  EXPECT_FALSE(e) << toUtf8(e->description());
  EXPECT_TRUE(received(server, "/ikinci"));

  ref.reset();
  expectSessionGone(folder, driver);
}

// An ad-blocking hosts file can be too large for Chromium's command line
// (a few thousand lines are); the names in it still resolve as it says,
// the last line's as well.
TEST(BrowserSession, FollowsAHostsFileTooLargeForTheCommandLine) {
  TestCa ca;
  HttpsServer server(ca.issue({"vorlan.test"}));
  server.serve("/buyuk", 200, kPage, {"Content-Type: text/html"});
  std::string hosts = "127.0.0.1 localhost\r\n";
  for (int i = 0; i < 3'000; ++i)
    hosts += "0.0.0.0 ads" + std::to_string(i) + ".tracker.example.com\r\n";
  hosts += "127.0.0.1 vorlan.test\r\n";
  ASSERT_GT(posix::hostResolverRules(hosts).size(), posix::kMaxRulesArgument);
  Box box({kClassKey}, hosts, ca.pem());

  ObjectRef ref = box.rt->createObject(kClass, kInterface);
  ref->callId(BrowserAutomation::kStart, {u"Chrome"});
  const std::string folder = automation(ref).workFolder();
  const pid_t driver = automation(ref).driverProcess();
  auto e = test::errorOf([&] {
    ref->callId(BrowserAutomation::kGet, {fromUtf8(server.url("vorlan.test", "/buyuk"))});
  });
  EXPECT_FALSE(e) << toUtf8(e->description());
  EXPECT_TRUE(received(server, "/buyuk"));
  // A blocked name goes where the file sends it, not to the host's resolver
  // (which knows no such name): 0.0.0.0 is this machine, whose server
  // answers with a certificate for another name.
  e = test::errorOf([&] {
    ref->callId(BrowserAutomation::kGet, {u"https://ads2999.tracker.example.com:" +
                                          fromUtf8(std::to_string(server.port())) + u"/"});
  });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->number(), be::InsecureCertificate) << toUtf8(e->description());
  EXPECT_NE(toUtf8(e->description()).find("ERR_CERT_COMMON_NAME_INVALID"), std::string::npos)
      << toUtf8(e->description());

  ref.reset();
  expectSessionGone(folder, driver);
}

// The address the program itself opens has no port: a server on port 443 of
// a loopback address of its own, which the hosts file names.
class Port443Server {
public:
  Port443Server(const std::string& address, const Credentials& credentials,
                const std::string& folder)
      : log_(folder + "/requests.log") {
    test::writeHostFile(folder + "/server.pem", credentials.certificatePem);
    test::writeHostFile(folder + "/server.key", credentials.keyPem);
    test::writeHostFile(folder + "/server.py", R"(import http.server, os, ssl, sys
address, cert, key, log = sys.argv[1:5]
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        with open(log, 'a') as f:
            f.write(self.path + ' ' + str(self.headers.get('Host')) + '\n')
        body = b'<html><head><title>Vorlan</title></head><body>tamam</body></html>'
        self.send_response(200)
        self.send_header('Content-Type', 'text/html')
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer((address, 443), Handler)
server.daemon_threads = True
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
os.write(1, b'ready\n')  # one write: the test stops reading after it
os.dup2(os.open(os.devnull, os.O_WRONLY), 1)
server.serve_forever()
)");
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, out[1], 1);
    posix_spawn_file_actions_addopen(&files, 2, (folder + "/server.err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::vector<std::string> argv = {"/usr/bin/python3",     folder + "/server.py",  address,
                                           folder + "/server.pem", folder + "/server.key", log_};
    std::vector<char*> args;
    for (const auto& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = posix_spawn(&pid_, argv[0].c_str(), &files, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    close(out[1]);
    if (rc != 0) {
      close(out[0]);
      pid_ = -1;
      why_ = "python3 could not be started";
      return;
    }
    pollfd p{out[0], POLLIN, 0};
    char buf[16] = {};
    if (poll(&p, 1, 10'000) == 1 && read(out[0], buf, sizeof buf - 1) > 0 &&
        std::string(buf).rfind("ready", 0) == 0)
      ready_ = true;
    else
      why_ = test::readHostFile(folder + "/server.err");
    close(out[0]);
  }
  ~Port443Server() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool ready() const { return ready_; }
  const std::string& why() const { return why_; }
  std::string requests() const { return test::readHostFile(log_); }

private:
  std::string log_;
  pid_t pid_ = -1;
  bool ready_ = false;
  std::string why_;
};

TEST(BrowserSession, TheProgramsOwnAddressThroughTheFallbackClass) {
  TestCa ca;
  ScratchTemp scratch;
  // An address of loopback's own 127/8 that no other test is likely to use.
  const std::string address = "127.86." + std::to_string(getpid() % 200 + 20) + ".44";
  Port443Server server(address, ca.issue({"www.google.com"}), scratch.dir());
  if (!server.ready()) GTEST_SKIP() << "no HTTPS server on " << address << ":443: " << server.why();
  Box box({kFallbackKey}, address + " www.google.com\r\n", ca.pem());
  // The folder of a session whose tool was killed outright goes with this
  // start; a running instance's stays.
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
  const std::string stale = scratch.dir() + "/vkb-" + std::to_string(gone) + "-a1B2c3";
  const std::string live = scratch.dir() + "/vkb-" + std::to_string(getppid()) + "-b2";
  fs::create_directories(stale + "/home");
  fs::create_directories(live);

  ObjectRef ref = box.rt->createObject(kFallbackClass, kInterface);
  ref->callId(BrowserAutomation::kStart, {u"Chrome"});
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(live));
  const std::string folder = automation(ref).workFolder();
  const pid_t driver = automation(ref).driverProcess();
  const auto e =
      test::errorOf([&] { ref->callId(BrowserAutomation::kGet, {u"https://www.google.com"}); });
  EXPECT_FALSE(e) << toUtf8(e->description());
  const std::string log = server.requests();
  EXPECT_NE(log.find("/ www.google.com\n"), std::string::npos) << log;

  ref.reset();
  expectSessionGone(folder, driver);
}

} // namespace
} // namespace vk
