// The desktop folder and the Vorlan.lnk shortcut, read back with lnkinfo.
#include "support/harness.h"
#include "support/lnkinfo.h"

#include <gtest/gtest.h>

namespace vk {
namespace {

using test::Harness;
using test::lnkinfo;

const Text kLink = u"C:\\users\\user\\Desktop\\Vorlan.lnk";

TEST(Desktop, FromTheRegistryOrTheUsersFolder) {
  Harness h;
  EXPECT_EQ(h.form().GetDesktop(), u"C:\\users\\" + h.machine().loginName() + u"\\Desktop");
  Harness h2;
  h2.tm.setRegString(true, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                     "Desktop", "C:\\Kullanıcılar\\ayşe\\Masaüstü");
  EXPECT_EQ(h2.form().GetDesktop(), u"C:\\Kullanıcılar\\ayşe\\Masaüstü");
}

TEST(Shortcut, PointsAtTheInstalledProgramAndIsReplacedOnASecondRun) {
  Harness h(true, u"D:\\Yeni Klasör");
  h.form().userPath = h.form().GetDesktop();
  h.form().CreateShortCut(); // the target does not exist yet: made all the same
  ASSERT_TRUE(h.tm.exists(kLink));
  std::string info = lnkinfo(h.tm.host(kLink));
  EXPECT_NE(info.find("Description\t\t\t: Vorlan"), std::string::npos) << info;
  EXPECT_NE(info.find("C:\\users\\user\\Desktop\\Vorlan\\Vorlan.exe"), std::string::npos) << info;

  h.form().userPath = u"C:\\users\\user\\Desktop\\İkinci";
  h.form().CreateShortCut();
  info = lnkinfo(h.tm.host(kLink));
  EXPECT_NE(info.find("C:\\users\\user\\Desktop\\İkinci\\Vorlan\\Vorlan.exe"), std::string::npos)
      << info;
  EXPECT_EQ(info.find("Desktop\\Vorlan\\Vorlan.exe"), std::string::npos) << info;
}

TEST(Shortcut, NoneWhenRunFromTheDesktopItselfButCaseCounts) {
  {
    Harness h(true, u"C:\\users\\user\\Desktop");
    h.form().userPath = h.form().GetDesktop();
    h.form().CreateShortCut();
    EXPECT_FALSE(h.tm.exists(kLink));
  }
  Harness h(true, u"C:\\Users\\User\\Desktop");
  h.form().userPath = h.form().GetDesktop();
  h.form().CreateShortCut();
  EXPECT_TRUE(h.tm.exists(kLink));
}

} // namespace
} // namespace vk
