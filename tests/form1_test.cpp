// The setup window at start-up: the component check and the buttons.
#include "support/app_runner.h"
#include "support/harness.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace vk {
namespace {

using test::Harness;
using test::placeComponents;

constexpr char kMissingHeadline[] =
    "Vorlan çalışabilmek için bazı Windows bileşenlerine ihtiyaç duyar. Sisteminizde mevcut "
    "olmayan bileşenler aşağıya listelendi.";
constexpr char kMissingAdvice[] =
    "Bu dosyaları sistem klasörüne ekleyebilmesi için , VorlanKur'un 'YÖNETİCİ' yetkisiyle "
    "başlatılmış olması gerekir. Bunu yapmadıysanız DEVAM tuşuna kliklemeden kurulumdan çıkınız.";
constexpr char kPresentHeadline[] =
    "Kur sisteminizi taradı, Vorlan'in çalışması için gerekli Windows bileşenleri sisteminizde "
    "mevcut.";
constexpr char kPresentAdvice[] =
    "Bir sonraki kurulum aşamasına geçmek için Devam butonunu tıklayın.";

std::vector<std::string> list(Harness& h) {
  std::vector<std::string> out;
  for (int k = 0; k < 7; ++k)
    out.push_back(h.text(ctl::Text1(k)));
  return out;
}

TEST(ComponentCheck, SixtyFourBitAllPresent) {
  Harness h;
  placeComponents(h.tm, u"C:\\Windows\\SysWOW64", {});
  h.form().Form_Load();
  EXPECT_EQ(h.form().sisDir, u"SysWOW64\\");
  EXPECT_EQ(list(h), std::vector<std::string>(7, ""));
  EXPECT_EQ(h.text(ctl::Text13), "\r\n");
  EXPECT_EQ(h.text(ctl::Text12), kPresentHeadline);
  EXPECT_EQ(h.text(ctl::Text14), kPresentAdvice);
  EXPECT_EQ(h.text(ctl::Text1(7)), "Text8");
}

TEST(ComponentCheck, OnlyWmpMissing) {
  Harness h;
  placeComponents(h.tm, u"C:\\Windows\\SysWOW64", {"wmp.dll"});
  h.form().Form_Load();
  EXPECT_EQ(h.text(ctl::Text13), "\r\nwmp.dll");
  EXPECT_EQ(h.text(ctl::Text12), kMissingHeadline);
  EXPECT_EQ(h.text(ctl::Text14), kMissingAdvice);
  EXPECT_EQ(list(h), (std::vector<std::string>{"", "", "", "", "", "", "wmp.dll"}));
  EXPECT_EQ(h.form().j, 1);
}

TEST(ComponentCheck, AllMissingKeepsListOrder) {
  Harness h;
  h.form().Form_Load();
  EXPECT_EQ(h.text(ctl::Text13), "\r\nmsvbvm60.dll\r\nMSSTDFMT.DLL\r\nshell32.dll\r\nMSCOMCTL.OCX"
                                 "\r\nMSCOMCTL.DEP\r\nMSCOMCTL.SRG\r\nwmp.dll");
  EXPECT_EQ(list(h),
            (std::vector<std::string>{"msvbvm60.dll", "MSSTDFMT.DLL", "shell32.dll", "MSCOMCTL.OCX",
                                      "MSCOMCTL.DEP", "MSCOMCTL.SRG", "wmp.dll"}));
  EXPECT_EQ(h.text(ctl::Text12), kMissingHeadline);
  EXPECT_EQ(h.text(ctl::Text1(7)), "Text8");
}

TEST(ComponentCheck, SixtyFourBitLooksOnlyInSysWow64) {
  Harness h;
  placeComponents(h.tm, u"C:\\Windows\\System32", {});
  placeComponents(h.tm, u"C:\\Windows\\SysWOW64", {"MSCOMCTL.OCX", "MSCOMCTL.DEP", "MSCOMCTL.SRG"});
  h.form().Form_Load();
  EXPECT_EQ(h.text(ctl::Text13), "\r\nMSCOMCTL.OCX\r\nMSCOMCTL.DEP\r\nMSCOMCTL.SRG");
}

TEST(ComponentCheck, ThirtyTwoBitUsesSystem32) {
  Harness h(/*layout64=*/false);
  placeComponents(h.tm, u"C:\\Windows\\System32", {"shell32.dll"});
  h.form().Form_Load();
  EXPECT_EQ(h.form().sisDir, u"System32\\");
  EXPECT_EQ(h.text(ctl::Text13), "\r\nshell32.dll");
}

TEST(ComponentCheck, MatchIgnoresLetterCaseAndAcceptsHiddenFiles) {
  Harness h;
  placeComponents(h.tm, u"C:\\Windows\\SysWOW64", {"wmp.dll", "MSCOMCTL.OCX"});
  h.tm.writeFile(u"C:\\Windows\\SysWOW64\\WMP.DLL");
  h.tm.writeFile(u"C:\\Windows\\SysWOW64\\mscomctl.ocx");
  h.tm.setDosAttributes(u"C:\\Windows\\SysWOW64\\mscomctl.ocx", 0x2);
  h.form().Form_Load();
  EXPECT_EQ(list(h), std::vector<std::string>(7, ""));
  EXPECT_EQ(h.text(ctl::Text12), kPresentHeadline);
}

TEST(ComponentCheck, SystemFileOrFolderOfTheNameCountsAsMissing) {
  Harness h;
  placeComponents(h.tm, u"C:\\Windows\\SysWOW64", {"shell32.dll", "wmp.dll"});
  h.tm.writeFile(u"C:\\Windows\\SysWOW64\\shell32.dll");
  h.tm.setDosAttributes(u"C:\\Windows\\SysWOW64\\shell32.dll", 0x4);
  h.tm.makeDir(u"C:\\Windows\\SysWOW64\\wmp.dll");
  h.form().Form_Load();
  EXPECT_EQ(h.text(ctl::Text13), "\r\nshell32.dll\r\nwmp.dll");
  EXPECT_EQ(h.text(ctl::Text12), kMissingHeadline);
}

TEST(ComponentCheck, WindowsElsewhereFindsNothing) {
  Harness h;
  // Windows lives in C:\WINNT; the check still looks in C:\Windows only.
  std::filesystem::rename(h.tm.root() + "/drive_c/windows", h.tm.root() + "/drive_c/WINNT");
  placeComponents(h.tm, u"C:\\WINNT\\System32", {});
  h.form().Form_Load();
  EXPECT_EQ(h.form().sisDir, u"System32\\");
  EXPECT_EQ(h.form().j, 7);
  EXPECT_EQ(h.text(ctl::Text12), kMissingHeadline);
}

TEST(SetupWindow, StartShowsDevamWithFocusAndHidesTheRest) {
  Harness h;
  h.form().Form_Load();
  auto& w = h.window();
  EXPECT_TRUE(w.visible(ctl::Command1));
  EXPECT_TRUE(w.visible(ctl::Command2));
  EXPECT_FALSE(w.visible(ctl::Command3));
  for (int k = 0; k <= 7; ++k)
    EXPECT_FALSE(w.visible(ctl::Text1(k))) << k;
  EXPECT_EQ(w.focus(), ctl::Command1);
  EXPECT_EQ(toUtf8(ctl::kControls[ctl::Command2].text), "Kurulumdan Çık");
  EXPECT_EQ(toUtf8(ctl::kWindow.caption), "Vorlan Kurulum işlemlerine hoşgeldiniz.");
}

TEST(SetupWindow, EndingButtonsEndAtOnceAndWriteNothing) {
  for (ControlId button : {ctl::Command2, ctl::Command3}) {
    Harness h;
    h.form().Form_Load();
    const auto before = std::distance(std::filesystem::recursive_directory_iterator(h.tm.root()),
                                      std::filesystem::recursive_directory_iterator());
    EXPECT_THROW(h.form().click(button), ProgramEnd);
    EXPECT_TRUE(h.boxes.empty());
    const auto after = std::distance(std::filesystem::recursive_directory_iterator(h.tm.root()),
                                     std::filesystem::recursive_directory_iterator());
    EXPECT_EQ(before, after);
  }
}

// "Devam" is disabled from its click on, and no press starts a second run:
// the window answers during the run's waits, so a press could come.
TEST(SetupWindow, DevamRunsOnce) {
  Harness h;
  h.tm.setRegString(true, "Software\\Google\\Chrome\\BLBeacon", "version", "89.0.4389.90");
  test::laySetupPackage(h.tm, u"D:\\Kurulum");
  h.form().Form_Load();
  h.form().click(ctl::Command1);
  EXPECT_FALSE(h.window().enabled(ctl::Command1));
  const auto boxes = h.boxes.size();
  ASSERT_GT(boxes, 0u);
  h.form().click(ctl::Command1);
  EXPECT_EQ(h.boxes.size(), boxes);
}

TEST(ErrorRegime, ResumeNextNeverSwallowsTheEnd) {
  ErrorMode mode;
  mode.onErrorResumeNext();
  EXPECT_FALSE(mode([] { throw RuntimeError(err::FileNotFound); }));
  ASSERT_TRUE(mode.error());
  EXPECT_EQ(mode.error()->number(), 53);
  EXPECT_THROW(mode([] { throw ProgramEnd{}; }), ProgramEnd);
  ErrorMode none;
  EXPECT_THROW(none([] { throw RuntimeError(err::PathNotFound); }), RuntimeError);
}

} // namespace
} // namespace vk
