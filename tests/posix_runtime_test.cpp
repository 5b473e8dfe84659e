// The run-time services on the stand-in machine: Dir, MkDir, FileCopy,
// Shell, MsgBox, End and object creation.
#include "platform/errors.h"
#include "platform/posix/host/error_number.h"
#include "platform/posix/host/process.h"
#include "platform/posix/host/stop_signals.h"
#include "platform/posix/machine/machine.h"
#include "platform/posix/runtime_posix.h"
#include "support/failures.h"
#include "support/host_files.h"
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sched.h>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace vk::posix {
namespace {

using test::errorNumber;
using test::TestMachine;

struct ShownBox {
  Text prompt;
  int buttons;
  Text title;
};

class RuntimeTest : public ::testing::Test {
protected:
  explicit RuntimeTest(Text appPath = u"C:\\Kurulum", bool layout64 = true)
      : tm_(layout64), appPath_(std::move(appPath)) {}

  // Made on first use, so a test may shape the machine first.
  PosixRuntime& rt() {
    if (!rt_) {
      machine_ = std::make_unique<Machine>(tm_.root());
      rt_ = std::make_unique<PosixRuntime>(*machine_, appPath_, u"VorlanKur",
                                           [this](const Text& p, int b, const Text& t) {
                                             boxes_.push_back({p, b, t});
                                             return answer_;
                                           });
    }
    return *rt_;
  }

  // Copies one file over another and to a new name; checks both.
  void copiesAndReplaces();
  void refusesAProgramAnotherRunStarted();

  // Every name of a listing: the first call and its continuations.
  std::vector<std::string> listAll(const Text& pattern, int mask) {
    std::vector<std::string> out;
    for (Text name = rt().rtcDir(pattern, mask); !name.empty(); name = rt().rtcDir())
      out.push_back(toUtf8(name));
    return out;
  }

  // The entries of a host folder, to see that no temporary file stayed.
  static std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder))
      out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

  TestMachine tm_;
  Text appPath_;
  std::unique_ptr<Machine> machine_;
  std::unique_ptr<PosixRuntime> rt_;
  std::vector<ShownBox> boxes_;
  int answer_ = vbOK;
};

using Names = std::vector<std::string>;

// ---------------------------------------------------------------- Dir

class DirTest : public RuntimeTest {
protected:
  void SetUp() override {
    tm_.writeFile(u"C:\\Comp\\plain.dll");
    tm_.writeFile(u"C:\\Comp\\readonly.ocx");
    tm_.writeFile(u"C:\\Comp\\hidden.dll");
    tm_.writeFile(u"C:\\Comp\\system.dll");
    tm_.writeFile(u"C:\\Comp\\hiddensystem.dll");
    tm_.makeDir(u"C:\\Comp\\Sub");
    tm_.makeDir(u"C:\\Comp\\HiddenSub");
    ::chmod(tm_.host(u"C:\\Comp\\readonly.ocx").c_str(), 0444);
    tm_.setDosAttributes(u"C:\\Comp\\hidden.dll", 0x22);
    tm_.setDosAttributes(u"C:\\Comp\\system.dll", 0x4);
    tm_.setDosAttributes(u"C:\\Comp\\hiddensystem.dll", 0x6);
    tm_.setDosAttributes(u"C:\\Comp\\HiddenSub", 0x2);
  }
};

TEST_F(DirTest, MasksSelectByHiddenSystemAndFolder) {
  EXPECT_EQ(listAll(u"C:\\Comp\\", vbNormal), (Names{"plain.dll", "readonly.ocx"}));
  EXPECT_EQ(listAll(u"C:\\Comp\\", vbHidden), (Names{"hidden.dll", "plain.dll", "readonly.ocx"}));
  EXPECT_EQ(listAll(u"C:\\Comp\\", vbSystem), (Names{"plain.dll", "readonly.ocx", "system.dll"}));
  EXPECT_EQ(listAll(u"C:\\Comp\\", vbHidden | vbSystem),
            (Names{"hidden.dll", "hiddensystem.dll", "plain.dll", "readonly.ocx", "system.dll"}));
  EXPECT_EQ(listAll(u"C:\\Comp\\", vbDirectory), (Names{"plain.dll", "readonly.ocx", "Sub"}));
  EXPECT_EQ(listAll(u"C:\\Comp\\", vbDirectory | vbHidden),
            (Names{"hidden.dll", "HiddenSub", "plain.dll", "readonly.ocx", "Sub"}));
}

TEST_F(DirTest, SingleFilesByMask) {
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Comp\\plain.dll", vbNormal)), "plain.dll");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Comp\\readonly.ocx", vbNormal)), "readonly.ocx");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Comp\\hidden.dll", vbNormal)), "");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Comp\\hidden.dll", vbHidden)), "hidden.dll");
  // A component carrying the system attribute does not match mask 2.
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Comp\\system.dll", vbHidden)), "");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Comp\\system.dll", vbSystem)), "system.dll");
  // A folder is only found with vbDirectory.
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Comp\\Sub", vbHidden)), "");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Comp\\Sub", vbDirectory)), "Sub");
}

TEST_F(DirTest, ContinuingRunsToTheEndAndStaysThere) {
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Comp\\", vbNormal)), "plain.dll");
  EXPECT_EQ(toUtf8(rt().rtcDir()), "readonly.ocx");
  EXPECT_EQ(toUtf8(rt().rtcDir()), "");
  EXPECT_EQ(toUtf8(rt().rtcDir()), "");
  // A new listing replaces the old one.
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Comp\\*.ocx", vbNormal)), "readonly.ocx");
  EXPECT_EQ(toUtf8(rt().rtcDir()), "");
}

TEST_F(DirTest, ContinuingWithoutAListingIsAnInvalidCall) {
  EXPECT_EQ(errorNumber([&] { rt().rtcDir(); }), err::InvalidCall);
}

