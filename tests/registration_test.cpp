// Copying the components into the system folder and registering them.
#include "support/harness.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace vk {
namespace {

using test::Harness;

constexpr char kStart[] = "Registering işlemleri başlatılıyor ...";
constexpr char kDone[] = "Registering işlemleri tamamlandı ...";
const Text kProgramFiles = u"C:\\users\\user\\Desktop\\Vorlan\\prgDosyaları\\";
const Text kSystem = u"C:\\Windows\\SysWOW64\\";

struct Registration : ::testing::Test {
  Harness h;
  void SetUp() override {
    h.tm.makeDir(kProgramFiles);
    h.tm.installRecorder(u"C:\\Windows\\System32\\regsvr32.exe", "regsvr32.log");
    h.form().userPath = u"C:\\users\\user\\Desktop";
    h.form().sisDir = u"SysWOW64\\";
  }
  void component(const char* name, const std::string& content = "component") {
    h.tm.writeFile(kProgramFiles + fromUtf8(name), content);
  }
  std::vector<std::string> prompts() const {
    std::vector<std::string> out;
    for (const auto& b : h.boxes)
      out.push_back(b.prompt);
    return out;
  }
  // The stand-in runs beside us; wait until it has logged `runs` starts.
  std::string waitForRegistrations(std::size_t runs) {
    std::string log;
    for (int tries = 0; tries < 500; ++tries) {
      log = h.tm.readLog("regsvr32.log");
      std::size_t n = 0;
      for (std::size_t p = log.find("--\n"); p != std::string::npos; p = log.find("--\n", p + 1))
        ++n;
      if (n >= runs) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return log;
  }
  std::string question(const std::string& name) const {
    return name + " Register edilsin mi ? (EVET önerilir)";
  }
};

TEST_F(Registration, EmptyFolderShowsOnlyTheClosingBox) {
  h.form().regVorlanComponents();
  EXPECT_EQ(prompts(), (std::vector<std::string>{kDone}));
  EXPECT_EQ(h.boxes[0].title, "VorlanKur");
  EXPECT_EQ(h.boxes[0].buttons, 0);
  EXPECT_EQ(h.form().compFile, u"");
}

TEST_F(Registration, CopiesAllButOffersOnlyLibrariesAndControls) {
  component("MSCOMCTL.OCX");
  component("MSCOMCTL.DEP");
  component("MSCOMCTL.SRG");
  component("wmp.dll");
  component("ornek.ocx"); // the user's control: neither copied nor offered
  component("ChromeDriverVersiyon.txt");
  h.answers = {vbOK, vbNo, vbOK, vbYes, vbOK};
  h.form().regVorlanComponents();
  for (const char* name : {"MSCOMCTL.OCX", "MSCOMCTL.DEP", "MSCOMCTL.SRG", "wmp.dll"})
    EXPECT_EQ(h.tm.readFile(kSystem + fromUtf8(name)), "component") << name;
  // Only the component list's files go into the system folder.
  for (const Text name : {u"ornek.ocx", u"ChromeDriverVersiyon.txt"})
    EXPECT_FALSE(h.tm.exists(kSystem + name)) << toUtf8(name);
  // Names come sorted: MSCOMCTL.*, ornek.ocx, wmp.dll.
  EXPECT_EQ(prompts(), (std::vector<std::string>{kStart, question("MSCOMCTL.OCX"), kStart,
                                                 question("wmp.dll"), kDone}));
  EXPECT_EQ(h.boxes[1].buttons, 292);
  EXPECT_EQ(h.boxes[1].title, "VorlanKur v1.0.0");
  EXPECT_EQ(h.unansweredBoxes, 0);
  const std::string log = waitForRegistrations(1);
  EXPECT_NE(
      log.find("> C:\\Windows\\System32\\regsvr32.exe /s \"C:\\Windows\\SysWOW64\\wmp.dll\"\n"),
      std::string::npos)
      << log;
  EXPECT_EQ(log.find("MSCOMCTL.OCX"), std::string::npos) << log; // answered No
  EXPECT_EQ(h.form().regStr,
            u"C:\\Windows\\System32\\regsvr32.exe /s \"C:\\Windows\\SysWOW64\\wmp.dll\"");
  EXPECT_TRUE(h.form().failedSteps.empty());
  EXPECT_EQ(h.form().isWillReg, vbYes);
  EXPECT_EQ(h.form().copyToStr, u"C:\\Windows\\SysWOW64\\wmp.dll");
}

TEST_F(Registration, AFileTheSystemAlreadyHoldsStaysUntouched) {
  component("MSCOMCTL.OCX", "ours");
  h.tm.writeFile(kSystem + u"mscomctl.ocx", "newer system copy");
  h.answers = {vbOK, vbNo, vbOK};
  h.form().regVorlanComponents();
  EXPECT_EQ(h.tm.readFile(kSystem + u"mscomctl.ocx"), "newer system copy");
  EXPECT_EQ(prompts(), (std::vector<std::string>{kStart, question("MSCOMCTL.OCX"), kDone}));
}

TEST_F(Registration, AfterTheFirstYesFailuresAreSkippedButNamed) {
  component("MSSTDFMT.DLL");
  component("wmp.dll");
  // No regsvr32 to start: both starts fail.
  std::filesystem::remove(h.tm.host(u"C:\\Windows\\System32\\regsvr32.exe"));
  h.answers = {vbOK, vbYes, vbOK, vbYes, vbOK};
  h.form().regVorlanComponents();
  EXPECT_EQ(prompts(), (std::vector<std::string>{kStart, question("MSSTDFMT.DLL"), kStart,
                                                 question("wmp.dll"), kDone}));
  EXPECT_EQ(h.form().failedSteps, (std::vector<Text>{u"MSSTDFMT.DLL kaydı (Hata No: 53)",
                                                     u"wmp.dll kaydı (Hata No: 53)"}));
}

TEST_F(Registration, RefusedCopiesAreNamedAndNothingIsRegistered) {
  component("MSCOMCTL.OCX");
  component("wmp.dll");
  // The system folder is gone (a file stands in its place): every copy fails.
  std::filesystem::remove_all(h.tm.host(u"C:\\Windows\\SysWOW64"));
  h.tm.writeFile(u"C:\\Windows\\SysWOW64", "not a folder");
  h.form().regVorlanComponents();
  EXPECT_TRUE(h.boxes.empty());
  EXPECT_EQ(h.form().failedSteps, (std::vector<Text>{u"MSCOMCTL.OCX kaydı (Hata No: 76)",
                                                     u"wmp.dll kaydı (Hata No: 76)"}));
  EXPECT_EQ(h.form().copyFromStr, kProgramFiles + u"wmp.dll");
}

} // namespace
} // namespace vk
