// "WScript.Shell" on a simulated machine: registry reads, special folders,
// and shortcuts read back with Debian's lnkinfo.
#include "platform/posix/machine/shell_link.h"
#include "support/failures.h"
#include "support/lnkinfo.h"
#include "support/object_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

namespace vk::posix {
namespace {

namespace fs = std::filesystem;
using test::failure;
using test::lnkField;
using test::lnkinfo;

constexpr std::int32_t kFileNotFound = -2147024894;
constexpr std::int32_t kPathNotFound = -2147024893;
constexpr std::int32_t kAccessDenied = -2147024891;
constexpr std::int32_t kException = -2147352567;

constexpr const char* kBeacon = "Software\\Google\\Chrome\\BLBeacon";
constexpr const char* kShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

class ShellTest : public test::ObjectTest {
protected:
  ObjectRef shell() { return create(u"WScript.Shell"); }

  Variant regRead(const Text& path) { return deref(shell()).call(u"RegRead", {path}); }
};

// --- RegRead ---

TEST_F(ShellTest, RegReadGivesAStringValueAsText) {
  tm.setRegString(true, kBeacon, "version", "104.0.5112.81");
  const Variant v = regRead(u"HKEY_CURRENT_USER\\Software\\Google\\Chrome\\BLBeacon\\version");
  ASSERT_TRUE(v.isText());
  EXPECT_EQ(v.toText(), u"104.0.5112.81");
}

TEST_F(ShellTest, RegReadTakesShortRootsAndMatchesNamesWithoutCase) {
  tm.setRegString(true, kBeacon, "version", "99.0.4844.84");
  // The 32-bit program on 64-bit Windows sees HKLM\Software in its own view.
  tm.setRegString(false, "Software\\WOW6432Node\\Vorlan", "Klasör", "Yeni Klasör");
  tm.setRegString(false, "Software\\Vorlan", "Klasör", "the 64-bit view");
  EXPECT_EQ(regRead(u"HKCU\\Software\\Google\\Chrome\\BLBeacon\\version").toText(),
            u"99.0.4844.84");
  EXPECT_EQ(regRead(u"hkcu\\SOFTWARE\\google\\CHROME\\blbeacon\\VERSION").toText(),
            u"99.0.4844.84");
  EXPECT_EQ(regRead(u"hkey_current_user\\Software\\Google\\Chrome\\BLBeacon\\Version").toText(),
            u"99.0.4844.84");
  EXPECT_EQ(regRead(u"HKLM\\Software\\Vorlan\\Klasör").toText(), u"Yeni Klasör");
  EXPECT_EQ(regRead(u"HKEY_LOCAL_MACHINE\\software\\vorlan\\KLASÖR").toText(), u"Yeni Klasör");
}

TEST_F(ShellTest, RegReadWithTrailingBackslashReadsTheDefaultValue) {
  tm.setRegString(true, kBeacon, "", "varsayılan");
  tm.setRegString(true, kBeacon, "version", "104.0.5112.81");
  EXPECT_EQ(regRead(u"HKCU\\Software\\Google\\Chrome\\BLBeacon\\").toText(), u"varsayılan");
}

TEST_F(ShellTest, RegReadOfAnEmptyValueGivesEmptyText) {
  tm.setRegString(true, kBeacon, "version", "");
  const Variant v = regRead(u"HKCU\\Software\\Google\\Chrome\\BLBeacon\\version");
  ASSERT_TRUE(v.isText());
  EXPECT_EQ(v.toText(), u"");
}

TEST_F(ShellTest, RegReadOfAMissingKeyOrValueFailsAsWindowsDoes) {
  tm.setRegString(true, kBeacon, "other", "x");
  const Text missingKey = u"HKEY_CURRENT_USER\\Software\\Google\\Chrome\\Yok\\version";
  const RuntimeError keyError = failure([&] { regRead(missingKey); });
  EXPECT_EQ(keyError.number(), kFileNotFound);
  EXPECT_NE(keyError.description().find(missingKey), Text::npos);

  const Text missingValue = u"HKEY_CURRENT_USER\\Software\\Google\\Chrome\\BLBeacon\\version";
  const RuntimeError valueError = failure([&] { regRead(missingValue); });
  EXPECT_EQ(valueError.number(), kFileNotFound);
  EXPECT_NE(valueError.description().find(missingValue), Text::npos);

  // A key without a default value, read with a trailing "\".
  EXPECT_EQ(failure([&] { regRead(u"HKCU\\Software\\Google\\Chrome\\BLBeacon\\"); }).number(),
            kFileNotFound);
  // Roots the machine keeps no hive for hold nothing.
  EXPECT_EQ(failure([&] { regRead(u"HKEY_USERS\\.DEFAULT\\x"); }).number(), kFileNotFound);
}

TEST_F(ShellTest, RegReadOfABadRootFailsWithPathNotFound) {
  EXPECT_EQ(failure([&] { regRead(u"HKEY_broken_key\\Software\\x"); }).number(), kPathNotFound);
  EXPECT_EQ(failure([&] { regRead(u"HKCUX\\Software\\x"); }).number(), kPathNotFound);
  EXPECT_EQ(failure([&] { regRead(u"HKCU"); }).number(), kPathNotFound);
  EXPECT_EQ(failure([&] { regRead(u""); }).number(), kPathNotFound);
}

TEST_F(ShellTest, RegReadExpandsExpandableStrings) {
  tm.addRegLines(true, "Environment", {"\"VORLAN_HOME\"=str(2):\"%USERPROFILE%\\\\Vorlan\""});
  tm.addRegLines(false, "System\\CurrentControlSet\\Control\\Session Manager\\Environment",
                 {"\"VORLAN_SYS\"=\"Sistem\""});
  tm.addRegLines(true, "Software\\Vorlan",
                 {"\"Desk\"=str(2):\"%USERPROFILE%\\\\Desktop\"",
                  "\"Mixed\"=str(2):\"%vorlan_home%;%VORLAN_SYS%;%SystemRoot%;%YOK%;50%;%%\"",
                  "\"Plain\"=\"%USERPROFILE%\""});
  EXPECT_EQ(regRead(u"HKCU\\Software\\Vorlan\\Desk").toText(), u"C:\\users\\user\\Desktop");
  EXPECT_EQ(regRead(u"HKCU\\Software\\Vorlan\\Mixed").toText(),
            u"C:\\users\\user\\Vorlan;Sistem;C:\\windows;%YOK%;50%;%%");
  EXPECT_EQ(regRead(u"HKCU\\Software\\Vorlan\\Plain").toText(), u"%USERPROFILE%")
      << "REG_SZ is never expanded";
}

TEST_F(ShellTest, RegReadGivesDwordsAsLongAndRefusesArrays) {
  tm.addRegLines(true, "Software\\Vorlan",
                 {"\"Sayi\"=dword:0000000a", "\"Eksi\"=dword:ffffffff",
                  "\"Liste\"=hex(7):61,00,00,00,62,00,00,00,00,00", "\"Ikili\"=hex:01,02,03"});
  const Variant n = regRead(u"HKCU\\Software\\Vorlan\\Sayi");
  ASSERT_TRUE(std::holds_alternative<std::int32_t>(n.value()));
  EXPECT_EQ(n.toInt32(), 10);
  EXPECT_EQ(regRead(u"HKCU\\Software\\Vorlan\\Eksi").toInt32(), -1);
  EXPECT_EQ(failure([&] { regRead(u"HKCU\\Software\\Vorlan\\Liste"); }).number(),
            err::TypeMismatch);
  EXPECT_EQ(failure([&] { regRead(u"HKCU\\Software\\Vorlan\\Ikili"); }).number(),
            err::TypeMismatch);
}

TEST_F(ShellTest, RegReadOfClassesRootPrefersTheUsersClasses) {
  tm.setRegString(false, "Software\\Classes\\.vrl", "", "makine");
  tm.setRegString(false, "Software\\Classes\\.txt", "", "txtfile");
  tm.setRegString(true, "Software\\Classes\\.vrl", "", "kullanıcı");
  EXPECT_EQ(regRead(u"HKCR\\.vrl\\").toText(), u"kullanıcı");
  EXPECT_EQ(regRead(u"HKEY_CLASSES_ROOT\\.txt\\").toText(), u"txtfile");
}

// --- members and arguments ---

TEST_F(ShellTest, MembersMatchWithoutCaseAndCheckTheirArguments) {
  tm.setRegString(true, kBeacon, "version", "104.0.5112.81");
  ObjectRef sh = shell();
  EXPECT_EQ(
      deref(sh).call(u"regread", {u"HKCU\\Software\\Google\\Chrome\\BLBeacon\\version"}).toText(),
      u"104.0.5112.81");
  EXPECT_EQ(failure([&] { deref(sh).call(u"RegRead", {}); }).number(), err::WrongArgumentCount);
  EXPECT_EQ(failure([&] {
              deref(sh).call(u"RegRead", {u"a", u"b"});
            }).number(),
            err::WrongArgumentCount);
  EXPECT_EQ(failure([&] { deref(sh).call(u"CreateShortcut", {}); }).number(),
            err::WrongArgumentCount);
  EXPECT_EQ(failure([&] {
              deref(sh).call(u"SpecialFolders", {u"a", u"b"});
            }).number(),
            err::WrongArgumentCount);
  EXPECT_EQ(failure([&] { deref(sh).call(u"RegWrite", {u"a"}); }).number(), err::NoSuchMember);
  EXPECT_EQ(failure([&] { deref(sh).put(u"SpecialFolders", u"x"); }).number(), err::NoSuchMember);
}

TEST_F(ShellTest, ExpandEnvironmentStringsUsesTheMachinesProfile) {
  ObjectRef sh = shell();
  EXPECT_EQ(deref(sh).call(u"ExpandEnvironmentStrings", {u"%TEMP%\\x;%windir%"}).toText(),
            u"C:\\users\\user\\AppData\\Local\\Temp\\x;C:\\windows");
  EXPECT_EQ(deref(sh).call(u"ExpandEnvironmentStrings", {u"%ProgramFiles%"}).toText(),
            u"C:\\Program Files (x86)")
      << "a 32-bit program on a 64-bit layout";
}

// --- SpecialFolders ---

TEST_F(ShellTest, DesktopComesFromTheShellFoldersKey) {
  tm.setRegString(true, kShellFolders, "Desktop", "D:\\Masaüstü\\");
  ObjectRef sh = shell();
  EXPECT_EQ(deref(sh).call(u"SpecialFolders", {u"Desktop"}).toText(), u"D:\\Masaüstü")
      << "no trailing backslash";
  EXPECT_EQ(deref(sh).call(u"specialfolders", {u"DESKTOP"}).toText(), u"D:\\Masaüstü");
  // Without a name, the collection answers by Item.
  const ObjectRef folders = deref(sh).call(u"SpecialFolders", {}).toObject();
  EXPECT_EQ(deref(folders).call(u"Item", {u"Desktop"}).toText(), u"D:\\Masaüstü");
  EXPECT_EQ(deref(folders).call(u"", {u"Desktop"}).toText(), u"D:\\Masaüstü"); // its default
  // The value ends at an embedded NUL, as RegRead's does.
  tm.addRegLines(true, kShellFolders, {"\"Desktop\"=\"D:\\\\Masa\\0\\\\Yanlis\""});
  EXPECT_EQ(deref(shell()).call(u"SpecialFolders", {u"Desktop"}).toText(), u"D:\\Masa");
}

TEST_F(ShellTest, DesktopFallsBackToTheProfileFolder) {
  EXPECT_EQ(deref(shell()).call(u"SpecialFolders", {u"Desktop"}).toText(),
            u"C:\\users\\user\\Desktop");
  tm.addRegLines(true, kShellFolders, {"\"Desktop\"=str(2):\"%USERPROFILE%\\\\Masaüstü\""});
  EXPECT_EQ(deref(shell()).call(u"SpecialFolders", {u"Desktop"}).toText(),
            u"C:\\users\\user\\Masaüstü");
}

TEST_F(ShellTest, OtherFolderNamesGiveTheRegistryOrNothing) {
  tm.setRegString(true, kShellFolders, "Personal", "C:\\users\\user\\Belgelerim");
  ObjectRef sh = shell();
  EXPECT_EQ(deref(sh).call(u"SpecialFolders", {u"MyDocuments"}).toText(),
            u"C:\\users\\user\\Belgelerim");
  EXPECT_EQ(deref(sh).call(u"SpecialFolders", {u"Favorites"}).toText(), u"");
  EXPECT_EQ(deref(sh).call(u"SpecialFolders", {u"Masaüstü"}).toText(), u"");
  EXPECT_EQ(deref(sh).call(u"SpecialFolders", {u""}).toText(), u"");
}

// --- shortcuts ---

std::vector<std::string> folderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void makeShortcut(Object& shell, const Text& link, const Text& description, const Text& target) {
  const ObjectRef sc = shell.call(u"CreateShortCut", {link}).toObject();
  deref(sc).put(u"Description", description);
  deref(sc).put(u"TargetPath", target);
  deref(sc).call(u"Save", {});
}

TEST_F(ShellTest, SavedShortcutReadsBackWithLnkinfo) {
  const Text desktop = u"C:\\users\\user\\Desktop";
  tm.writeFile(desktop + u"\\Vorlan\\Vorlan.exe", "MZ123");
  ObjectRef sh = shell();
  const ObjectRef sc = deref(sh).call(u"CreateShortCut", {desktop + u"\\Vorlan.lnk"}).toObject();
  deref(sc).put(u"Description", u"Vorlan");
  deref(sc).put(u"TargetPath", desktop + u"\\Vorlan\\Vorlan.exe");
  EXPECT_EQ(deref(sc).get(u"TargetPath").toText(), desktop + u"\\Vorlan\\Vorlan.exe");
  EXPECT_EQ(deref(sc).get(u"description").toText(), u"Vorlan");
  EXPECT_FALSE(tm.exists(desktop + u"\\Vorlan.lnk")) << "nothing is written before Save";
  deref(sc).call(u"Save", {});

  const std::string report = lnkinfo(tm.host(desktop + u"\\Vorlan.lnk"));
  EXPECT_EQ(lnkField(report, "Description"), "Vorlan") << report;
  EXPECT_EQ(lnkField(report, "Local path"), "C:\\users\\user\\Desktop\\Vorlan\\Vorlan.exe")
      << report;
  EXPECT_EQ(lnkField(report, "Relative path"), ".\\Vorlan\\Vorlan.exe") << report;
  EXPECT_EQ(lnkField(report, "File size"), "5 bytes") << "the target as it was: " << report;
  EXPECT_EQ(lnkField(report, "File attribute flags"), "0x00000020") << report;
  EXPECT_EQ(folderEntries(tm.host(desktop)), (std::vector<std::string>{"Vorlan", "Vorlan.lnk"}))
      << "no temporary file is left";
}

TEST_F(ShellTest, ShortcutKeepsTurkishLettersInBothFields) {
  const Text folder = u"C:\\users\\user\\Desktop\\Yeni Klasör";
  tm.makeDir(folder);
  ObjectRef sh = shell();
  makeShortcut(deref(sh), folder + u"\\Vorlan Kısayolu.lnk", u"Vorlan İşÇğ kısayolu",
               folder + u"\\Vorlan\\Vorlan.exe");
  const std::string report = lnkinfo(tm.host(folder + u"\\Vorlan Kısayolu.lnk"));
  EXPECT_EQ(lnkField(report, "Description"), "Vorlan İşÇğ kısayolu") << report;
  EXPECT_EQ(lnkField(report, "Local path"),
            "C:\\users\\user\\Desktop\\Yeni Klasör\\Vorlan\\Vorlan.exe")
      << report;
}

TEST_F(ShellTest, ShortcutToAMissingTargetIsStillMade) {
  const Text link = u"C:\\users\\user\\Desktop\\Vorlan.lnk";
  makeShortcut(deref(shell()), link, u"Vorlan", u"C:\\users\\user\\Desktop\\Vorlan\\Vorlan.exe");
  const std::string report = lnkinfo(tm.host(link));
  EXPECT_EQ(lnkField(report, "Local path"), "C:\\users\\user\\Desktop\\Vorlan\\Vorlan.exe")
      << report;
  EXPECT_EQ(lnkField(report, "File size"), "0 bytes") << report;
}

TEST_F(ShellTest, SecondSaveReplacesTheShortcut) {
  const Text link = u"C:\\users\\user\\Desktop\\Vorlan.lnk";
  ObjectRef sh = shell();
  makeShortcut(deref(sh), link, u"Eski açıklama uzun bir metin", u"C:\\Eski\\Eski.exe");
  const auto first = fs::file_size(tm.host(link));

  // The shell loads the shortcut that exists, as Windows does.
  const ObjectRef again = deref(sh).call(u"CreateShortcut", {link}).toObject();
  EXPECT_EQ(deref(again).get(u"TargetPath").toText(), u"C:\\Eski\\Eski.exe");
  EXPECT_EQ(deref(again).get(u"Description").toText(), u"Eski açıklama uzun bir metin");
  deref(again).put(u"Description", u"Vorlan");
  deref(again).put(u"TargetPath", u"C:\\users\\user\\Desktop\\Vorlan\\Vorlan.exe");
  deref(again).call(u"Save", {});

  const std::string report = lnkinfo(tm.host(link));
  EXPECT_EQ(lnkField(report, "Description"), "Vorlan") << report;
  EXPECT_EQ(lnkField(report, "Local path"), "C:\\users\\user\\Desktop\\Vorlan\\Vorlan.exe")
      << report;
  EXPECT_NE(fs::file_size(tm.host(link)), first);
  EXPECT_EQ(folderEntries(tm.host(u"C:\\users\\user\\Desktop")),
            std::vector<std::string>{"Vorlan.lnk"});
}

TEST_F(ShellTest, SaveReplacesALinkSpelledInAnotherCase) {
  ObjectRef sh = shell();
  makeShortcut(deref(sh), u"C:\\users\\user\\Desktop\\Vorlan.lnk", u"Bir", u"C:\\a.exe");
  makeShortcut(deref(sh), u"c:\\USERS\\user\\desktop\\VORLAN.LNK", u"İki", u"C:\\b.exe");
  EXPECT_EQ(folderEntries(tm.host(u"C:\\users\\user\\Desktop")),
            std::vector<std::string>{"Vorlan.lnk"});
  EXPECT_EQ(lnkField(lnkinfo(tm.host(u"C:\\users\\user\\Desktop\\Vorlan.lnk")), "Description"),
            "İki");
}

TEST_F(ShellTest, SaveIntoAMissingFolderFailsAndWritesNothing) {
  ObjectRef sh = shell();
  const Text link = u"C:\\users\\user\\Yok\\Vorlan.lnk";
  const ObjectRef sc = deref(sh).call(u"CreateShortcut", {link}).toObject();
  deref(sc).put(u"TargetPath", u"C:\\a.exe");
  const RuntimeError e = failure([&] { deref(sc).call(u"Save", {}); });
  EXPECT_EQ(e.number(), kPathNotFound);
  EXPECT_NE(e.description().find(link), Text::npos);
  EXPECT_FALSE(tm.exists(u"C:\\users\\user\\Yok"));

  const ObjectRef noDrive = deref(sh).call(u"CreateShortcut", {u"Q:\\x.lnk"}).toObject();
  EXPECT_EQ(failure([&] { deref(noDrive).call(u"Save", {}); }).number(), kPathNotFound);
}

TEST_F(ShellTest, SaveOverAReadOnlyShortcutIsRefused) {
  const Text link = u"C:\\users\\user\\Desktop\\Vorlan.lnk";
  tm.writeFile(link, "eski");
  fs::permissions(tm.host(link), fs::perms::owner_read);
  const ObjectRef sc = deref(shell()).call(u"CreateShortcut", {link}).toObject();
  deref(sc).put(u"TargetPath", u"C:\\a.exe");
  EXPECT_EQ(failure([&] { deref(sc).call(u"Save", {}); }).number(), kAccessDenied);
  EXPECT_EQ(tm.readFile(link), "eski");
}

TEST_F(ShellTest, CreateShortcutNeedsALinkName) {
  ObjectRef sh = shell();
  const RuntimeError e = failure([&] { deref(sh).call(u"CreateShortcut", {u"C:\\a.exe"}); });
  EXPECT_EQ(e.number(), kException);
  EXPECT_FALSE(e.description().empty());
  EXPECT_EQ(failure([&] { deref(sh).call(u"CreateShortcut", {u"C:\\lnk"}); }).number(), kException);
  EXPECT_TRUE(deref(sh).call(u"CreateShortcut", {u"C:\\A.LNK"}).toObject());
}

TEST_F(ShellTest, ShortcutMembersCheckNamesAndArguments) {
  const ObjectRef sc =
      deref(shell()).call(u"CreateShortcut", {u"C:\\users\\user\\Desktop\\x.lnk"}).toObject();
  EXPECT_EQ(deref(sc).get(u"FullName").toText(), u"C:\\users\\user\\Desktop\\x.lnk");
  EXPECT_EQ(deref(sc).get(u"WindowStyle").toInt32(), 1);
  EXPECT_EQ(deref(sc).get(u"IconLocation").toText(), u",0");
  EXPECT_EQ(failure([&] { deref(sc).call(u"Save", {u"x"}); }).number(), err::WrongArgumentCount);
  EXPECT_EQ(failure([&] { deref(sc).call(u"TargetPath", {u"x"}); }).number(),
            err::WrongArgumentCount);
  EXPECT_EQ(failure([&] { deref(sc).put(u"Hedef", u"x"); }).number(), err::NoSuchMember);
  EXPECT_EQ(failure([&] { deref(sc).put(u"FullName", u"x"); }).number(), err::NoSuchMember);
  EXPECT_EQ(failure([&] { deref(sc).call(u"Kaydet", {}); }).number(), err::NoSuchMember);
}

TEST_F(ShellTest, OtherShortcutFieldsAreWrittenToo) {
  const Text link = u"C:\\users\\user\\Desktop\\x.lnk";
  const ObjectRef sc = deref(shell()).call(u"CreateShortcut", {link}).toObject();
  deref(sc).put(u"TargetPath", u"C:\\windows\\system32\\cmd.exe");
  deref(sc).put(u"Arguments", u"/c \"install.cmd\"");
  deref(sc).put(u"WorkingDirectory", u"C:\\Kurulum");
  deref(sc).put(u"IconLocation", u"C:\\Kurulum\\Vorlan.exe, 2");
  deref(sc).put(u"WindowStyle", std::int32_t{7});
  deref(sc).call(u"Save", {});
  const std::string report = lnkinfo(tm.host(link));
  EXPECT_EQ(lnkField(report, "Command line arguments"), "/c \"install.cmd\"") << report;
  EXPECT_EQ(lnkField(report, "Working directory"), "C:\\Kurulum") << report;
  EXPECT_EQ(lnkField(report, "Icon location"), "C:\\Kurulum\\Vorlan.exe") << report;
  EXPECT_EQ(lnkField(report, "Relative path"), "..\\..\\..\\windows\\system32\\cmd.exe") << report;
}

TEST_F(ShellTest, UrlShortcutIsAnInternetShortcutFile) {
  const Text link = u"C:\\users\\user\\Desktop\\Destek.url";
  const ObjectRef sc = deref(shell()).call(u"CreateShortcut", {link}).toObject();
  deref(sc).put(u"TargetPath", u"https://example.invalid/destek?ş=1");
  deref(sc).call(u"Save", {});
  EXPECT_EQ(tm.readFile(link),
            "[InternetShortcut]\r\nURL=https://example.invalid/destek?\xFE=1\r\n");
  EXPECT_EQ(failure([&] { deref(sc).put(u"Description", u"x"); }).number(), err::NoSuchMember);
}

} // namespace
} // namespace vk::posix