TEST_F(DirTest, EmptyAndMissingFoldersGiveNothing) {
  tm_.makeDir(u"C:\\Empty");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Empty\\", vbNormal)), "");
  EXPECT_EQ(toUtf8(rt().rtcDir()), "");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Empty\\", vbDirectory)), "");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Yok\\", vbNormal)), "");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Yok\\dosya.dll", vbHidden)), "");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Yok", vbDirectory)), "");
  EXPECT_EQ(toUtf8(rt().rtcDir()), "");
  // A file where a folder is expected is a missing folder too.
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Comp\\plain.dll\\", vbNormal)), "");
}

TEST_F(DirTest, RelativePatternsAndMissingDrivesListNothing) {
  // FindFirstFile's "path not found", which Dir answers with "".
  EXPECT_EQ(toUtf8(rt().rtcDir(u"plain.dll", vbNormal)), "");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"Q:\\x", vbNormal)), "");
  EXPECT_EQ(toUtf8(rt().rtcDir()), "");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"q:\\", vbDirectory)), "");
}

TEST_F(DirTest, InvalidNamesFailWith52AndLeaveAnEmptyListing) {
  for (const char16_t* pattern :
       {u"C:\\Comp\\a|b.dll", u"C:\\C*mp\\plain.dll", u"C:\\Co?p\\", u"C:\\Comp\\tab\t.dll"}) {
    SCOPED_TRACE(toUtf8(pattern));
    EXPECT_EQ(errorNumber([&] { rt().rtcDir(pattern, vbNormal); }), err::BadFileName);
    // A failed call still ends the listing before it: continuing gives "".
    EXPECT_EQ(toUtf8(rt().rtcDir()), "");
  }
}

TEST_F(DirTest, LettersMatchWithoutCaseAndNamesComeAsStored) {
  tm_.writeFile(u"C:\\Windows\\SysWOW64\\MSCOMCTL.OCX");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"c:\\windows\\syswow64\\mscomctl.ocx", vbHidden)), "MSCOMCTL.OCX");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\COMP\\PLAIN.DLL", vbNormal)), "plain.dll");
  tm_.writeFile(u"C:\\Kurulum\\Vorlan Bileşenleri\\wmp.dll");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\KURULUM\\VORLAN BILEŞENLERI\\", vbNormal)), "wmp.dll");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"c:\\kurulum\\vorlan bileşenleri\\WMP.DLL", vbNormal)), "wmp.dll");
  // "İ" is not the file-name upper case of "i".
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Kurulum\\VORLAN BİLEŞENLERİ\\", vbNormal)), "");
  tm_.writeFile(u"C:\\Kurulum\\prgDosyaları\\Şablon.XLSX");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Kurulum\\PRGDOSYALARı\\şablon.xlsx", vbNormal)),
            "Şablon.XLSX");
}

TEST_F(DirTest, AFolderOfThePathNamesItselfWithDirectoryMask) {
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Windows\\SysWOW64", vbDirectory)), "syswow64");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Windows\\System32", vbDirectory)), "system32");
  EXPECT_EQ(toUtf8(rt().rtcDir()), "");
}

TEST_F(DirTest, AFolderBearingAFileNameIsNoFile) {
  tm_.makeDir(u"C:\\Windows\\SysWOW64\\wmp.dll");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Windows\\SysWOW64\\wmp.dll", vbNormal)), "");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Windows\\SysWOW64\\wmp.dll", vbHidden)), "");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Windows\\SysWOW64\\wmp.dll", vbDirectory)), "wmp.dll");
}

TEST_F(DirTest, DosWildcards) {
  for (const char16_t* name : {u"C:\\W\\a.dll", u"C:\\W\\b.DLL", u"C:\\W\\c.ocx", u"C:\\W\\readme",
                               u"C:\\W\\x1.txt", u"C:\\W\\x12.txt", u"C:\\W\\arch.tar.gz"})
    tm_.writeFile(name);
  EXPECT_EQ(listAll(u"C:\\W\\*.dll", vbNormal), (Names{"a.dll", "b.DLL"}));
  EXPECT_EQ(listAll(u"C:\\W\\?.DLL", vbNormal), (Names{"a.dll", "b.DLL"}));
  EXPECT_EQ(listAll(u"C:\\W\\x?.txt", vbNormal), (Names{"x1.txt"}));
  EXPECT_EQ(listAll(u"C:\\W\\x??.txt", vbNormal), (Names{"x1.txt", "x12.txt"}));
  EXPECT_EQ(listAll(u"C:\\W\\X*", vbNormal), (Names{"x1.txt", "x12.txt"}));
  EXPECT_EQ(listAll(u"C:\\W\\*.", vbNormal), (Names{"readme"}));
  EXPECT_EQ(listAll(u"C:\\W\\*.gz", vbNormal), (Names{"arch.tar.gz"}));
  EXPECT_EQ(listAll(u"C:\\W\\*.*", vbNormal), listAll(u"C:\\W\\*", vbNormal));
  EXPECT_EQ(listAll(u"C:\\W\\*", vbNormal),
            (Names{"a.dll", "arch.tar.gz", "b.DLL", "c.ocx", "readme", "x1.txt", "x12.txt"}));
  EXPECT_EQ(listAll(u"C:\\W\\*.exe", vbNormal), Names{});
}

TEST_F(DirTest, OrderIsByNameWithoutCase) {
  tm_.writeFile(u"C:\\O\\b.dll");
  tm_.writeFile(u"C:\\O\\A.dll");
  tm_.writeFile(u"C:\\O\\c.dll");
  tm_.writeFile(u"C:\\O\\Ç.dll");
  EXPECT_EQ(listAll(u"C:\\O\\", vbNormal), (Names{"A.dll", "b.dll", "c.dll", "Ç.dll"}));
}

class DriveRootTest : public RuntimeTest {
protected:
  DriveRootTest() : RuntimeTest(u"C:\\") {}
};

