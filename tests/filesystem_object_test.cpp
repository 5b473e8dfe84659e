// "Scripting.FileSystemObject" and its text files on a simulated machine.
#include "support/failures.h"
#include "support/host_files.h"
#include "support/object_test.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <filesystem>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vk::posix {
namespace {

namespace fs = std::filesystem;
using test::failure;

constexpr std::int32_t kBadFileMode = 54;
constexpr std::int32_t kFileExists = 58;

const Text kRecord = u"C:\\users\\user\\Desktop\\Vorlan\\prgDosyaları\\ChromeDriverVersiyon.txt";

int openDescriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d))
      ++n;
    ::closedir(d);
  }
  return n;
}

class FsoTest : public test::ObjectTest {
protected:
  void SetUp() override { tm.makeDir(u"C:\\users\\user\\Desktop\\Vorlan\\prgDosyaları"); }

  ObjectRef fso() { return create(u"Scripting.FileSystemObject"); }

  // CreateTextFile(path, True), one writeline, Close: the record step.
  void writeRecord(const Text& path, const Text& line) {
    const ObjectRef f = deref(fso()).call(u"CreateTextFile", {path, true}).toObject();
    deref(f).call(u"writeline", {line});
    deref(f).call(u"Close", {});
  }
};

TEST_F(FsoTest, VersionRecordIsOneLineWithCrLf) {
  writeRecord(kRecord, u"[104]");
  EXPECT_EQ(tm.readFile(kRecord), "[104]\r\n");
  writeRecord(kRecord, u"[99.]");
  EXPECT_EQ(tm.readFile(kRecord), "[99.]\r\n") << "a second run replaces the file";
}

TEST_F(FsoTest, TurkishTextIsWrittenInCodePage1254) {
  writeRecord(kRecord, u"İşÇğ");
  EXPECT_EQ(tm.readFile(kRecord), "\xDD\xFE\xC7\xF0\r\n");
  writeRecord(kRecord, u"ĞÜŞİÖÇ ığüşiöç");
  EXPECT_EQ(tm.readFile(kRecord), "\xD0\xDC\xDE\xDD\xD6\xC7 \xFD\xF0\xFC\xFEi\xF6\xE7\r\n");
}

TEST_F(FsoTest, CharactersTheCodePageLacksBecomeQuestionMarks) {
  writeRecord(kRecord, u"a\u03A9b\u65E5\U0001F600c");
  EXPECT_EQ(tm.readFile(kRecord), "a?b??c\r\n");
}

TEST_F(FsoTest, CodePageComesFromTheRegistry) {
  tm.addRegLines(false, "System\\CurrentControlSet\\Control\\Nls\\CodePage", {"\"ACP\"=\"1252\""});
  writeRecord(kRecord, u"İşÇğÜ");
  EXPECT_EQ(tm.readFile(kRecord), "??\xC7?\xDC\r\n");
}

TEST_F(FsoTest, UnknownCodePageIsWrittenAsWestern) {
  tm.addRegLines(false, "System\\CurrentControlSet\\Control\\Nls\\CodePage", {"\"ACP\"=\"1251\""});
  writeRecord(kRecord, u"Ü€İ");
  EXPECT_EQ(tm.readFile(kRecord), "\xDC\x80?\r\n");
}

TEST_F(FsoTest, OverwriteLeavesOnlyTheNewLine) {
  tm.writeFile(kRecord, "[103]\r\n[102]\r\neski satırlar, uzun bir dosya\r\n");
  writeRecord(kRecord, u"[104]");
  EXPECT_EQ(tm.readFile(kRecord), "[104]\r\n");
  // A link there is replaced; the file it points to, anywhere, stays.
  const std::string outside = tm.root() + "/outside.txt";
  test::writeHostFile(outside, "not the machine's");
  std::filesystem::remove(tm.host(kRecord));
  std::filesystem::create_symlink(outside, tm.host(kRecord));
  writeRecord(kRecord, u"[105]");
  EXPECT_EQ(test::readHostFile(outside), "not the machine's");
  EXPECT_FALSE(std::filesystem::is_symlink(tm.host(kRecord)));
  EXPECT_EQ(tm.readFile(kRecord), "[105]\r\n");
}

