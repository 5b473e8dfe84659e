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
    const BrowserVersion v = versionStep(h.rt(), h.window());
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
    const BrowserVersion v = versionStep(h.rt(), h.window());
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
  EXPECT_EQ(versionStep(h.rt(), h.window()).prefix, u"9.0");
}

TEST(DriverChoice, EmptyOrAbsentVersionEndsWithTheNotInstalledMessage) {
  for (bool absent : {false, true}) {
    Harness h;
    if (!absent) h.tm.setRegString(true, kBlBeacon, "version", "");
    EXPECT_THROW(versionStep(h.rt(), h.window()), ProgramEnd);
    ASSERT_EQ(h.boxes.size(), 1u);
    EXPECT_EQ(h.boxes[0].prompt, kNotInstalled);
    EXPECT_EQ(h.boxes[0].buttons, 64);
    EXPECT_EQ(h.boxes[0].title, "VorlanKur v1.0.0");
  }
}

// With BLBeacon absent or empty, Chrome's installed version is where Google's
// updater records it: for the machine (the 32-bit view on 64-bit Windows,
// which the program sees under the plain name, never the 64-bit one), then
// for the user.
TEST(DriverChoice, WithoutBlBeaconTheUpdatersRecordNamesChrome) {
  const std::string chrome = "Google\\Update\\Clients\\{8A69D345-D564-463c-AFF1-A69D9E530F96}";
  const struct {
    bool layout64, user;
    std::string key;
    const char* beacon;    // nullptr: absent
    const char16_t* found; // nullptr: not installed
  } rows[] = {
      {true, false, "Software\\WOW6432Node\\" + chrome, nullptr, u"104.0.5112.81"},
      {true, false, "Software\\" + chrome, nullptr, nullptr},
      {false, false, "Software\\" + chrome, nullptr, u"104.0.5112.81"},
      {true, true, "Software\\" + chrome, "", u"104.0.5112.81"},
      {true, true, "Software\\" + chrome, "99.0.4844.84", u"99.0.4844.84"},
  };
  for (const auto& row : rows) {
    Harness h(row.layout64);
    if (row.beacon) h.tm.setRegString(true, kBlBeacon, "version", row.beacon);
    h.tm.setRegString(row.user, row.key, "pv", "104.0.5112.81");
    if (row.found)
      EXPECT_EQ(versionStep(h.rt(), h.window()).version.toText(), row.found) << row.key;
    else
      EXPECT_THROW(versionStep(h.rt(), h.window()), ProgramEnd) << row.key;
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

// A line past the table asks its server's version files (the exact build,
// then the major), on a loopback server that answers for both servers.
constexpr char kOld[] = "chromedriver.storage.googleapis.com";
constexpr char kLabs[] = "googlechromelabs.github.io";
constexpr char kCft[] = "https://storage.googleapis.com/chrome-for-testing-public/";
constexpr char kInvalid[] = "Sürücü seçimi (geçersiz yanıt)";
constexpr char k131[] = "/chrome-for-testing/LATEST_RELEASE_131.0.6778";
const std::string k131Driver = "131.0.6778.85/win32/chromedriver-win32.zip";

struct VersionFileCase {
  const char* version;
  const char* path; // the one file served
  std::string body;
  std::string want; // the address, else the failed step
  std::size_t asked;
  int status = 200;
};

TEST(DriverChoice, LinesPastTheTableAskTheirServersVersionFiles) {
  const std::string old = std::string("https://") + kOld + "/";
  const VersionFileCase cases[] = {
      {"104.0.5112.81", "", "", old + "104.0.5112.79/chromedriver_win32.zip", 0},
      {"110.0.5481.77", "/LATEST_RELEASE_110.0.5481", "110.0.5481.77",
       old + "110.0.5481.77/chromedriver_win32.zip", 1},
      {"114.0.5735.199", "/LATEST_RELEASE_114", " 114.0.5735.90\r\n",
       old + "114.0.5735.90/chromedriver_win32.zip", 2},
      {"0104.0.1", "/LATEST_RELEASE_104.0.1", "104.0.5112.79\n",
       old + "104.0.5112.79/chromedriver_win32.zip", 1},
      {"131.0.6778.86", "/chrome-for-testing/LATEST_RELEASE_131.0.6778", "131.0.6778.85",
       kCft + std::string("131.0.6778.85/win32/chromedriver-win32.zip"), 1},
      {"115.0.5790.110", "/chrome-for-testing/LATEST_RELEASE_115", "115.0.5790.170\r\n",
       kCft + std::string("115.0.5790.170/win32/chromedriver-win32.zip"), 2},
      {"140", "/chrome-for-testing/LATEST_RELEASE_140", "140.0.7339.207",
       kCft + std::string("140.0.7339.207/win32/chromedriver-win32.zip"), 1},
      // No answer: an error page, another line's version, a portal's page.
      {"131.0.6778.86", "/chrome-for-testing/LATEST_RELEASE_131.0.6778",
       "<?xml version='1.0'?><Error><Code>NoSuchKey</Code></Error>", kInvalid, 1},
      {"131.0.6778.86", "/chrome-for-testing/LATEST_RELEASE_131", "130.0.6723.116", kInvalid, 2},
      {"112.0.5615.49", "/LATEST_RELEASE_112.0.5615", "<html>112.0.1.2</html>", kInvalid, 1},
      {"150.0.1.2", "", "", "Sürücü seçimi (HTTP durum kodu: 404)", 2},
      // Three numbers, leading zeros, a body too long for a version file, a
      // version under another status: none names a driver; a byte-order mark
      // is no part of the answer.
      {"131.0.6778.86", k131, "131.0.6778", kInvalid, 1},
      {"131.0.6778.86", k131, "0131.00.6778.085", kInvalid, 1},
      {"131.0.6778.86", k131, "131.0.6778.85" + std::string(2000, ' '), kInvalid, 1},
      {"131.0.6778.86", k131, "131.0.6778.85", "Sürücü seçimi (HTTP durum kodu: 404)", 2, 404},
      {"131.0.6778.86", k131,
       "\xEF\xBB\xBF"
       "131.0.6778.85\r\n",
       kCft + k131Driver, 1},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    test::TestCa ca;
    const std::string address = "127.0.5." + std::to_string(10 + n++);
    test::HttpsServer server(ca.issue({kOld, kLabs}), address, 443);
    server.serve(c.path, c.status, c.body);
    Harness h;
    std::ofstream(h.tm.root() + "/ca-certificates.pem", std::ios::binary) << ca.pem();
    h.tm.writeFile(u"C:\\Windows\\System32\\drivers\\etc\\hosts",
                   address + " " + kOld + "\r\n" + address + " " + kLabs + "\r\n");
    h.tm.setRegString(true, kBlBeacon, "version", c.version);
    const BrowserVersion v = versionStep(h.rt(), h.window());
    const bool found = c.want.rfind("https://", 0) == 0;
    EXPECT_EQ(toUtf8(found ? v.driverAddress : v.failedStep), c.want);
    EXPECT_EQ(v.failedStep.empty(), found);
    const auto asked = server.requests();
    ASSERT_EQ(asked.size(), c.asked);
    // Each request went to the line's server, the major's file last.
    const std::string major = std::string(c.version).substr(0, std::string(c.version).find('.'));
    for (const auto& r : asked)
      EXPECT_EQ(r.host, c.asked && std::stoi(major) >= 115 ? kLabs : kOld);
    if (c.asked == 2) {
      EXPECT_EQ(asked[1].target.substr(asked[1].target.rfind('_') + 1), major);
    }
    if (found) {
      EXPECT_TRUE(h.boxes.empty());
      continue;
    }
    ASSERT_EQ(h.boxes.size(), 1u);
    EXPECT_EQ(h.boxes[0].prompt, c.want == kInvalid
                                     ? "Kurulum sırasında hata oluştu ! Sunucunun yanıtı bir "
                                       "sürücü sürümü değil."
                                     : "Kurulum sırasında hata oluştu ! HTTP durum kodu: 404");
    EXPECT_EQ(h.boxes[0].buttons, 64);
    EXPECT_EQ(h.boxes[0].title, "VorlanKur v1.0.0");
  }
}

// A request that fails outright ends the choice: the major's file is not
// asked after it.
TEST(DriverChoice, AFailedRequestIsNotMadeTwice) {
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
  const BrowserVersion v = versionStep(h.rt(), h.window());
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