TEST_F(DriveRootTest, PathsBuiltOnTheRootHoldADoubledSeparator) {
  tm_.writeFile(u"C:\\Vorlan-Grenvilta\\install.cmd", "echo");
  tm_.writeFile(u"C:\\Vorlan Bileşenleri\\wmp.dll", "dll");
  const Text app = rt().appPath();
  EXPECT_EQ(toUtf8(app), "C:\\");
  EXPECT_EQ(toUtf8(rt().rtcDir(app + u"\\Vorlan-Grenvilta\\install.cmd", vbNormal)), "install.cmd");
  EXPECT_EQ(toUtf8(rt().rtcDir(app + u"\\Vorlan Bileşenleri\\", vbNormal)), "wmp.dll");
  rt().rtcMakeDir(app + u"\\Vorlan");
  EXPECT_TRUE(tm_.exists(u"C:\\Vorlan"));
  rt().rtcFileCopy(app + u"\\Vorlan Bileşenleri\\wmp.dll", app + u"\\Vorlan\\wmp.dll");
  EXPECT_EQ(tm_.readFile(u"C:\\Vorlan\\wmp.dll"), "dll");
}

class Layout32Test : public RuntimeTest {
protected:
  Layout32Test() : RuntimeTest(u"C:\\Kurulum", false) {}
};

TEST_F(Layout32Test, NoSysWow64Folder) {
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Windows\\SysWOW64", vbDirectory)), "");
  EXPECT_EQ(toUtf8(rt().rtcDir(u"C:\\Windows\\System32", vbDirectory)), "system32");
}

// -------------------------------------------------------------- MkDir

TEST_F(RuntimeTest, MakeDirCreatesOneFolder) {
  rt().rtcMakeDir(u"C:\\Users\\user\\Desktop\\Vorlan");
  rt().rtcMakeDir(u"C:\\USERS\\user\\desktop\\vorlan\\prgDosyaları\\");
  EXPECT_TRUE(fs::is_directory(tm_.host(u"C:\\Users\\user\\Desktop\\Vorlan\\prgDosyaları")));
}

TEST_F(RuntimeTest, MakeDirFailuresAndTheirNumbers) {
  tm_.makeDir(u"C:\\Users\\user\\Desktop\\Vorlan");
  tm_.writeFile(u"C:\\Users\\user\\Desktop\\notes.txt");
  tm_.makeDir(u"C:\\Locked");
  ::chmod(tm_.host(u"C:\\Locked").c_str(), 0555);
  EXPECT_EQ(errorNumber([&] { rt().rtcMakeDir(u"C:\\Users\\user\\Desktop\\Vorlan"); }),
            err::PathFileAccess);
  EXPECT_EQ(errorNumber([&] { rt().rtcMakeDir(u"C:\\USERS\\USER\\DESKTOP\\VORLAN"); }),
            err::PathFileAccess);
  EXPECT_EQ(errorNumber([&] { rt().rtcMakeDir(u"C:\\Users\\user\\Desktop\\notes.txt"); }),
            err::PathFileAccess);
  EXPECT_EQ(errorNumber([&] { rt().rtcMakeDir(u"C:\\Yok\\Vorlan"); }), err::PathNotFound);
  EXPECT_EQ(errorNumber([&] { rt().rtcMakeDir(u"C:\\Users\\user\\Desktop\\notes.txt\\x"); }),
            err::PathNotFound);
  EXPECT_EQ(errorNumber([&] { rt().rtcMakeDir(u"C:\\Locked\\Vorlan"); }), err::PermissionDenied);
  EXPECT_FALSE(fs::exists(tm_.host(u"C:\\Locked\\Vorlan")));
  EXPECT_EQ(errorNumber([&] { rt().rtcMakeDir(u"Q:\\Vorlan"); }), err::PathNotFound);
}

// ----------------------------------------------------------- FileCopy

// Hides /proc from this process in a mount namespace of its own, so that
// temporary files are named from the start; false where that is not allowed.
bool hideProc() {
  return test::ownMountNamespace() && ::mount("none", "/proc", "tmpfs", 0, nullptr) == 0 &&
         ::access("/proc/self/fd", X_OK) != 0;
}

