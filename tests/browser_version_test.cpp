// Choosing the ChromeDriver build for the installed Chrome, and the record.
#include "install/install.h"
#include "support/harness.h"

#include <gtest/gtest.h>

namespace vk {
namespace {

using test::Harness;

constexpr char kNotInstalled[] = " Chrome yüklü değil ! Öncelikle Chrome Browser kurulumu yapınız. "
                                 "Daha sonra VorlanKur 'u yeniden çalıştırınız.";
constexpr char kBlBeacon[] = "Software\\Google\\Chrome\\BLBeacon";

std::string unsupported(const std::string& version) {
  return " Chrome Tarayıcı versiyonu 90.x ile 104.x arası destekleniyor. Sizin versiyonunuz: " +
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
  for (const char* version : {"105.0.5195.102", "89.0.4389.90", "9.0.1"}) {
    Harness h;
    h.tm.setRegString(true, kBlBeacon, "version", version);
    const BrowserVersion v = versionStep(h.rt());
    EXPECT_EQ(v.driverAddress, u"");
    ASSERT_EQ(h.boxes.size(), 1u) << version;
    EXPECT_EQ(h.boxes[0].prompt, unsupported(version));
    EXPECT_EQ(h.boxes[0].buttons, 0);
    EXPECT_EQ(h.boxes[0].title, "VorlanKur"); // no title given: the application's
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
