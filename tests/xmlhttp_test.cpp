// The request object against a loopback HTTP(S) server with a certificate
// authority made here; host names reach it through the machine's hosts file.
#include "platform/posix/machine/machine.h"
#include "platform/posix/objects/objects.h"
#include "support/failures.h"
#include "support/fake_runtime_posix.h"
#include "support/https_server.h"
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <random>

namespace vk {
namespace {

using test::HttpsServer;
using test::TestCa;

constexpr std::int32_t kCannotConnect = -2147012867;      // 0x80072EFD
constexpr std::int32_t kNameNotResolved = -2147012889;    // 0x80072EE7
constexpr std::int32_t kCertCnInvalid = -2147012858;      // 0x80072F06
constexpr std::int32_t kInvalidCa = -2147012851;          // 0x80072F0D
constexpr std::int32_t kCertDateInvalid = -2147012859;    // 0x80072F05
constexpr std::int32_t kConnectionAborted = -2147012866;  // 0x80072EFE
constexpr std::int32_t kInvalidResponse = -2147012744;    // 0x80072F78
constexpr std::int32_t kRedirectFailed = -2147012740;     // 0x80072F7C
constexpr std::int32_t kHttpsToHttp = -2147012856;        // 0x80072F08
constexpr std::int32_t kTimeout = -2147012894;            // 0x80072EE2
constexpr std::int32_t kUnrecognizedScheme = -2147012890; // 0x80072EE6
constexpr std::int32_t kInvalidUrl = -2146697214;         // 0x800C0002
constexpr std::int32_t kPending = -2147483638;            // 0x8000000A
constexpr std::int32_t kFail = -2147467259;               // 0x80004005

const char* const kDriverHost = "chromedriver.storage.googleapis.com";
const char* const kDriverPath = "/104.0.5112.79/chromedriver_win32.zip";

Bytes binaryBody(std::size_t size) {
  Bytes b;
  for (int i = 0; i < 256; ++i)
    b.push_back(static_cast<std::uint8_t>(i)); // every byte value, NUL first
  std::mt19937 rng(7);
  while (b.size() < size)
    b.push_back(static_cast<std::uint8_t>(rng()));
  b.insert(b.begin() + 1000, {0, 0, 0, 0});
  return b;
}

std::string asString(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

class XmlHttpTest : public ::testing::Test {
protected:
  void SetUp() override {
    // The loopback server is reached directly, whatever the host's proxy.
    for (const char* v : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      unsetenv(v);
  }

  void trust(const TestCa& authority) {
    std::ofstream(tm.root() + "/ca-certificates.pem", std::ios::binary) << authority.pem();
  }
  void hosts(const std::string& content) {
    tm.writeFile(u"C:\\Windows\\System32\\drivers\\etc\\hosts", content);
  }
  // The machine reads its registry once, so it is made after the test set it up.
  posix::Machine& machine() {
    if (!machine_) {
      machine_ = std::make_unique<posix::Machine>(tm.root());
      rt_ = std::make_unique<test::FakeRuntime>(*machine_);
    }
    return *machine_;
  }
  ObjectRef request() {
    machine();
    return rt_->rtcCreateObject2(u"MSXML2.XMLHTTP");
  }
  // Open GET url synchronously and Send, as the setup tool does.
  ObjectRef get(const std::string& url) {
    ObjectRef r = request();
    r->call(u"Open", {Variant(u"GET"), Variant(fromUtf8(url)), Variant(false)});
    r->call(u"Send", {});
    return r;
  }
  // The error number a GET fails with; nullopt when it succeeds. Asked
  // asynchronously too, the same failure completes the request with
  // WinINet's own number as its status (or raises a number WinINet has not).
  std::optional<std::int32_t> failureOf(const std::string& url) {
    ObjectRef r = request();
    r->call(u"Open", {Variant(u"GET"), Variant(fromUtf8(url)), Variant(true)});
    r->call(u"Send", {});
    while (r->get(u"readyState").toInt32() != 4)
      rt_->rtcDoEvents();
    const auto asyncFailure = test::errorNumber([&] { r->get(u"Status"); });
    const auto asyncStatus = asyncFailure ? 0 : r->get(u"Status").toInt32();
    r->call(u"Open", {Variant(u"GET"), Variant(fromUtf8(url)), Variant(false)});
    try {
      r->call(u"Send", {});
    } catch (const RuntimeError& e) {
      // A failed request has no response to show.
      EXPECT_EQ(test::errorNumber([&] { r->get(u"Status"); }), kFail);
      if (hr::isInternetError(e.number()))
        EXPECT_EQ(asyncStatus, static_cast<std::int32_t>(hr::win32Code(e.number()))) << url;
      else
        EXPECT_EQ(asyncFailure, e.number()) << url;
      return e.number();
    }
    EXPECT_EQ(asyncFailure, 0) << url;
    return std::nullopt;
  }

  // The objects' limits, which a test may shorten.
  posix::Limits& limits() {
    machine();
    return rt_->limits;
  }

  test::TestMachine tm;
  TestCa ca;

private:
  std::unique_ptr<posix::Machine> machine_;
  std::unique_ptr<test::FakeRuntime> rt_;
};

TEST_F(XmlHttpTest, DeliversStatusAndTheExactBinaryBody) {
  HttpsServer server(ca.issue({kDriverHost}));
  const Bytes body = binaryBody(300 * 1024 + 17);
  server.serve(kDriverPath, 200, asString(body), {"Content-Type: application/zip"});
  trust(ca);
  hosts("# test machine\n127.0.0.1   " + std::string(kDriverHost) + "  # the driver server\n");

  ObjectRef r = get(server.url(kDriverHost, kDriverPath));
  const Variant status = r->get(u"Status");
  ASSERT_TRUE(std::holds_alternative<std::int32_t>(status.value()));
  EXPECT_TRUE(vbaVarTstEq(status, Variant(std::int16_t{200})));
  EXPECT_EQ(r->get(u"responseBody").toBytes(), body);
  // Reading it again gives the same bytes.
  EXPECT_EQ(r->get(u"RESPONSEBODY").toBytes().size(), body.size());
  EXPECT_EQ(r->get(u"readyState").toInt32(), 4);
  EXPECT_EQ(r->get(u"statusText").toText(), u"OK");
  EXPECT_EQ(r->call(u"getResponseHeader", {Variant(u"content-type")}).toText(), u"application/zip");

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, kDriverPath);
  EXPECT_EQ(requests[0].host, std::string(kDriverHost) + ":" + std::to_string(server.port()));
}

TEST_F(XmlHttpTest, ErrorStatusesAreAnswersNotFailures) {
  HttpsServer server(ca.issue({kDriverHost}));
  server.serve("/broken", 500, "server trouble");
  trust(ca);
  hosts("127.0.0.1 " + std::string(kDriverHost) + "\n");

  ObjectRef missing = get(server.url(kDriverHost, "/not/there.zip"));
  EXPECT_EQ(missing->get(u"Status").toInt32(), 404);
  EXPECT_EQ(missing->get(u"statusText").toText(), u"Not Found");

  ObjectRef broken = get(server.url(kDriverHost, "/broken"));
  EXPECT_EQ(broken->get(u"Status").toInt32(), 500);
  EXPECT_EQ(asString(broken->get(u"responseBody").toBytes()), "server trouble");
}

TEST_F(XmlHttpTest, TheRealDriverAddressReachesTheLocalServer) {
  // The exact address the setup tool sends, with its default port 443: the
  // hosts file names the server and the machine's port proxy forwards 443
  // to the test server's port.
  HttpsServer server(ca.issue({kDriverHost}));
  server.serve(kDriverPath, 200, "the archive");
  trust(ca);
  hosts("127.0.0.1 " + std::string(kDriverHost) + "\n");
  tm.setRegString(false, "System\\CurrentControlSet\\Services\\PortProxy\\v4tov4\\tcp",
                  "127.0.0.1/443", "127.0.0.1/" + std::to_string(server.port()));

  ObjectRef r = get(std::string("https://") + kDriverHost + kDriverPath);
  EXPECT_EQ(r->get(u"Status").toInt32(), 200);
  EXPECT_EQ(asString(r->get(u"responseBody").toBytes()), "the archive");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].host, kDriverHost);
}

TEST_F(XmlHttpTest, FollowsRedirectsAcrossHostsOfTheHostsFile) {
  HttpsServer first(ca.issue({kDriverHost}));
  HttpsServer second(ca.issue({"mirror.example.test"}));
  first.redirect("/old", "/moved", 301);
  first.redirect("/moved", second.url("mirror.example.test", "/final"), 302);
  second.serve("/final", 200, "arrived");
  trust(ca);
  hosts("127.0.0.1 " + std::string(kDriverHost) + "\n127.0.0.1 Mirror.Example.Test\n");

  ObjectRef r = get(first.url(kDriverHost, "/old"));
  EXPECT_EQ(r->get(u"Status").toInt32(), 200);
  EXPECT_EQ(asString(r->get(u"responseBody").toBytes()), "arrived");
  EXPECT_EQ(first.requests().size(), 2u);
  ASSERT_EQ(second.requests().size(), 1u);
  EXPECT_EQ(second.requests()[0].target, "/final");
}

TEST_F(XmlHttpTest, RedirectLoopsAndRedirectsToOtherSchemesFail) {
  HttpsServer server(ca.issue({kDriverHost}));
  HttpsServer plain;
  server.redirect("/loop", "/loop");
  server.redirect("/ftp", "ftp://127.0.0.1/file.zip");
  server.redirect("/downgrade", plain.url("127.0.0.1", kDriverPath));
  plain.serve(kDriverPath, 200, "anyone on the way could have changed this");
  trust(ca);
  hosts("127.0.0.1 " + std::string(kDriverHost) + "\n");

  EXPECT_EQ(failureOf(server.url(kDriverHost, "/loop")), kRedirectFailed);
  EXPECT_EQ(failureOf(server.url(kDriverHost, "/ftp")), kRedirectFailed);
  EXPECT_EQ(failureOf(server.url(kDriverHost, "/downgrade")), kHttpsToHttp);
  EXPECT_TRUE(plain.requests().empty());
}

TEST_F(XmlHttpTest, NetworkFailuresCarryWindowsNumbers) {
  hosts("127.0.0.1 " + std::string(kDriverHost) + "\n");
  const int closedPort = test::unusedPort();
  EXPECT_EQ(failureOf("https://127.0.0.1:" + std::to_string(closedPort) + "/x"), kCannotConnect);
  EXPECT_EQ(failureOf("https://" + std::string(kDriverHost) + ":" + std::to_string(closedPort) +
                      kDriverPath),
            kCannotConnect);
  // Under .invalid nothing resolves, and it is not in the hosts file.
  EXPECT_EQ(failureOf("https://no-such-host.invalid/chromedriver_win32.zip"), kNameNotResolved);
}

TEST_F(XmlHttpTest, CertificatesAreAlwaysChecked) {
  trust(ca);
  hosts("127.0.0.1 " + std::string(kDriverHost) + "\n");
  {
    // Trusted authority, but the certificate names another host.
    HttpsServer server(ca.issue({"other.example.test"}, false));
    server.serve("/x", 200, "must not arrive");
    EXPECT_EQ(failureOf(server.url(kDriverHost, "/x")), kCertCnInvalid);
    EXPECT_TRUE(server.requests().empty());
  }
  {
    // The right name from an authority the machine does not trust.
    TestCa stranger("Stranger CA");
    HttpsServer server(stranger.issue({kDriverHost}));
    server.serve("/x", 200, "must not arrive");
    EXPECT_EQ(failureOf(server.url(kDriverHost, "/x")), kInvalidCa);
    EXPECT_TRUE(server.requests().empty());
  }
  {
    HttpsServer server(ca.issue({kDriverHost}, true, true));
    server.serve("/x", 200, "must not arrive");
    EXPECT_EQ(failureOf(server.url(kDriverHost, "/x")), kCertDateInvalid);
  }
}

TEST_F(XmlHttpTest, TheTestAuthorityIsTrustedOnlyThroughTheMachine) {
  HttpsServer server(ca.issue({kDriverHost}));
  server.serve("/x", 200, "ok");
  hosts("127.0.0.1 " + std::string(kDriverHost) + "\n");
  // Without <machine>/ca-certificates.pem only the host's authorities count.
  EXPECT_EQ(failureOf(server.url(kDriverHost, "/x")), kInvalidCa);
  trust(ca);
  EXPECT_EQ(failureOf(server.url(kDriverHost, "/x")), std::nullopt);
  // A malformed entry among good ones costs only itself.
  TestCa other("Other CA");
  std::ofstream(tm.root() + "/ca-certificates.pem", std::ios::binary)
      << other.pem() << "-----BEGIN CERTIFICATE-----\nbm90IGEgY2VydGlmaWNhdGU=\n"
      << "-----END CERTIFICATE-----\n"
      << ca.pem();
  EXPECT_EQ(failureOf(server.url(kDriverHost, "/x")), std::nullopt);
}

TEST_F(XmlHttpTest, IncompleteBodiesAreFailuresNotShortSuccesses) {
  HttpsServer server(ca.issue({kDriverHost}));
  server.cutShort("/short", std::string(5000, 'a'), 100000);
  server.badChunkSize("/badchunk", "first part");
  server.unfinishedChunked("/unfinished", "first part");
  server.serveChunked("/chunked", std::string(70000, 'c') + std::string(3, '\0'), 4096);
  server.drip("/drip", std::string(40, 'd'), 4);
  server.raw("/nohttp", "SSH-2.0-OpenSSH_9.2\r\nnot a web server\r\n");
  server.raw("/cutstatus", "HTTP/1.1 20");
  server.raw("/cutheaders", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nX-Vorlan: ku");
  server.raw("/cutline", "HTTP/1.1 200 OK\r\n");
  server.raw("/cutheader", "HTTP/1.1 200 OK\r\nX-Vorlan: kur\r\n");
  server.serve("/header", 200, "body", {"X-Big: " + std::string(10u << 20, 'h')});
  trust(ca);
  hosts("127.0.0.1 " + std::string(kDriverHost) + "\n");

  EXPECT_EQ(failureOf(server.url(kDriverHost, "/short")), kConnectionAborted);
  EXPECT_EQ(failureOf(server.url(kDriverHost, "/badchunk")), kInvalidResponse);
  // What is no HTTP at all, or a header past any limit, as Windows' object says.
  EXPECT_EQ(failureOf(server.url(kDriverHost, "/nohttp")), kInvalidResponse);
  EXPECT_EQ(failureOf(server.url(kDriverHost, "/header")), kInvalidResponse);
  EXPECT_EQ(failureOf(server.url(kDriverHost, "/unfinished")), kConnectionAborted);
  // A reply that ends inside its status line or its headers is none.
  for (const char* cut : {"/cutstatus", "/cutheaders", "/cutline", "/cutheader"})
    EXPECT_EQ(failureOf(server.url(kDriverHost, cut)), kInvalidResponse) << cut;
  // A body that would take 10 s at 4 bytes a second, under a limit of
  // 1 KB/s held for 1 s instead of 30.
  limits().lowSpeedSeconds = 1;
  EXPECT_EQ(failureOf(server.url(kDriverHost, "/drip")), kTimeout);
  // A well-formed chunked body is complete.
  ObjectRef r = get(server.url(kDriverHost, "/chunked"));
  EXPECT_EQ(r->get(u"responseBody").toBytes().size(), 70003u);
}

TEST_F(XmlHttpTest, PlainHttpWorksToo) {
  HttpsServer server; // no TLS
  server.serve("/plain", 200, std::string("a\0b", 3));
  hosts("127.0.0.1 plain.example.test\n");
  ObjectRef r = get(server.url("plain.example.test", "/plain"));
  EXPECT_EQ(r->get(u"Status").toInt32(), 200);
  EXPECT_EQ(asString(r->get(u"responseBody").toBytes()), std::string("a\0b", 3));
}

TEST_F(XmlHttpTest, SendsMethodHeadersAndBody) {
  HttpsServer server;
  server.serve("/post", 201, "created");
  ObjectRef r = request();
  r->call(u"open",
          {Variant(u"post"), Variant(fromUtf8(server.url("127.0.0.1", "/post"))), Variant(false)});
  r->call(u"setRequestHeader", {Variant(u"X-Vorlan"), Variant(u"kur")});
  r->call(u"send", {Variant(Bytes{'p', 0, 'q'})});
  EXPECT_EQ(r->get(u"status").toInt32(), 201);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].body, std::string("p\0q", 3));
  EXPECT_EQ(requests[0].headers.at("x-vorlan"), "kur");
}