void RuntimeTest::copiesAndReplaces() {
  tm_.writeFile(u"C:\\Kurulum\\Vorlan.exe", "new program");
  tm_.writeFile(u"C:\\Users\\user\\Desktop\\Vorlan\\Vorlan.exe", "old program, longer than new");
  ::chmod(tm_.host(u"C:\\Kurulum\\Vorlan.exe").c_str(), 0750);
  rt().rtcFileCopy(u"C:\\KURULUM\\vorlan.exe", u"C:\\Users\\user\\Desktop\\Vorlan\\VORLAN.EXE");
  EXPECT_EQ(tm_.readFile(u"C:\\Users\\user\\Desktop\\Vorlan\\Vorlan.exe"), "new program");
  const std::string folder = tm_.host(u"C:\\Users\\user\\Desktop\\Vorlan");
  // The existing file was replaced, not joined by a second spelling, and no
  // temporary file stayed behind.
  EXPECT_EQ(entries(folder), (Names{"Vorlan.exe"}));
  struct stat st {};
  ASSERT_EQ(::stat((folder + "/Vorlan.exe").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);

  rt().rtcFileCopy(u"C:\\Kurulum\\Vorlan.exe", u"C:\\Users\\user\\Desktop\\Vorlan\\Kopya.exe");
  EXPECT_EQ(tm_.readFile(u"C:\\Users\\user\\Desktop\\Vorlan\\Kopya.exe"), "new program");
}

// A program an earlier run started, still running, is in use for this one
// too: Windows refuses to replace its image whoever started it.
void RuntimeTest::refusesAProgramAnotherRunStarted() {
  const Text program = u"C:\\users\\user\\Desktop\\Vorlan\\Vorlan.exe";
  tm_.installScript(program, "#!/bin/sh\nexec sleep 30\n");
  tm_.writeFile(u"C:\\Kurulum\\Vorlan.exe", "new program");
  Machine machine(tm_.root());
  PosixRuntime earlier(machine, appPath_, u"VorlanKur",
                       [](const Text&, int, const Text&) { return vbOK; });
  const pid_t pid = static_cast<pid_t>(earlier.rtcShell(u"\"" + program + u"\"", vbNormalFocus));
  const auto copy = [&] {
    return errorNumber([&] { rt().rtcFileCopy(u"C:\\Kurulum\\Vorlan.exe", program); });
  };
  EXPECT_EQ(copy(), err::PermissionDenied);
  ::kill(-pid, SIGKILL);
  std::int32_t number = -1; // free once the earlier run's program has gone
  for (int tries = 0; tries < 1000 && number != 0; ++tries) {
    if (tries) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    number = copy();
  }
  EXPECT_EQ(number, 0);
  EXPECT_EQ(tm_.readFile(program), "new program");
}

TEST_F(RuntimeTest, FileCopyRefusesAProgramAnotherRunStarted) {
  refusesAProgramAnotherRunStarted();
}

TEST_F(RuntimeTest, FileCopyCopiesAndReplaces) {
  copiesAndReplaces();
}

// Where files cannot be made unnamed, the temporary one has a name until it
// is renamed into place: the same copies, and nothing left. Where processes
// cannot be seen, a started program holds its file while its pid lives.
TEST_F(RuntimeTest, FileCopyWithProcHidden) {
  const pid_t child = fork();
  if (child == 0) {
    if (!hideProc()) _exit(77);
    copiesAndReplaces();
    refusesAProgramAnotherRunStarted();
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace of its own here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(RuntimeTest, FileCopyKeepsLargeContentAndDosAttributes) {
  std::string big(300000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<char>(i * 7 + i / 251);
  tm_.writeFile(u"C:\\Kurulum\\DATA.xlsx", big);
  tm_.setDosAttributes(u"C:\\Kurulum\\DATA.xlsx", 0x2);
  tm_.makeDir(u"C:\\Hedef");
  rt().rtcFileCopy(u"C:\\Kurulum\\DATA.xlsx", u"C:\\Hedef\\DATA.xlsx");
  EXPECT_EQ(tm_.readFile(u"C:\\Hedef\\DATA.xlsx"), big);
  EXPECT_EQ(Machine::attributes(tm_.host(u"C:\\Hedef\\DATA.xlsx")).value_or(0) & kAttrHidden,
            kAttrHidden);
}

TEST_F(RuntimeTest, AStopSignalEndsACopyWithoutATemporaryLeft) {
  tm_.writeFile(u"C:\\Kurulum\\DATA.xlsx", std::string(1 << 20, 'x'));
  tm_.makeDir(u"C:\\Hedef");
  EXPECT_TRUE(test::endsTheProgramWhenStopped([&] {
    rt().rtcFileCopy(u"C:\\Kurulum\\DATA.xlsx", u"C:\\Hedef\\DATA.xlsx");
  })) << "the copy did not end the program";
  EXPECT_EQ(entries(tm_.host(u"C:\\Hedef")), Names{});
}

TEST_F(RuntimeTest, FileCopyFailuresAndTheirNumbers) {
  tm_.writeFile(u"C:\\Kurulum\\wmp.dll", "component");
  tm_.makeDir(u"C:\\Kurulum\\Folder.dll");
  tm_.writeFile(u"C:\\Windows\\System32\\wmp.dll", "in use");
  ::chmod(tm_.host(u"C:\\Windows\\System32\\wmp.dll").c_str(), 0444);
  tm_.makeDir(u"C:\\Locked");
  ::chmod(tm_.host(u"C:\\Locked").c_str(), 0555);

  EXPECT_EQ(errorNumber([&] { rt().rtcFileCopy(u"C:\\Kurulum\\yok.dll", u"C:\\Windows\\y.dll"); }),
            err::FileNotFound);
  EXPECT_EQ(
      errorNumber([&] { rt().rtcFileCopy(u"C:\\Kurulum\\Folder.dll", u"C:\\Windows\\f.dll"); }),
      err::FileNotFound);
  EXPECT_EQ(errorNumber([&] { rt().rtcFileCopy(u"C:\\Kurulum\\wmp.dll", u"C:\\Yok\\wmp.dll"); }),
            err::PathNotFound);
  EXPECT_EQ(errorNumber([&] {
              rt().rtcFileCopy(u"C:\\Kurulum\\wmp.dll", u"C:\\Windows\\System32\\wmp.dll");
            }),
            err::PermissionDenied);
  EXPECT_EQ(tm_.readFile(u"C:\\Windows\\System32\\wmp.dll"), "in use");
  EXPECT_EQ(errorNumber([&] { rt().rtcFileCopy(u"C:\\Kurulum\\wmp.dll", u"C:\\Locked\\wmp.dll"); }),
            err::PermissionDenied);
  EXPECT_EQ(entries(tm_.host(u"C:\\Locked")), Names{});
  EXPECT_EQ(entries(tm_.host(u"C:\\Windows\\System32")), (Names{"drivers", "wmp.dll"}));
  // CopyFile will not replace a hidden file either.
  tm_.writeFile(u"C:\\Windows\\gizli.dll", "hidden");
  tm_.setDosAttributes(u"C:\\Windows\\gizli.dll", 0x2);
  EXPECT_EQ(
      errorNumber([&] { rt().rtcFileCopy(u"C:\\Kurulum\\wmp.dll", u"C:\\Windows\\gizli.dll"); }),
      err::PermissionDenied);
  EXPECT_EQ(tm_.readFile(u"C:\\Windows\\gizli.dll"), "hidden");
  // The source onto itself, however spelled: the open source is in use.
  for (const char16_t* itself : {u"C:\\Kurulum\\wmp.dll", u"c:\\KURULUM\\.\\WMP.DLL"})
    EXPECT_EQ(errorNumber([&] { rt().rtcFileCopy(u"C:\\Kurulum\\wmp.dll", itself); }),
              err::PermissionDenied);
  EXPECT_EQ(entries(tm_.host(u"C:\\Kurulum")), (Names{"Folder.dll", "wmp.dll"}));
}

// The number a failed host call gives, as the Windows layer numbers the same
// Win32 failure, with the run-time's own text, and the HRESULT an object
// reports for it; a full disk was once shown with the text for unknown
// numbers.
TEST(ErrnoNumbers, FileFailuresAsWindowsNumbersThem) {
  const struct {
    int error;
    std::int32_t number;
    const char16_t* text;
    std::uint32_t hresult;
  } cases[] = {
      {ENOSPC, 61, u"Disk dolu", 0x80070070},
      {EDQUOT, 61, u"Disk dolu", 0x80070070},
      {ENOENT, 76, u"Yol bulunamadı", 0x80070003},
      {ENOTDIR, 76, u"Yol bulunamadı", 0x80070003},
      {EACCES, 70, u"İzin reddedildi", 0x80070005},
      {EPERM, 70, u"İzin reddedildi", 0x80070005},
      {EROFS, 70, u"İzin reddedildi", 0x80070013},
      {EISDIR, 70, u"İzin reddedildi", 0x80070005},
      {ETXTBSY, 70, u"İzin reddedildi", 0x80070020},
      {EBUSY, 70, u"İzin reddedildi", 0x80070020},
      {EEXIST, 58, u"Dosya zaten var", 0x80070050},
      {ENOTEMPTY, 75, u"Yol/Dosya erişim hatası", 0x80070091},
      {ENAMETOOLONG, 52, u"Hatalı dosya adı veya numarası", 0x800700CE},
      {EMFILE, 67, u"Çok fazla dosya", 0x80070004},
      {ENFILE, 67, u"Çok fazla dosya", 0x80070004},
      {ENOMEM, 7, u"Yetersiz bellek", 0x80070008},
      {EXDEV, 74, u"Farklı sürücü ile yeniden adlandırılamaz", 0x80070011},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    const std::optional<err::Code> number = runtimeNumber(c.error);
    ASSERT_TRUE(number);
    EXPECT_EQ(*number, c.number);
    EXPECT_EQ(RuntimeError(*number).description(), c.text);
    EXPECT_EQ(static_cast<std::uint32_t>(hresultOf(c.error)), c.hresult);
  }
  // The rest each caller numbers itself.
  for (const int other : {EIO, EINVAL}) {
    EXPECT_FALSE(runtimeNumber(other));
    EXPECT_EQ(hresultOf(other, hr::Unexpected), hr::Unexpected);
  }
}

// -------------------------------------------------------------- Shell

// Waits (bounded) until the recorder has written count complete entries.
std::string waitForLog(const TestMachine& tm, const std::string& log, std::size_t count = 1) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::string text;
  for (;;) {
    text = tm.readLog(log);
    std::size_t done = 0;
    for (std::size_t p = 0; (p = text.find("\n--\n", p)) != std::string::npos; ++p)
      ++done;
    if (text.rfind("--\n", 0) == 0) ++done; // an entry without any line before
    if (done >= count || std::chrono::steady_clock::now() > deadline) return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Children of this process that are still here (a zombie included).
std::vector<int> childrenOfThisProcess() {
  std::vector<int> out;
  const int self = static_cast<int>(::getpid());
  for (const auto& e : fs::directory_iterator("/proc")) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(e.path() / "stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    int ppid = 0;
    rest >> state >> ppid;
    if (ppid == self) out.push_back(std::stoi(name));
  }
  return out;
}

void makeScript(TestMachine& tm, const Text& path, const std::string& body) {
  tm.writeFile(path, "#!/bin/sh\n" + body);
  ::chmod(tm.host(path).c_str(), 0755);
}

TEST_F(RuntimeTest, ShellFindsBareNamesAndSplitsArgumentsAsWindows) {
  tm_.installRecorder(u"C:\\Windows\\System32\\cmd.exe", "cmd.log");
  const Text line = u"cmd.exe /c C:\\Yeni Klasör\\Vorlan-Grenvilta\\install.cmd";
  const double pid = rt().rtcShell(line, vbMinimizedFocus);
  EXPECT_GT(pid, 0);
  EXPECT_EQ(waitForLog(tm_, "cmd.log"),
            "> cmd.exe /c C:\\Yeni Klasör\\Vorlan-Grenvilta\\install.cmd\n"
            "/c\nC:\\Yeni\nKlasör\\Vorlan-Grenvilta\\install.cmd\n--\n");
}

TEST_F(RuntimeTest, ShellAppendsExeAndSearchesAppFolderThenSystem32ThenWindows) {
  tm_.installRecorder(u"C:\\Windows\\System32\\regsvr32.exe", "regsvr32.log");
  rt().rtcShell(u"regsvr32 /s C:\\Windows\\SysWOW64\\MSCOMCTL.OCX", vbMinimizedFocus);
  EXPECT_EQ(waitForLog(tm_, "regsvr32.log"),
            "> regsvr32 /s C:\\Windows\\SysWOW64\\MSCOMCTL.OCX\n/s\n"
            "C:\\Windows\\SysWOW64\\MSCOMCTL.OCX\n--\n");

  tm_.installRecorder(u"C:\\Kurulum\\tool.exe", "app.log");
  tm_.installRecorder(u"C:\\Windows\\System32\\tool.exe", "system32.log");
  tm_.installRecorder(u"C:\\Windows\\helper.exe", "windows.log");
  rt().rtcShell(u"TOOL x", vbNormalFocus);
  rt().rtcShell(u"helper.exe y", vbNormalFocus);
  EXPECT_EQ(waitForLog(tm_, "app.log"), "> TOOL x\nx\n--\n");
  EXPECT_EQ(waitForLog(tm_, "windows.log"), "> helper.exe y\ny\n--\n");
  EXPECT_EQ(tm_.readLog("system32.log"), "");
}

TEST_F(RuntimeTest, ShellQuotedProgramPathWithBlanksAndTurkishLetters) {
  tm_.installRecorder(u"C:\\Program Files\\Çalıştırıcı\\Başlat.exe", "quoted.log");
  rt().rtcShell(u"\"C:\\Program Files\\Çalıştırıcı\\Başlat.exe\" \"yeni klasör\" a\\\"b c\\\\", 1);
  EXPECT_EQ(waitForLog(tm_, "quoted.log"),
            "> \"C:\\Program Files\\Çalıştırıcı\\Başlat.exe\" \"yeni klasör\" a\\\"b c\\\\\n"
            "yeni klasör\na\"b\nc\\\\\n--\n");
}

TEST_F(RuntimeTest, ShellUnquotedProgramPathWithBlanks) {
  tm_.installRecorder(u"C:\\Users\\Ali Veli\\Desktop\\Vorlan\\Vorlan.exe", "vorlan.log");
  rt().rtcShell(u"C:\\Users\\Ali Veli\\Desktop\\Vorlan\\Vorlan.exe", vbNormalFocus);
  EXPECT_EQ(waitForLog(tm_, "vorlan.log"),
            "> C:\\Users\\Ali Veli\\Desktop\\Vorlan\\Vorlan.exe\n--\n");
  tm_.installRecorder(u"C:\\Yeni Klasör\\Şube Aracı.exe", "sube.log");
  rt().rtcShell(u"c:\\yeni klasör\\şube aracı.EXE -v", vbNormalFocus);
  EXPECT_EQ(waitForLog(tm_, "sube.log"), "> c:\\yeni klasör\\şube aracı.EXE -v\n-v\n--\n");
}

TEST_F(RuntimeTest, ShellChildWorksInTheSetupsFolderAndGetsNoTerminalInput) {
  const std::string log = tm_.root() + "/env.log";
  makeScript(tm_, u"C:\\Araçlar\\probe.exe",
             "{ pwd -P; readlink /proc/self/fd/0; if read line; then echo input; else echo eof; "
             "fi; printf '%s\\n' \"$VORLANKUR_COMMAND_LINE\"; echo --; } >> '" +
                 log + "'\n");
  // A stale value in this process's environment must not reach the child.
  ::setenv("VORLANKUR_COMMAND_LINE", "stale", 1);
  rt().rtcShell(u"C:\\Araçlar\\probe.exe", vbNormalFocus);
  ::unsetenv("VORLANKUR_COMMAND_LINE");
  // Not the program's own folder: CreateProcess without one passes on ours.
  const std::string folder = fs::canonical(fs::current_path()).string();
  EXPECT_EQ(waitForLog(tm_, "env.log"), folder + "\n/dev/null\neof\nC:\\Araçlar\\probe.exe\n--\n");
}

TEST_F(RuntimeTest, ShellReturnsAtOnceWithThePidAndLeavesNoZombie) {
  const std::string release = tm_.root() + "/release";
  makeScript(tm_, u"C:\\Windows\\System32\\waiter.exe",
             "i=0; while [ ! -e '" + release +
                 "' ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done\n"
                 "echo done >> '" +
                 tm_.root() + "/waiter.log'\necho -- >> '" + tm_.root() + "/waiter.log'\n");
  const auto before = std::chrono::steady_clock::now();
  const double pid = rt().rtcShell(u"waiter", vbNormalFocus);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
  ASSERT_GT(pid, 0);

  // The program runs under the returned id, no child of ours: the
  // intermediate process is gone and reaped.
  std::ifstream cmdline("/proc/" + std::to_string(static_cast<long>(pid)) + "/cmdline");
  std::string args((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
  EXPECT_NE(args.find("waiter.exe"), std::string::npos) << args;
  EXPECT_EQ(childrenOfThisProcess(), std::vector<int>{});
  EXPECT_EQ(::kill(static_cast<pid_t>(pid), 0), 0) << "still running";

  std::ofstream(release) << "go";
  EXPECT_EQ(waitForLog(tm_, "waiter.log"), "done\n--\n");
  EXPECT_EQ(childrenOfThisProcess(), std::vector<int>{});
}

TEST_F(RuntimeTest, ShellFailuresAndTheirNumbers) {
  tm_.writeFile(u"C:\\Kurulum\\Vorlan.exe", "MZ not for this host"); // no execute bit
  makeScript(tm_, u"C:\\Kurulum\\ok.exe", "exit 0\n");
  EXPECT_EQ(errorNumber([&] { rt().rtcShell(u"nosuch.exe /x", 1); }), err::FileNotFound);
  EXPECT_EQ(errorNumber([&] { rt().rtcShell(u"C:\\Kurulum\\yok.exe", 1); }), err::FileNotFound);
  EXPECT_EQ(errorNumber([&] { rt().rtcShell(u"C:\\Yok\\Vorlan.exe", 1); }), err::PathNotFound);
  EXPECT_EQ(errorNumber([&] { rt().rtcShell(u"C:\\Yok\\Vorlan.exe x", 1); }), err::PathNotFound);
  EXPECT_EQ(errorNumber([&] { rt().rtcShell(u"\"C:\\Kurulum\\ok.exe", 1); }), 0);
  EXPECT_EQ(errorNumber([&] { rt().rtcShell(u"\"C:\\Kurulum\\ok\" x", 1); }), 0);
  // A file that is no program: ERROR_BAD_EXE_FORMAT.
  EXPECT_EQ(errorNumber([&] { rt().rtcShell(u"C:\\Kurulum\\Vorlan.exe", 1); }), err::InvalidCall);
  // Found first in the application's folder, as Windows looks: it shadows
  // the system folder's program and fails to start.
  makeScript(tm_, u"C:\\Windows\\System32\\Vorlan.exe", "exit 0\n");
  EXPECT_EQ(errorNumber([&] { rt().rtcShell(u"Vorlan.exe", 1); }), err::InvalidCall);
  EXPECT_EQ(errorNumber([&] { rt().rtcShell(u"Q:\\Vorlan.exe", 1); }), err::PathNotFound);
  {
    // A program being written is in use: ERROR_SHARING_VIOLATION.
    std::ofstream writing(tm_.host(u"C:\\Kurulum\\ok.exe"), std::ios::app);
    EXPECT_EQ(errorNumber([&] { rt().rtcShell(u"ok.exe", 1); }), err::PermissionDenied);
  }
  EXPECT_EQ(errorNumber([&] { rt().rtcShell(u"", 1); }), err::FileNotFound);
  EXPECT_EQ(errorNumber([&] { rt().rtcShell(u"   ", 1); }), err::FileNotFound);
  // The window styles the Windows layer knows, and no other.
  for (const int style : {0, 1, 2, 3, 4, 6})
    EXPECT_EQ(errorNumber([&] { rt().rtcShell(u"ok.exe", style); }), 0) << style;
  for (const int style : {-1, 5, 7})
    EXPECT_EQ(errorNumber([&] { rt().rtcShell(u"ok.exe", style); }), err::InvalidCall) << style;
  EXPECT_EQ(childrenOfThisProcess(), std::vector<int>{});
}

// A file in no format the host runs: ERROR_BAD_EXE_FORMAT.
TEST_F(RuntimeTest, ShellOfAScriptWithoutInterpreterFailsWith5) {
  tm_.writeFile(u"C:\\Kurulum\\bozuk.exe", std::string("\x7f"
                                                       "ELF garbage",
                                                       12));
  ::chmod(tm_.host(u"C:\\Kurulum\\bozuk.exe").c_str(), 0755);
  EXPECT_EQ(errorNumber([&] { rt().rtcShell(u"bozuk.exe", 1); }), err::InvalidCall);
  EXPECT_EQ(childrenOfThisProcess(), std::vector<int>{});
}

// A program Shell started cannot be replaced while it runs, and can be
// once it has ended.
TEST_F(RuntimeTest, FileCopyOntoARunningProgramFails) {
  const std::string release = tm_.root() + "/release";
  makeScript(tm_, u"C:\\Vorlan\\Vorlan.exe",
             "i=0; while [ ! -e '" + release +
                 "' ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done\n");
  tm_.writeFile(u"C:\\Kurulum\\Vorlan.exe", "new program");
  const auto pid = static_cast<pid_t>(rt().rtcShell(u"C:\\Vorlan\\Vorlan.exe", vbNormalFocus));
  ASSERT_GT(pid, 0);
  EXPECT_EQ(
      errorNumber([&] { rt().rtcFileCopy(u"C:\\Kurulum\\Vorlan.exe", u"C:\\VORLAN\\vorlan.exe"); }),
      err::PermissionDenied);
  EXPECT_EQ(entries(tm_.host(u"C:\\Vorlan")), Names{"Vorlan.exe"});

  std::ofstream(release) << "go";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::int32_t number = -1;
  while (number != 0 && std::chrono::steady_clock::now() < deadline) {
    number = errorNumber(
        [&] { rt().rtcFileCopy(u"C:\\Kurulum\\Vorlan.exe", u"C:\\Vorlan\\Vorlan.exe"); });
    if (number != 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(number, 0);
  EXPECT_EQ(tm_.readFile(u"C:\\Vorlan\\Vorlan.exe"), "new program");
}

// Windows keeps a file in use while a process runs from it, and only then: a
// recorded program whose pid another process has now does not hold it; a
// program started elsewhere does, by its executable.
TEST_F(RuntimeTest, RunningProgramsAsWindowsSeesThem) {
  const Text program = u"C:\\Vorlan\\Vorlan.exe";
  const std::string host = tm_.host(u"C:\\Vorlan") + "/Vorlan.exe";
  tm_.writeFile(u"C:\\Kurulum\\Vorlan.exe", "new program");
  for (const bool itsExecutable : {false, true}) {
    if (itsExecutable)
      fs::copy_file("/bin/sleep", host, fs::copy_options::overwrite_existing);
    else
      makeScript(tm_, program, "exit 0\n");
    const pid_t other = startProcess({{itsExecutable ? host : "/bin/sleep", "30"},
                                      environmentWith({}),
                                      {},
                                      ProcessOptions::Output::Discard,
                                      {},
                                      ProcessOptions::Group::Own})
                            .pid;
    if (!itsExecutable)
      test::writeHostFile(tm_.root() + "/.vorlankur-started",
                          std::to_string(other) + " 1 " + host + "\n");
    EXPECT_EQ(errorNumber([&] { rt().rtcFileCopy(u"C:\\Kurulum\\Vorlan.exe", program); }),
              itsExecutable ? err::PermissionDenied : 0);
    ::kill(-other, SIGKILL), ::waitpid(other, nullptr, 0);
  }
}

// ------------------------------------------------------ argument split

std::vector<std::string> split(const char16_t* arguments) {
  std::vector<std::string> out;
  for (const Text& a : splitArguments(arguments))
    out.push_back(toUtf8(a));
  return out;
}

TEST(SplitArguments, BlanksSeparateOutsideQuotes) {
  EXPECT_EQ(split(u""), Names{});
  EXPECT_EQ(split(u" \t "), Names{});
  EXPECT_EQ(split(u"a b\t\tc"), (Names{"a", "b", "c"}));
  EXPECT_EQ(split(u"  /s   C:\\Windows\\x.dll  "), (Names{"/s", "C:\\Windows\\x.dll"}));
  EXPECT_EQ(split(u"\"yeni klasör\" çalış"), (Names{"yeni klasör", "çalış"}));
  EXPECT_EQ(split(u"a\"b c\"d e"), (Names{"ab cd", "e"}));
  EXPECT_EQ(split(u"\"unterminated quote"), (Names{"unterminated quote"}));
}

TEST(SplitArguments, BackslashesCountOnlyBeforeAQuote) {
  EXPECT_EQ(split(u"C:\\dir\\ a\\\\b"), (Names{"C:\\dir\\", "a\\\\b"}));
  EXPECT_EQ(split(u"a\\\"b"), (Names{"a\"b"}));         // \"  -> "
  EXPECT_EQ(split(u"a\\\\\"b c\""), (Names{"a\\b c"})); // \\" -> \ and a quote
  EXPECT_EQ(split(u"a\\\\\\\"b"), (Names{"a\\\"b"}));   // \\\" -> \"
  EXPECT_EQ(split(u"\"C:\\dir\\\\\" x"), (Names{"C:\\dir\\", "x"}));
}

TEST(SplitArguments, EmptyAndDoubledQuotes) {
  EXPECT_EQ(split(u"\"\""), (Names{""}));
  EXPECT_EQ(split(u"a \"\" b"), (Names{"a", "", "b"}));
  EXPECT_EQ(split(u"\"\"\""), (Names{"\""}));
  // Inside quotes a doubled quote gives a quote and ends the quoting.
  EXPECT_EQ(split(u"\"a\"\"b c\""), (Names{"a\"b", "c"}));
  EXPECT_EQ(split(u"\"a\"\"\"b\""), (Names{"a\"b"}));
}

// ------------------------------------------- MsgBox, End, objects, path

TEST_F(RuntimeTest, MessageBoxWithoutTitleShowsTheApplicationTitle) {
  answer_ = vbYes;
  EXPECT_EQ(rt().rtcMsgBox(u"Kaydedilsin mi?", 292, std::nullopt), vbYes);
  answer_ = vbNo;
  EXPECT_EQ(rt().rtcMsgBox(u"Bilgi", vbInformation, Text(u"VorlanKur v1.0.0")), vbNo);
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(toUtf8(boxes_[0].prompt), "Kaydedilsin mi?");
  EXPECT_EQ(boxes_[0].buttons, 292);
  EXPECT_EQ(toUtf8(boxes_[0].title), "VorlanKur");
  EXPECT_EQ(boxes_[1].buttons, vbInformation);
  EXPECT_EQ(toUtf8(boxes_[1].title), "VorlanKur v1.0.0");
}

TEST_F(RuntimeTest, EndThrowsProgramEndWhichNoResumeNextSwallows) {
  EXPECT_THROW(rt().vbaEnd(), ProgramEnd);
  ErrorMode mode;
  mode.onErrorResumeNext();
  bool after = false;
  EXPECT_THROW(
      {
        mode([&] { rt().vbaEnd(); });
        after = true;
      },
      ProgramEnd);
  EXPECT_FALSE(after);
}

TEST_F(RuntimeTest, ObjectsByClassAndInterfaceAndAppPath) {
  EXPECT_EQ(errorNumber([&] { rt().rtcCreateObject2(u"Yok.BöyleBirNesne"); }),
            err::CannotCreateObject);
  constexpr const char16_t* shell = u"{13709620-C279-11CE-A49E-444553540000}";
  constexpr const char16_t* browser = u"{0277FC34-FD1B-4616-BB19-5D556733E8C9}";
  constexpr const char16_t* browserInterface = u"{0277FC34-FD1B-4616-BB19-CC6284398AA5}";
  // As CoCreateInstance answers: an id that does not parse or a class
  // nobody registered is 429, an interface the class lacks 430.
  const struct {
    const char16_t* classId;
    const char16_t* interfaceId;
    int number;
  } cases[] = {
      {u"{00000000-0000-0000-0000-000000000001}", u"{00000000-0000-0000-0000-000000000002}", 429},
      {u"{00000000-0000-0000-0000-000000000001}", u"{00020400-0000-0000-C000-000000000046}", 429},
      {u"Shell.Application", u"{00020400-0000-0000-C000-000000000046}", 429},
      {shell, u"{286E6F1B-7113-4355-9562-96B7E9D64C54}", 0}, // IShellDispatch6
      {shell, u"{d8f015c0-c278-11ce-a49e-444553540000}", 0}, // IShellDispatch
      {shell, u"{00020400-0000-0000-C000-000000000046}", 0}, // IDispatch
      {shell, u"{00000000-0000-0000-c000-000000000046}", 0}, // IUnknown
      {shell, browserInterface, 430},
      {shell, u"{00000000-0000-0000-0000-000000000002}", 430},
      {shell, u"286E6F1B-7113-4355-9562-96B7E9D64C54", 429},
      {shell, u"{286E6F1B-7113-4355-9562-96B7E9D64C5}", 429},
      {shell, u"{286E6F1B-7113-4355-9562-96B7E9D64C5G}", 429},
      {shell, u"{286E6F1B+7113-4355-9562-96B7E9D64C54}", 429},
      {shell, u"", 429},
      {browser, u"{286E6F1B-7113-4355-9562-96B7E9D64C54}", 430},
      {u"{0277FC34-FD1B-4616-BB19-E3CCFFAB4234}", u"{00000000-0000-0000-0000-000000000002}", 430},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(c.classId) + " " + toUtf8(c.interfaceId));
    EXPECT_EQ(errorNumber([&] { rt().createObject(c.classId, c.interfaceId); }), c.number);
  }
  EXPECT_EQ(toUtf8(rt().appPath()), "C:\\Kurulum");
}

} // namespace
} // namespace vk::posix