TEST_F(FsoTest, NoOverwriteKeepsAnExistingFile) {
  tm.writeFile(kRecord, "[103]\r\n");
  const RuntimeError e = failure([&] { deref(fso()).call(u"CreateTextFile", {kRecord, false}); });
  EXPECT_EQ(e.number(), kFileExists);
  EXPECT_EQ(e.description(), u"Dosya zaten var");
  EXPECT_EQ(tm.readFile(kRecord), "[103]\r\n");

  // False still creates a file that is not there.
  const Text fresh = u"C:\\users\\user\\Desktop\\yeni.txt";
  const ObjectRef f = deref(fso()).call(u"CreateTextFile", {fresh, false}).toObject();
  deref(f).call(u"Close", {});
  EXPECT_EQ(tm.readFile(fresh), "");
}

TEST_F(FsoTest, OverwriteDefaultsToTrue) {
  tm.writeFile(kRecord, "eski\r\n");
  const ObjectRef f = deref(fso()).call(u"CreateTextFile", {kRecord}).toObject();
  deref(f).call(u"WriteLine", {u"yeni"});
  deref(f).call(u"Close", {});
  EXPECT_EQ(tm.readFile(kRecord), "yeni\r\n");
}

TEST_F(FsoTest, MissingFolderFailsWithPathNotFound) {
  const Text path = u"C:\\users\\user\\Desktop\\Yok\\prgDosyaları\\ChromeDriverVersiyon.txt";
  const RuntimeError e = failure([&] { deref(fso()).call(u"CreateTextFile", {path, true}); });
  EXPECT_EQ(e.number(), err::PathNotFound);
  EXPECT_FALSE(tm.exists(u"C:\\users\\user\\Desktop\\Yok"));
  EXPECT_EQ(failure([&] {
              deref(fso()).call(u"CreateTextFile", {u"Q:\\a.txt", true});
            }).number(),
            err::PathNotFound);
  EXPECT_EQ(failure([&] {
              deref(fso()).call(u"CreateTextFile", {u"a.txt", true});
            }).number(),
            err::PathNotFound);
  // A file standing where a folder should be.
  tm.writeFile(u"C:\\dosya", "x");
  EXPECT_EQ(failure([&] {
              deref(fso()).call(u"CreateTextFile", {u"C:\\dosya\\a.txt", true});
            }).number(),
            err::PathNotFound);
}

TEST_F(FsoTest, FoldersAndReadOnlyFilesAreNotOpened) {
  tm.makeDir(u"C:\\users\\user\\Desktop\\klasor.txt");
  EXPECT_EQ(failure([&] {
              deref(fso()).call(u"CreateTextFile", {u"C:\\users\\user\\Desktop\\klasor.txt", true});
            }).number(),
            err::PermissionDenied);
  tm.writeFile(kRecord, "salt okunur");
  fs::permissions(tm.host(kRecord), fs::perms::owner_read);
  EXPECT_EQ(failure([&] {
              deref(fso()).call(u"CreateTextFile", {kRecord, true});
            }).number(),
            err::PermissionDenied);
  EXPECT_EQ(tm.readFile(kRecord), "salt okunur");
}

