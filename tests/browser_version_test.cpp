// Choosing the ChromeDriver build for the installed Chrome, and the record.
#include "install/install.h"
#include "support/harness.h"
#include "support/https_server.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace vk {
namespace {

using test::Harness;

constexpr char kNotInstalled[] = " Chrome yüklü değil ! Öncelikle Chrome Browser kurulumu yapınız. "
                                 "Daha sonra VorlanKur 'u yeniden çalıştırınız.";
constexpr char kBlBeacon[] = "Software\\Google\\Chrome\\BLBeacon";

std::string unsupported(const std::string& version) {
  return " Chrome Tarayıcı versiyonu 90.x ve sonrası destekleniyor. Sizin versiyonunuz: " +
         version + " lütfen destek isteyiniz. destek@vorlan.com.tr";
}

TEST(DriverChoice, SupportedVersionsPickTheirRow) {
  struct Case {
    const char* version;
    const char16_t* prefix;
    const char16_t* address;
  } cases[] = {
      {"104.0.5112.81", u"104",
       u"https://chromedriver.storage.googleapis.com/104.0.5112.79/chromedriver_win32.zip"},
      {"99.0.4844.84", u"99.",
       u"https://chromedriver.storage.googleapis.com/99.0.4844.51/chromedriver_win32.zip"},
      {"90.0.4430.212", u"90.",
       u"https://chromedriver.storage.googleapis.com/90.0.4430.24/chromedriver_win32.zip"},
  };
  for (const auto& c : cases) {
    Harness h;
    h.tm.setRegString(true, kBlBeacon, "version", c.version);
    const BrowserVersion v = versionStep(h.rt());
    EXPECT_EQ(v.version.toText(), fromUtf8(c.version));
    EXPECT_EQ(v.prefix, c.prefix);
    EXPECT_EQ(v.driverAddress, c.address);
    EXPECT_TRUE(h.boxes.empty()) << c.version;
  }
}

TEST(DriverChoice, UnsupportedVersionsSayWhichAndGoOn) {
  for (const char* version : {"89.0.4389.90", "9.0.1", "Chrome 130", ".130.0.1"}) {
    Harness h;
    h.tm.setRegString(true, kBlBeacon, "version", version);
    const BrowserVersion v = versionStep(h.rt());
    EXPECT_EQ(v.driverAddress, u"");
    ASSERT_EQ(h.boxes.size(), 1u) << version;
    EXPECT_EQ(h.boxes[0].prompt, unsupported(version));
    EXPECT_EQ(h.boxes[0].buttons, 0);
    EXPECT_EQ(h.boxes[0].title, "VorlanKur"); // no title given: the application's
    EXPECT_EQ(v.failedStep,
              u"Sürücü seçimi (desteklenmeyen Chrome sürümü: " + fromUtf8(version) + u")");
  }
  Harness h;
  h.tm.setRegString(true, kBlBeacon, "version", "9.0.1");
  EXPECT_EQ(versionStep(h.rt()).prefix, u"9.0");
}

TEST(DriverChoice, EmptyOrAbsentVersionEndsWithTheNotInstalledMessage) {
  for (bool absent : {false, true}) {
    Harness h;
    if (!absent) h.tm.setRegString(true, kBlBeacon, "version", "");
    EXPECT_THROW(versionStep(h.rt()), ProgramEnd);
    ASSERT_EQ(h.boxes.size(), 1u);
    EXPECT_EQ(h.boxes[0].prompt, kNotInstalled);
    EXPECT_EQ(h.boxes[0].buttons, 64);
    EXPECT_EQ(h.boxes[0].title, "VorlanKur v1.0.0");
  }
}

TEST(DriverChoice, TableHoldsFifteenDistinctLinesNewestFirst) {
  EXPECT_EQ(kDriverTable.front().prefix, u"104");
  EXPECT_EQ(kDriverTable.back().prefix, u"90.");
  for (std::size_t a = 0; a < kDriverTable.size(); ++a) {
    EXPECT_EQ(kDriverTable[a].address.substr(kDriverTable[a].address.size() - 23),
              u"/chromedriver_win32.zip");
    for (std::size_t b = a + 1; b < kDriverTable.size(); ++b)
      EXPECT_NE(kDriverTable[a].prefix, kDriverTable[b].prefix);
  }
}

// A line past the table asks its server's version files, on a loopback
// server that answers for the hosts of both driver servers.
struct Served {
  const char* path;
  int status;
  const char* body;
};
struct VersionFileCase {
  const char* version;
  std::vector<Served> served;
  const char16_t* address;        // "" when none
  std::vector<std::string> asked; // host + path, in order
  const char16_t* failedStep;     // "" when none
  const char* box;                // "" when none
};

TEST(DriverChoice, LinesPastTheTableAskTheirServersVersionFiles) {
  constexpr char kOld[] = "chromedriver.storage.googleapis.com";
  constexpr char kLabs[] = "googlechromelabs.github.io";
  constexpr char kCft[] = "/chrome-for-testing/LATEST_RELEASE_";
  const std::string xmlError = "<?xml version='1.0' encoding='UTF-8'?><Error><Code>NoSuchKey"
                               "</Code></Error>";
  const VersionFileCase cases[] = {
      // The table: no question asked.
      {"104.0.5112.81",
       {},
       u"https://chromedriver.storage.googleapis.com/104.0.5112.79/"
       u"chromedriver_win32.zip",
       {},
       u"",
       ""},
      // The older server: the exact build, else the newest of the line.
      {"110.0.5481.77",
       {{"/LATEST_RELEASE_110.0.5481", 200, "110.0.5481.77"}},
       u"https://chromedriver.storage.googleapis.com/110.0.5481.77/chromedriver_win32.zip",
       {std::string(kOld) + "/LATEST_RELEASE_110.0.5481"},
       u"",
       ""},
      {"114.0.5735.199",
       {{"/LATEST_RELEASE_114", 200, " 114.0.5735.90\r\n"}},
       u"https://chromedriver.storage.googleapis.com/114.0.5735.90/chromedriver_win32.zip",
       {std::string(kOld) + "/LATEST_RELEASE_114.0.5735",
        std::string(kOld) + "/LATEST_RELEASE_114"},
       u"",
       ""},
      // Written oddly, a line of the table still finds its server.
      {"0104.0.1",
       {{"/LATEST_RELEASE_104.0.1", 200, "104.0.5112.79\n"}},
       u"https://chromedriver.storage.googleapis.com/104.0.5112.79/chromedriver_win32.zip",
       {std::string(kOld) + "/LATEST_RELEASE_104.0.1"},
       u"",
       ""},
      // The newer server, the same two ways.
      {"131.0.6778.86",
       {{"/chrome-for-testing/LATEST_RELEASE_131.0.6778", 200, "131.0.6778.85"}},
       u"https://storage.googleapis.com/chrome-for-testing-public/131.0.6778.85/win32/"
       u"chromedriver-win32.zip",
       {std::string(kLabs) + kCft + "131.0.6778"},
       u"",
       ""},
      {"115.0.5790.110",
       {{"/chrome-for-testing/LATEST_RELEASE_115", 200, "115.0.5790.170\r\n"}},
       u"https://storage.googleapis.com/chrome-for-testing-public/115.0.5790.170/win32/"
       u"chromedriver-win32.zip",
       {std::string(kLabs) + kCft + "115.0.5790", std::string(kLabs) + kCft + "115"},
       u"",
       ""},
      // A major alone asks only for the major.
      {"140",
       {{"/chrome-for-testing/LATEST_RELEASE_140", 200, "140.0.7339.207"}},
       u"https://storage.googleapis.com/chrome-for-testing-public/140.0.7339.207/win32/"
       u"chromedriver-win32.zip",
       {std::string(kLabs) + kCft + "140"},
       u"",
       ""},
      // What is no answer: an error page, a version of another line, a
      // portal's page; the major's file is not asked then.
      {"131.0.6778.86",
       {{"/chrome-for-testing/LATEST_RELEASE_131.0.6778", 200, xmlError.c_str()}},
       u"",
       {std::string(kLabs) + kCft + "131.0.6778"},
       u"Sürücü seçimi (geçersiz yanıt)",
       "Kurulum sırasında hata oluştu ! Sunucunun yanıtı bir sürücü sürümü değil."},
      {"131.0.6778.86",
       {{"/chrome-for-testing/LATEST_RELEASE_131", 200, "130.0.6723.116"}},
       u"",
       {std::string(kLabs) + kCft + "131.0.6778", std::string(kLabs) + kCft + "131"},
       u"Sürücü seçimi (geçersiz yanıt)",
       "Kurulum sırasında hata oluştu ! Sunucunun yanıtı bir sürücü sürümü değil."},
      {"112.0.5615.49",
       {{"/LATEST_RELEASE_112.0.5615", 200, "<html>Giriş yapınız 112.0.1.2</html>"}},
       u"",
       {std::string(kOld) + "/LATEST_RELEASE_112.0.5615"},
       u"Sürücü seçimi (geçersiz yanıt)",
       "Kurulum sırasında hata oluştu ! Sunucunun yanıtı bir sürücü sürümü değil."},
      // Neither file: the last status is named.
      {"150.0.1.2",
       {},
       u"",
       {std::string(kLabs) + kCft + "150.0.1", std::string(kLabs) + kCft + "150"},
       u"Sürücü seçimi (HTTP durum kodu: 404)",
       "Kurulum sırasında hata oluştu ! HTTP durum kodu: 404"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    test::TestCa ca;
    const std::string address = "127.0.5." + std::to_string(10 + n++);
    test::HttpsServer server(ca.issue({kOld, kLabs}), address, 443);
    for (const auto& s : c.served)
      server.serve(s.path, s.status, s.body);
    Harness h;
    for (const char* v : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      unsetenv(v);
    std::ofstream(h.tm.root() + "/ca-certificates.pem", std::ios::binary) << ca.pem();
    h.tm.writeFile(u"C:\\Windows\\System32\\drivers\\etc\\hosts",
                   address + " " + kOld + "\r\n" + address + " " + kLabs + "\r\n");
    h.tm.setRegString(true, kBlBeacon, "version", c.version);
    const BrowserVersion v = versionStep(h.rt());
    EXPECT_EQ(v.driverAddress, c.address);
    EXPECT_EQ(v.failedStep, c.failedStep);
    std::vector<std::string> asked;
    for (const auto& r : server.requests())
      asked.push_back(r.host + r.target);
    EXPECT_EQ(asked, c.asked);
    if (*c.box) {
      ASSERT_EQ(h.boxes.size(), 1u);
      EXPECT_EQ(h.boxes[0].prompt, c.box);
      EXPECT_EQ(h.boxes[0].buttons, 64);
      EXPECT_EQ(h.boxes[0].title, "VorlanKur v1.0.0");
    } else {
      EXPECT_TRUE(h.boxes.empty());
    }
  }
}

// A request that fails outright ends the choice: the major's file is not
// asked after it.
TEST(DriverChoice, AFailedRequestIsNotMadeTwice) {
  constexpr char kLabs[] = "googlechromelabs.github.io";
  test::TestCa ca;
  test::HttpsServer server(ca.issue({kLabs}), "127.0.5.200", 443);
  // A secure answer that sends the request on to plain HTTP fails it.
  server.redirect("/chrome-for-testing/LATEST_RELEASE_131.0.6778",
                  "http://googlechromelabs.github.io/chrome-for-testing/LATEST_RELEASE_131");
  Harness h;
  std::ofstream(h.tm.root() + "/ca-certificates.pem", std::ios::binary) << ca.pem();
  h.tm.writeFile(u"C:\\Windows\\System32\\drivers\\etc\\hosts",
                 std::string("127.0.5.200 ") + kLabs + "\r\n");
  h.tm.setRegString(true, kBlBeacon, "version", "131.0.6778.86");
  const BrowserVersion v = versionStep(h.rt());
  EXPECT_EQ(v.driverAddress, u"");
  EXPECT_EQ(v.failedStep, u"Sürücü seçimi (Hata No: -2147012856)");
  ASSERT_EQ(h.boxes.size(), 1u);
  EXPECT_EQ(h.boxes[0].prompt, "Kurulum sırasında hata oluştu ! Hata No: -2147012856");
  EXPECT_EQ(server.requests().size(), 1u);
}

const Text kDesktop = u"C:\\users\\user\\Desktop";
const Text kRecord = u"C:\\users\\user\\Desktop\\Vorlan\\prgDosyaları\\ChromeDriverVersiyon.txt";

TEST(VersionRecord, WritesOneLineInTheCodePageAndReplaces) {
  Harness h;
  h.tm.makeDir(u"C:\\users\\user\\Desktop\\Vorlan\\prgDosyaları");
  ErrorMode mode;
  mode.onErrorResumeNext();
  for (const char16_t* prefix : {u"104", u"99.", u"105"}) {
    recordStep(h.rt(), mode, kDesktop, prefix);
    EXPECT_FALSE(mode.error());
    EXPECT_EQ(h.tm.readFile(kRecord), std::string("[") + toUtf8(prefix) + "]\r\n");
  }
}

TEST(VersionRecord, MissingFolderFailsSilentlyUnderResumeNext) {
  Harness h;
  ErrorMode mode;
  mode.onErrorResumeNext();
  recordStep(h.rt(), mode, kDesktop, u"104");
  EXPECT_TRUE(mode.error()); // the file object never came: later statements failed too
  EXPECT_FALSE(h.tm.exists(kRecord));
  EXPECT_TRUE(h.boxes.empty());
  ErrorMode none;
  EXPECT_THROW(recordStep(h.rt(), none, kDesktop, u"104"), RuntimeError);
}

} // namespace
} // namespace vk
