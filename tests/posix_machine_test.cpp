// The stand-in machine: Windows paths on the host, the registry hives, DOS
// attributes, the desktop's user and the machine's code page.
#include "platform/errors.h"
#include "platform/posix/machine/machine.h"
#include "support/failures.h"
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <pwd.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace vk::posix {
namespace {

using test::errorNumber;
using test::TestMachine;

std::string u8(const std::optional<Text>& t) {
  return t ? toUtf8(*t) : "<none>";
}

// ---------------------------------------------------------------- paths

TEST(HostPath, MatchesExistingComponentsWithoutRegardToCase) {
  TestMachine tm;
  tm.writeFile(u"C:\\Users\\user\\Desktop\\Vorlan\\Vorlan.exe");
  Machine m(tm.root());
  EXPECT_EQ(m.hostPath(u"c:\\USERS\\User\\desktop\\VORLAN\\vorlan.EXE"),
            tm.host(u"C:\\Users\\user\\Desktop\\Vorlan\\Vorlan.exe"));
  EXPECT_EQ(m.hostPath(u"C:\\WINDOWS\\SYSTEM32"), tm.root() + "/drive_c/windows/system32");
}

TEST(HostPath, MissingComponentsKeepTheirSpelling) {
  TestMachine tm;
  Machine m(tm.root());
  EXPECT_EQ(m.hostPath(u"C:\\USERS\\User\\Desktop\\Yeni Klasör\\Alt\\Dosya.TXT"),
            tm.root() + "/drive_c/users/user/Desktop/Yeni Klasör/Alt/Dosya.TXT");
  // Below a missing folder nothing is matched, even a name that exists
  // elsewhere in another case.
  EXPECT_EQ(m.hostPath(u"C:\\Yok\\WINDOWS"), tm.root() + "/drive_c/Yok/WINDOWS");
}

TEST(HostPath, TurkishLettersFoldAsWindowsFileNamesDo) {
  TestMachine tm;
  tm.makeDir(u"C:\\Kurulum\\Vorlan Bileşenleri");
  tm.makeDir(u"C:\\Kurulum\\Ağ Ayarları");
  Machine m(tm.root());
  const std::string components = tm.root() + "/drive_c/Kurulum/Vorlan Bileşenleri";
  EXPECT_EQ(m.hostPath(u"C:\\KURULUM\\VORLAN BILEŞENLERI"), components);
  EXPECT_EQ(m.hostPath(u"c:\\kurulum\\vorlan bileşenleri"), components);
  EXPECT_EQ(m.hostPath(u"C:\\Kurulum\\AĞ AYARLARı"), tm.root() + "/drive_c/Kurulum/Ağ Ayarları");
  // The dotted capital I is not the upper case of "i" in file names.
  EXPECT_EQ(m.hostPath(u"C:\\Kurulum\\VORLAN BİLEŞENLERİ"),
            tm.root() + "/drive_c/Kurulum/VORLAN BİLEŞENLERİ");
}

TEST(HostPath, PrefersTheExactSpellingAmongCaseVariants) {
  TestMachine tm;
  tm.writeFile(u"C:\\Data\\a.txt", "lower");
  tm.writeFile(u"C:\\Data\\A.TXT", "upper");
  Machine m(tm.root());
  EXPECT_EQ(m.hostPath(u"C:\\data\\a.txt"), tm.root() + "/drive_c/Data/a.txt");
  EXPECT_EQ(m.hostPath(u"C:\\data\\A.TXT"), tm.root() + "/drive_c/Data/A.TXT");
  // Neither spelled so: one of them, the same every time.
  const std::string either = m.hostPath(u"C:\\DATA\\A.txt");
  EXPECT_TRUE(either == tm.root() + "/drive_c/Data/a.txt" ||
              either == tm.root() + "/drive_c/Data/A.TXT")
      << either;
  EXPECT_EQ(m.hostPath(u"C:\\DATA\\A.txt"), either);
}

TEST(HostPath, DoubledSeparatorsAndSlashesAreOneSeparator) {
  TestMachine tm;
  tm.writeFile(u"C:\\Vorlan-Grenvilta\\install.cmd");
  Machine m(tm.root());
  const std::string expected = tm.host(u"C:\\Vorlan-Grenvilta\\install.cmd");
  // The application path of a program started from a drive root is "C:\",
  // so the paths built on it hold "C:\\".
  EXPECT_EQ(m.hostPath(u"C:\\\\Vorlan-Grenvilta\\install.cmd"), expected);
  EXPECT_EQ(m.hostPath(u"c:/vorlan-grenvilta//INSTALL.CMD"), expected);
  EXPECT_EQ(m.hostPath(u"C:\\\\Vorlan-Grenvilta\\\\"), tm.host(u"C:\\Vorlan-Grenvilta"));
  EXPECT_EQ(m.hostPath(u"C:\\"), tm.root() + "/drive_c");
}

TEST(HostPath, DotStepsNeverClimbAboveTheDriveRoot) {
  TestMachine tm;
  Machine m(tm.root());
  EXPECT_EQ(m.hostPath(u"C:\\a\\.\\b\\..\\c"), tm.root() + "/drive_c/a/c");
  EXPECT_EQ(m.hostPath(u"C:\\..\\..\\Windows"), tm.root() + "/drive_c/windows");
  EXPECT_EQ(m.hostPath(u"C:\\Windows\\..\\..\\..\\Users"), tm.root() + "/drive_c/users");
  EXPECT_EQ(m.hostPath(u"C:\\.."), tm.root() + "/drive_c");
}

TEST(HostPath, RelativePathsAndUnknownDrivesFailWith76) {
  TestMachine tm;
  Machine m(tm.root());
  for (const char16_t* path : {u"", u"Windows\\System32", u"\\Windows", u"C:", u"C:Windows",
                               u"Q:\\Windows", u"1:\\x", u"\\\\server\\share\\x"})
    EXPECT_EQ(errorNumber([&] { m.hostPath(path); }), err::PathNotFound) << toUtf8(path);
}

TEST(HostPath, SecondDriveMapsThroughItsOwnLink) {
  TestMachine tm;
  tm.addDrive('d');
  tm.writeFile(u"D:\\Kurulum\\Vorlan.exe");
  Machine m(tm.root());
  const std::string host = tm.root() + "/drive_d/Kurulum/Vorlan.exe";
  EXPECT_EQ(m.hostPath(u"d:\\KURULUM\\vorlan.exe"), host);
  EXPECT_EQ(u8(m.windowsPath(host)), "D:\\Kurulum\\Vorlan.exe");
  EXPECT_EQ(u8(m.windowsPath(tm.root() + "/drive_d")), "D:\\");
}

// ------------------------------------------------------- windows paths

TEST(WindowsPath, ReversesTheDriveLinks) {
  TestMachine tm;
  Machine m(tm.root());
  EXPECT_EQ(u8(m.windowsPath(tm.root() + "/drive_c")), "C:\\");
  EXPECT_EQ(u8(m.windowsPath(tm.root() + "/drive_c/")), "C:\\");
  EXPECT_EQ(u8(m.windowsPath(tm.root() + "/drive_c/users/user/Desktop")),
            "C:\\users\\user\\Desktop");
  // Through the link itself, and for a file not made yet.
  EXPECT_EQ(u8(m.windowsPath(tm.root() + "/dosdevices/c:/windows/system32")),
            "C:\\windows\\system32");
  EXPECT_EQ(u8(m.windowsPath(tm.root() + "/drive_c/Yeni Klasör/dosya.txt")),
            "C:\\Yeni Klasör\\dosya.txt");
  EXPECT_EQ(m.windowsPath(tm.root() + "/user.reg"), std::nullopt);
  EXPECT_EQ(m.windowsPath("/"), std::nullopt);
}

TEST(WindowsPath, RoundTripsWithHostPath) {
  TestMachine tm;
  tm.writeFile(u"C:\\Users\\user\\Desktop\\Vorlan\\prgDosyaları\\wmp.dll");
  Machine m(tm.root());
  const std::string host = tm.host(u"C:\\Users\\user\\Desktop\\Vorlan\\prgDosyaları\\wmp.dll");
  const auto win = m.windowsPath(host);
  ASSERT_TRUE(win);
  EXPECT_EQ(toUtf8(*win), "C:\\users\\user\\Desktop\\Vorlan\\prgDosyaları\\wmp.dll");
  EXPECT_EQ(m.hostPath(*win), host);
}

TEST(WindowsPath, DeepestDriveWinsOverAWholeHostDrive) {
  TestMachine tm;
  // Wine's z: is the host's root and so holds every other drive.
  fs::create_directory_symlink("/", tm.root() + "/dosdevices/z:");
  Machine m(tm.root());
  EXPECT_EQ(u8(m.windowsPath(tm.root() + "/drive_c/windows")), "C:\\windows");
  EXPECT_EQ(u8(m.windowsPath("/usr")), "Z:\\usr");
}

// -------------------------------------------------------------- locate

class ScopedEnv {
public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string makeTempDir() {
  std::string tmpl = (fs::temp_directory_path() / "vk-nomachine-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  return tmpl;
}

TEST(Locate, EnvironmentVariableNamesTheMachine) {
  TestMachine tm;
  ScopedEnv env("VORLANKUR_MACHINE", tm.root().c_str());
  std::string why;
  EXPECT_EQ(Machine::locate("/nowhere/VorlanKur", &why), tm.root());
}

TEST(Locate, EnvironmentVariableWithoutMachineSaysWhy) {
  const std::string empty = makeTempDir();
  ScopedEnv env("VORLANKUR_MACHINE", empty.c_str());
  std::string why;
  EXPECT_EQ(Machine::locate("/nowhere/VorlanKur", &why), std::nullopt);
  EXPECT_NE(why.find("VORLANKUR_MACHINE"), std::string::npos) << why;
  EXPECT_NE(why.find(empty), std::string::npos) << why;
  fs::remove_all(empty);
}

TEST(Locate, NearestAncestorOfTheExecutableWithDosdevices) {
  TestMachine tm;
  ScopedEnv env("VORLANKUR_MACHINE", nullptr);
  tm.writeFile(u"C:\\Kurulum\\VorlanKur");
  std::string why;
  EXPECT_EQ(Machine::locate(tm.host(u"C:\\Kurulum\\VorlanKur"), &why), tm.root());
  // A nested machine is nearer than the outer one.
  const std::string inner = tm.root() + "/drive_c/inner";
  fs::create_directories(inner + "/dosdevices");
  fs::create_directories(inner + "/bin");
  EXPECT_EQ(Machine::locate(inner + "/bin/VorlanKur", &why), inner);
}

TEST(Locate, WithoutMachineOneSentenceSaysHowToMakeOne) {
  ScopedEnv env("VORLANKUR_MACHINE", nullptr);
  const std::string dir = makeTempDir();
  std::string why;
  EXPECT_EQ(Machine::locate(dir + "/VorlanKur", &why), std::nullopt);
  EXPECT_NE(why.find("VORLANKUR_MACHINE"), std::string::npos) << why;
  EXPECT_NE(why.find("dosdevices"), std::string::npos) << why;
  ASSERT_FALSE(why.empty());
  EXPECT_EQ(why.back(), '.');
  EXPECT_EQ(why.find(". "), std::string::npos) << "one sentence: " << why;
  fs::remove_all(dir);
}

// ------------------------------------------------------------ registry

TEST(Registry, StringsWithEscapesInBothNonAsciiForms) {
  TestMachine tm;
  tm.addRegLines(true, "Software\\Test",
                 {R"("Quoted"="say \"hi\" from C:\\Windows\\")", R"("Controls"="a\tb\nc")",
                  // Wine's \x takes up to four digits: "\x00e7a" is "ça".
                  R"("Escaped"="T\xfcrk K\x131\x15fla \x00e7a")", "\"Raw\"=\"Türkçe İçerik\"",
                  R"("Octal"="x\101\0y")"});
  Machine m(tm.root());
  const auto& reg = m.registry();
  auto text = [&](const char16_t* name) {
    const auto v = reg.read(Hive::CurrentUser, u"Software\\Test", name);
    EXPECT_TRUE(v && v->type == RegValue::Type::Sz) << toUtf8(name);
    return v ? toUtf8(v->text) : std::string("<none>");
  };
  EXPECT_EQ(text(u"Quoted"), "say \"hi\" from C:\\Windows\\");
  EXPECT_EQ(text(u"Controls"), "a\tb\nc");
  EXPECT_EQ(text(u"Escaped"), "Türk Kışla ça");
  EXPECT_EQ(text(u"Raw"), "Türkçe İçerik");
  EXPECT_EQ(text(u"Octal"), std::string("xA\0y", 4));
}

TEST(Registry, KeysAndNamesMatchWithoutCaseAndDefaultValueIsEmptyName) {
  TestMachine tm;
  tm.setRegString(true, "Software\\Google\\Chrome\\BLBeacon", "version", "120.0.6099.130");
  tm.setRegString(true, "Software\\Google\\Chrome\\BLBeacon", "", "varsayılan");
  Machine m(tm.root());
  const auto& reg = m.registry();
  const auto v = reg.read(Hive::CurrentUser, u"software\\GOOGLE\\chrome\\blbeacon", u"VERSION");
  ASSERT_TRUE(v);
  EXPECT_EQ(toUtf8(v->text), "120.0.6099.130");
  const auto d = reg.read(Hive::CurrentUser, u"Software\\Google\\Chrome\\BLBeacon", u"");
  ASSERT_TRUE(d);
  EXPECT_EQ(toUtf8(d->text), "varsayılan");
  // Doubled and outer separators do not make another key.
  EXPECT_TRUE(reg.read(Hive::CurrentUser, u"\\Software\\\\Google\\Chrome\\BLBeacon\\", u"version"));
}

TEST(Registry, MissingKeysValuesAndHivesAreAbsentNotErrors) {
  TestMachine tm;
  tm.setRegString(true, "Software\\Google\\Chrome\\BLBeacon", "version", "1.2");
  Machine m(tm.root());
  const auto& reg = m.registry();
  EXPECT_FALSE(reg.read(Hive::CurrentUser, u"Software\\Google\\Chrome\\BLBeacon", u"versio"));
  EXPECT_FALSE(reg.read(Hive::CurrentUser, u"Software\\Google\\Chrome", u"version"));
  EXPECT_FALSE(reg.read(Hive::CurrentUser, u"Software\\Yok", u"version"));
  EXPECT_FALSE(reg.read(Hive::LocalMachine, u"Software\\Google\\Chrome\\BLBeacon", u"version"));
  EXPECT_TRUE(reg.keyExists(Hive::CurrentUser, u"Software\\Google\\Chrome\\BLBeacon"));
  EXPECT_TRUE(reg.keyExists(Hive::CurrentUser, u"SOFTWARE\\google"));
  EXPECT_FALSE(reg.keyExists(Hive::CurrentUser, u"Software\\Goo"));
  EXPECT_FALSE(reg.keyExists(Hive::LocalMachine, u"Software\\Google"));

  TestMachine bare;
  fs::remove(bare.root() + "/user.reg");
  Machine noHive(bare.root());
  EXPECT_FALSE(noHive.registry().read(Hive::CurrentUser, u"Software", u"x"));
  EXPECT_FALSE(noHive.registry().keyExists(Hive::CurrentUser, u"Software"));
}

TEST(Registry, DwordQwordBinaryAndHexStringTypes) {
  TestMachine tm;
  tm.addRegLines(false, "Software\\Types",
                 {
                     "\"Count\"=dword:0000002a",
                     "\"Max\"=dword:ffffffff",
                     "\"Big\"=hex(b):01,00,00,00,02,00,00,00",
                     "\"Blob\"=hex:01,02,ff",
                     // %SystemRoot%\x, continued over three lines as Wine wraps it.
                     "\"Path\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,\\",
                     "  6f,00,74,00,25,00,5c,00,\\",
                     "  78,00,00,00",
                     "\"Expand\"=str(2):\"%TEMP%\\\\vk\"",
                     "\"Multi\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00",
                     "\"Sz\"=hex(1):c7,00,00,00",
                     "\"Broken\"=dword:zz",
                     "\"After\"=\"still read\"",
                     // A continued piece that starts like a key is still the value.
                     "\"Wrapped\"=\"a\\",
                     "[b]\"",
                 });
  // A key written twice has the values of both.
  tm.addRegLines(false, "SOFTWARE\\types", {"\"Again\"=dword:00000001"});
  Machine m(tm.root());
  const auto& reg = m.registry();
  auto read = [&](const char16_t* name) {
    return reg.read(Hive::LocalMachine, u"Software\\Types", name);
  };
  ASSERT_TRUE(read(u"Count"));
  EXPECT_EQ(read(u"Count")->type, RegValue::Type::Dword);
  EXPECT_EQ(read(u"Count")->number, 42u);
  EXPECT_EQ(read(u"Max")->number, 0xFFFFFFFFu);
  ASSERT_TRUE(read(u"Big"));
  EXPECT_EQ(read(u"Big")->type, RegValue::Type::Qword);
  EXPECT_EQ(read(u"Big")->number, 0x0000000200000001u);
  ASSERT_TRUE(read(u"Blob"));
  EXPECT_EQ(read(u"Blob")->type, RegValue::Type::Binary);
  EXPECT_EQ(read(u"Blob")->data, (std::vector<std::uint8_t>{1, 2, 0xFF}));
  ASSERT_TRUE(read(u"Path"));
  EXPECT_EQ(read(u"Path")->type, RegValue::Type::ExpandSz);
  EXPECT_EQ(toUtf8(read(u"Path")->text), "%SystemRoot%\\x");
  EXPECT_EQ(read(u"Path")->data.size(), 30u);
  ASSERT_TRUE(read(u"Expand"));
  EXPECT_EQ(read(u"Expand")->type, RegValue::Type::ExpandSz);
  EXPECT_EQ(toUtf8(read(u"Expand")->text), "%TEMP%\\vk");
  ASSERT_TRUE(read(u"Multi"));
  EXPECT_EQ(read(u"Multi")->type, RegValue::Type::MultiSz);
  EXPECT_EQ(read(u"Multi")->strings, (std::vector<Text>{u"a", u"bc"}));
  ASSERT_TRUE(read(u"Sz"));
  EXPECT_EQ(read(u"Sz")->type, RegValue::Type::Sz);
  EXPECT_EQ(read(u"Sz")->text, u"Ç");
  EXPECT_FALSE(read(u"Broken"));
  ASSERT_TRUE(read(u"After"));
  EXPECT_EQ(toUtf8(read(u"After")->text), "still read");
  ASSERT_TRUE(read(u"Wrapped"));
  EXPECT_EQ(toUtf8(read(u"Wrapped")->text), "a[b]");
  EXPECT_FALSE(reg.keyExists(Hive::LocalMachine, u"b"));
  ASSERT_TRUE(read(u"Again"));
  EXPECT_EQ(read(u"Count")->number, 42u);
}

TEST(Registry, EachHiveIsReadOnceOnItsFirstQuestion) {
  TestMachine tm;
  Machine m(tm.root());
  tm.setRegString(true, "Software\\Late", "a", "1"); // before any question: seen
  EXPECT_TRUE(m.registry().read(Hive::CurrentUser, u"Software\\Late", u"a"));
  tm.setRegString(true, "Software\\Late", "b", "2"); // after: the hive is not read again
  EXPECT_FALSE(m.registry().read(Hive::CurrentUser, u"Software\\Late", u"b"));
}

std::string linkHex(const std::string& target) {
  std::string out;
  char byte[8];
  for (char c : target) {
    std::snprintf(byte, sizeof byte, "%s%02x,00", out.empty() ? "" : ",",
                  static_cast<unsigned char>(c));
    out += byte;
  }
  return out;
}

TEST(Registry, FollowsWineKeyLinksSuchAsCurrentControlSet) {
  TestMachine tm;
  tm.addRegLines(false, "System\\CurrentControlSet",
                 {"#link", "\"SymbolicLinkValue\"=hex(6):" +
                               linkHex("\\REGISTRY\\Machine\\System\\ControlSet001")});
  tm.setRegString(false, "System\\ControlSet001\\Control\\Nls\\CodePage", "ACP", "1252");
  Machine m(tm.root());
  EXPECT_TRUE(m.registry().keyExists(Hive::LocalMachine,
                                     u"System\\CurrentControlSet\\Control\\Nls\\CodePage"));
  EXPECT_EQ(m.ansiCodePage(), 1252u);
}

// ---------------------------------------------------------- code page, user

TEST(CodePage, FromTheRegistryElseTurkish) {
  TestMachine turkish;
  EXPECT_EQ(Machine(turkish.root()).ansiCodePage(), 1254u);

  TestMachine western;
  western.setRegString(false, "System\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP", "1252");
  EXPECT_EQ(Machine(western.root()).ansiCodePage(), 1252u);

  TestMachine garbled;
  garbled.setRegString(false, "System\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP", "x1");
  EXPECT_EQ(Machine(garbled.root()).ansiCodePage(), 1254u);
}

TEST(LoginName, TheOnlyUserFolderElseTheHostLogin) {
  TestMachine tm;
  EXPECT_EQ(toUtf8(Machine(tm.root()).loginName()), "user");
  tm.makeDir(u"C:\\Users\\Public\\Desktop");
  EXPECT_EQ(toUtf8(Machine(tm.root()).loginName()), "user");

  tm.makeDir(u"C:\\Users\\ayşe");
  const passwd* pw = ::getpwuid(::geteuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(toUtf8(Machine(tm.root()).loginName()), pw->pw_name);
}

TEST(LoginName, ATurkishUserFolder) {
  TestMachine tm;
  fs::rename(tm.root() + "/drive_c/users/user", tm.root() + "/drive_c/users/Ayşe Yılmaz");
  EXPECT_EQ(toUtf8(Machine(tm.root()).loginName()), "Ayşe Yılmaz");
}

// ---------------------------------------------------------- attributes

TEST(Attributes, TypeWritePermissionAndWineDosAttributes) {
  TestMachine tm;
  tm.writeFile(u"C:\\A\\plain.dll");
  tm.writeFile(u"C:\\A\\readonly.dll");
  tm.writeFile(u"C:\\A\\hidden.dll");
  tm.writeFile(u"C:\\A\\system.dll");
  tm.writeFile(u"C:\\A\\both.dll");
  tm.makeDir(u"C:\\A\\folder");
  ::chmod(tm.host(u"C:\\A\\readonly.dll").c_str(), 0444);
  tm.setDosAttributes(u"C:\\A\\hidden.dll", 0x22); // hidden and archive, as Wine writes it
  tm.setDosAttributes(u"C:\\A\\system.dll", 0x4);
  tm.setDosAttributes(u"C:\\A\\both.dll", 0x6);
  auto attr = [&](const char16_t* p) { return Machine::attributes(tm.host(p)).value_or(0xDEAD); };
  constexpr std::uint32_t kDos = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory;
  EXPECT_EQ(attr(u"C:\\A\\plain.dll") & kDos, 0u);
  EXPECT_EQ(attr(u"C:\\A\\readonly.dll") & kDos, kAttrReadOnly);
  EXPECT_EQ(attr(u"C:\\A\\hidden.dll") & kDos, kAttrHidden);
  EXPECT_EQ(attr(u"C:\\A\\system.dll") & kDos, kAttrSystem);
  EXPECT_EQ(attr(u"C:\\A\\both.dll") & kDos, kAttrHidden | kAttrSystem);
  EXPECT_EQ(attr(u"C:\\A\\folder") & kDos, kAttrDirectory);
  EXPECT_EQ(Machine::attributes(tm.host(u"C:\\A\\missing.dll")), std::nullopt);
}

TEST(Attributes, SambaRecordAfterTheTextAndForeignValues) {
  TestMachine tm;
  tm.writeFile(u"C:\\A\\samba.dll");
  tm.writeFile(u"C:\\A\\odd.dll");
  const std::string samba = tm.host(u"C:\\A\\samba.dll");
  const char record[] = "0x2\0\x03\x00\x03\x00\x00\x00";
  ASSERT_EQ(::setxattr(samba.c_str(), "user.DOSATTRIB", record, sizeof record - 1, 0), 0);
  const std::string odd = tm.host(u"C:\\A\\odd.dll");
  ASSERT_EQ(::setxattr(odd.c_str(), "user.DOSATTRIB", "hidden", 6, 0), 0);
  EXPECT_EQ(Machine::attributes(samba).value_or(0) & kAttrHidden, kAttrHidden);
  EXPECT_EQ(Machine::attributes(odd).value_or(0xFF) & (kAttrHidden | kAttrSystem), 0u);
}

} // namespace
} // namespace vk::posix