TEST_F(XmlHttpTest, OpenRefusesAddressesItCannotFetch) {
  ObjectRef r = request();
  auto openFails = [&](const Text& url) {
    return test::errorNumber([&] {
      r->call(u"Open", {Variant(u"GET"), Variant(url), Variant(false)});
    });
  };
  EXPECT_EQ(openFails(u""), kUnrecognizedScheme);
  EXPECT_EQ(openFails(u"ftp://chromedriver.storage.googleapis.com/x.zip"), kUnrecognizedScheme);
  EXPECT_EQ(openFails(u"chromedriver_win32.zip"), kUnrecognizedScheme);
  EXPECT_EQ(openFails(u"https://"), kInvalidUrl);
  // Nothing was opened, so there is nothing to send.
  EXPECT_EQ(test::errorNumber([&] { r->call(u"Send", {}); }), kFail);
}

TEST_F(XmlHttpTest, MembersInTheWrongOrderOrShapeFail) {
  ObjectRef r = request();
  EXPECT_EQ(test::errorNumber([&] { r->get(u"Status"); }), kFail);
  EXPECT_EQ(test::errorNumber([&] { r->get(u"responseBody"); }), kPending);
  EXPECT_EQ(test::errorNumber([&] { r->call(u"Send", {}); }), kFail);
  EXPECT_EQ(test::errorNumber([&] { r->call(u"Open", {Variant(u"GET")}); }),
            err::WrongArgumentCount);
  EXPECT_EQ(test::errorNumber([&] { r->call(u"Status", {Variant(1)}); }), err::WrongArgumentCount);
  EXPECT_EQ(test::errorNumber([&] { r->call(u"Download", {}); }), err::NoSuchMember);
  EXPECT_EQ(test::errorNumber([&] { r->put(u"Status", Variant(200)); }), err::WrongArgumentCount);

  HttpsServer server;
  server.serve("/x", 200, "once");
  r->call(u"Open",
          {Variant(u"GET"), Variant(fromUtf8(server.url("127.0.0.1", "/x"))), Variant(false)});
  EXPECT_EQ(test::errorNumber([&] { r->get(u"Status"); }), kFail); // opened, not sent
  r->call(u"Send", {});
  EXPECT_EQ(r->get(u"Status").toInt32(), 200);
  // A completed request is sent again only after a new Open.
  EXPECT_EQ(test::errorNumber([&] { r->call(u"Send", {}); }), kFail);
  r->call(u"Open",
          {Variant(u"GET"), Variant(fromUtf8(server.url("127.0.0.1", "/x"))), Variant(false)});
  r->call(u"Send", {});
  EXPECT_EQ(server.requests().size(), 2u);
}

} // namespace
} // namespace vk