TEST_F(FsoTest, AFullDiskFailsWith61) {
  // The folder on a file system of one page, filled, in a child that has
  // mounts of its own.
  const pid_t child = fork();
  if (child == 0) {
    const std::string folder = tm.host(u"C:\\users\\user\\Desktop\\Vorlan\\prgDosyaları");
    if (!test::ownMountNamespace() || ::mount("none", folder.c_str(), "tmpfs", 0, "size=4k") != 0)
      _exit(77);
    test::writeHostFile(folder + "/filler", std::string(4096, 'x'));
    const ObjectRef f = deref(fso()).call(u"CreateTextFile", {kRecord, true}).toObject();
    const RuntimeError e = failure([&] { deref(f).call(u"WriteLine", {u"[104]"}); });
    EXPECT_EQ(e.number(), 61);
    EXPECT_EQ(e.description(), u"Disk dolu");
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mounts allowed here";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(FsoTest, PathsMatchExistingFoldersWithoutCase) {
  writeRecord(u"c:\\USERS\\user\\desktop\\VORLAN\\PRGDOSYALARı\\ChromeDriverVersiyon.txt",
              u"[104]");
  EXPECT_EQ(tm.readFile(kRecord), "[104]\r\n");
}

TEST_F(FsoTest, TextReachesTheFileAsItIsWritten) {
  const ObjectRef f = deref(fso()).call(u"CreateTextFile", {kRecord, true}).toObject();
  EXPECT_EQ(tm.readFile(kRecord), "");
  deref(f).call(u"Write", {u"[10"});
  deref(f).call(u"Write", {u"4]"});
  EXPECT_EQ(tm.readFile(kRecord), "[104]");
  deref(f).call(u"WriteLine", {});
  deref(f).call(u"WriteBlankLines", {std::int16_t{2}});
  deref(f).call(u"WRITELINE", {std::int32_t{42}});
  deref(f).call(u"close", {});
  EXPECT_EQ(tm.readFile(kRecord), "[104]\r\n\r\n\r\n42\r\n");
}

TEST_F(FsoTest, WritingAfterCloseFails) {
  const ObjectRef f = deref(fso()).call(u"CreateTextFile", {kRecord, true}).toObject();
  deref(f).call(u"writeline", {u"[104]"});
  deref(f).call(u"Close", {});
  EXPECT_NO_THROW(deref(f).call(u"Close", {})) << "a second Close is harmless";
  EXPECT_EQ(failure([&] { deref(f).call(u"writeline", {u"[105]"}); }).number(), kBadFileMode);
  EXPECT_EQ(failure([&] { deref(f).call(u"Write", {u"x"}); }).number(), kBadFileMode);
  EXPECT_EQ(tm.readFile(kRecord), "[104]\r\n");
}

TEST_F(FsoTest, ReleasingWithoutCloseClosesTheFile) {
  const ObjectRef fs = fso();
  const int before = openDescriptors();
  {
    ObjectRef f = deref(fs).call(u"CreateTextFile", {kRecord, true}).toObject();
    deref(f).call(u"writeline", {u"[104]"});
    EXPECT_EQ(openDescriptors(), before + 1);
  }
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_EQ(tm.readFile(kRecord), "[104]\r\n");
}

TEST_F(FsoTest, UnicodeFilesAreUtf16WithAByteOrderMark) {
  const ObjectRef f = deref(fso()).call(u"CreateTextFile", {kRecord, true, true}).toObject();
  deref(f).call(u"WriteLine", {u"İ1"});
  deref(f).call(u"Close", {});
  EXPECT_EQ(tm.readFile(kRecord), std::string("\xFF\xFE\x30\x01\x31\x00\x0D\x00\x0A\x00", 10));
}

TEST_F(FsoTest, MembersCheckNamesAndArguments) {
  const ObjectRef fs = fso();
  EXPECT_EQ(failure([&] { deref(fs).call(u"CreateTextFile", {}); }).number(),
            err::WrongArgumentCount);
  EXPECT_EQ(failure([&] {
              deref(fs).call(u"CreateTextFile", {kRecord, true, false, true});
            }).number(),
            err::WrongArgumentCount);
  EXPECT_EQ(failure([&] { deref(fs).call(u"OpenTextFile", {kRecord}); }).number(),
            err::NoSuchMember);
  const ObjectRef f = deref(fs).call(u"createtextfile", {kRecord, true}).toObject();
  EXPECT_EQ(failure([&] {
              deref(f).call(u"writeline", {u"a", u"b"});
            }).number(),
            err::WrongArgumentCount);
  EXPECT_EQ(failure([&] { deref(f).call(u"Close", {u"a"}); }).number(), err::WrongArgumentCount);
  EXPECT_EQ(failure([&] { deref(f).call(u"Yaz", {u"a"}); }).number(), err::NoSuchMember);
  EXPECT_EQ(failure([&] { deref(f).call(u"ReadLine", {}); }).number(), kBadFileMode);
  EXPECT_EQ(failure([&] { deref(f).put(u"Line", std::int32_t{1}); }).number(), err::NoSuchMember);
  EXPECT_EQ(failure([&] {
              deref(f).call(u"writeline", {Variant(Bytes{1, 2})});
            }).number(),
            err::TypeMismatch);
}

} // namespace
} // namespace vk::posix
