// The shell application's archive folders, driven the way the setup tool's
// extraction drives them, on zip archives made here.
#include "platform/posix/machine/machine.h"
#include "platform/posix/objects/objects.h"
#include "support/failures.h"
#include "support/fake_runtime_posix.h"
#include "support/host_files.h"
#include "support/test_machine.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace vk {
namespace {

namespace fs = std::filesystem;

const Text kShellClass = u"{13709620-C279-11CE-A49E-444553540000}";
const Text kShellInterface = u"{286E6F1B-7113-4355-9562-96B7E9D64C54}";
const Text kSibling = u"C:\\Kurulum\\Vorlan-Grenvilta\\";
const Text kArchive = u"C:\\Kurulum\\Vorlan-Grenvilta\\chromedriver_win32.zip";
constexpr std::int32_t kNotImplemented = -2147467263; // 0x80004001

struct ZipEntry {
  enum class Kind { File, Folder, Link };
  std::string name;
  std::string data;
  Kind kind = Kind::File;
  bool stored = false; // kept as is rather than deflated
};

void writeZip(const std::string& hostPath, const std::vector<ZipEntry>& entries) {
  fs::create_directories(fs::path(hostPath).parent_path());
  archive* a = archive_write_new();
  archive_write_set_format_zip(a);
  archive_write_set_options(a, "zip:hdrcharset=UTF-8"); // names marked as UTF-8
  if (archive_write_open_filename(a, hostPath.c_str()) != ARCHIVE_OK)
    throw std::runtime_error("cannot write the test archive");
  for (const auto& e : entries) {
    if (e.stored)
      archive_write_zip_set_compression_store(a);
    else
      archive_write_zip_set_compression_deflate(a);
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname_utf8(entry, e.name.c_str());
    archive_entry_set_mtime(entry, 1650000000, 0);
    switch (e.kind) {
    case ZipEntry::Kind::File:
      archive_entry_set_filetype(entry, AE_IFREG);
      archive_entry_set_perm(entry, 0644);
      archive_entry_set_size(entry, static_cast<la_int64_t>(e.data.size()));
      break;
    case ZipEntry::Kind::Folder:
      archive_entry_set_filetype(entry, AE_IFDIR);
      archive_entry_set_perm(entry, 0755);
      break;
    case ZipEntry::Kind::Link:
      archive_entry_set_filetype(entry, AE_IFLNK);
      archive_entry_set_perm(entry, 0777);
      archive_entry_set_symlink(entry, e.data.c_str());
      break;
    }
    if (archive_write_header(a, entry) != ARCHIVE_OK)
      throw std::runtime_error(std::string("cannot add ") + e.name + ": " +
                               archive_error_string(a));
    if (e.kind == ZipEntry::Kind::File && !e.data.empty())
      archive_write_data(a, e.data.data(), e.data.size());
    archive_entry_free(entry);
  }
  archive_write_close(a);
  archive_write_free(a);
}

std::string randomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s)
    c = static_cast<char>(rng());
  return s;
}

class ShellApplicationTest : public ::testing::Test {
protected:
  test::TestMachine tm;
  posix::Machine machine{tm.root()};
  test::FakeRuntime rt{machine};

  std::string host(const Text& path) const { return tm.host(path); }

  ObjectRef shell() { return rt.createObject(kShellClass, kShellInterface); }

  // The setup tool's extraction: NameSpace of the archive and of the
  // destination, the archive's Items, CopyHere with 256.
  void unzip(const Text& archivePath = kArchive, const Text& destination = kSibling,
             std::int16_t options = 256) {
    ObjectRef app = shell();
    ObjectRef archiveFolder = app->call(u"NameSpace", {Variant(archivePath)}).toObject();
    ObjectRef destFolder = app->call(u"NameSpace", {Variant(destination)}).toObject();
    const Variant items = archiveFolder->call(u"Items", {});
    destFolder->call(u"CopyHere", {items, Variant(options)});
  }

  const std::vector<ZipEntry> driverEntries = {
      {"chromedriver.exe", randomBytes(200000, 1), ZipEntry::Kind::File, true},
      {"LICENSE.chromedriver", std::string(5000, 'L') + "icense text"},
      {"sub/", "", ZipEntry::Kind::Folder},
      {"sub/deeper/notes.txt", "nested\r\nfile"},
      {"empty/", "", ZipEntry::Kind::Folder},
      {"Bileşenler/çalışma ğüş.txt", "türkçe"},
  };
};

TEST_F(ShellApplicationTest, ExtractsTheTopLevelEntriesBesideTheArchive) {
  writeZip(host(kArchive), driverEntries);
  const std::string archiveBytes = tm.readFile(kArchive);
  unzip();

  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\chromedriver.exe"), driverEntries[0].data);
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\LICENSE.chromedriver"),
            driverEntries[1].data);
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\sub\\deeper\\notes.txt"),
            "nested\r\nfile");
  EXPECT_TRUE(fs::is_directory(host(u"C:\\Kurulum\\Vorlan-Grenvilta\\empty")));
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\Bileşenler\\çalışma ğüş.txt"), "türkçe");
  // The archive stays as it was, and the entries keep their dates.
  EXPECT_EQ(tm.readFile(kArchive), archiveBytes);
  struct stat st {};
  ASSERT_EQ(stat(host(u"C:\\Kurulum\\Vorlan-Grenvilta\\chromedriver.exe").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1650000000);
  EXPECT_TRUE(rt.boxes.empty());
  EXPECT_TRUE(test::temporaries(host(u"C:\\Kurulum")).empty());
}

TEST_F(ShellApplicationTest, UnmarkedNamesAreReadAsUtf8OrInTheOemCodePage) {
  // Made by Info-ZIP's zip, which keeps the names' bytes and marks nothing:
  // one name in UTF-8, one in code page 857 (Turkish Windows' OEM page).
  const fs::path source = fs::path(tm.root()) / "zip-source";
  fs::create_directories(source);
  std::ofstream(source / "çalışma.txt") << "utf-8 name";
  std::ofstream(source / "\x87"
                         "al\x8d\x9f"
                         "ma-857.txt")
      << "oem name";
  fs::create_directories(fs::path(host(kArchive)).parent_path());
  const std::string command = "cd '" + source.string() + "' && zip -q -X '" + host(kArchive) +
                              "' çalışma.txt $(printf '\\207al\\215\\237ma-857.txt')";
  ASSERT_EQ(std::system(command.c_str()), 0);
  unzip();
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\çalışma.txt"), "utf-8 name");
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\çalışma-857.txt"), "oem name");
  EXPECT_TRUE(rt.boxes.empty());
}

TEST_F(ShellApplicationTest, ItemsListTheArchivesTopLevel) {
  writeZip(host(kArchive), driverEntries);
  ObjectRef app = shell();
  ObjectRef archiveFolder = app->call(u"namespace", {Variant(kArchive)}).toObject();
  EXPECT_EQ(archiveFolder->get(u"Title").toText(), u"chromedriver_win32.zip");
  ObjectRef items = archiveFolder->get(u"items").toObject();
  ASSERT_EQ(items->get(u"Count").toInt32(), 5);
  std::vector<std::pair<Text, bool>> seen;
  for (std::int32_t i = 0; i < 5; ++i) {
    ObjectRef item = items->call(u"Item", {Variant(i)}).toObject();
    seen.emplace_back(item->get(u"Name").toText(), item->get(u"IsFolder").toBool());
  }
  const std::vector<std::pair<Text, bool>> expected = {{u"chromedriver.exe", false},
                                                       {u"LICENSE.chromedriver", false},
                                                       {u"sub", true},
                                                       {u"empty", true},
                                                       {u"Bileşenler", true}};
  EXPECT_EQ(seen, expected);
  EXPECT_THROW(items->call(u"Item", {Variant(5)}).toObject(), RuntimeError); // Nothing

  // One item alone copies only that entry, with everything under it.
  ObjectRef dest = app->call(u"NameSpace", {Variant(kSibling)}).toObject();
  dest->call(u"CopyHere", {items->call(u"Item", {Variant(2)}), Variant(std::int16_t{256})});
  EXPECT_TRUE(tm.exists(u"C:\\Kurulum\\Vorlan-Grenvilta\\sub\\deeper\\notes.txt"));
  EXPECT_FALSE(tm.exists(u"C:\\Kurulum\\Vorlan-Grenvilta\\chromedriver.exe"));
  EXPECT_FALSE(tm.exists(u"C:\\Kurulum\\Vorlan-Grenvilta\\empty"));
}

// The check of a large archive is a long loop of calls: a stop signal ends
// it at the next one.
TEST_F(ShellApplicationTest, AStopSignalEndsTheNextCall) {
  writeZip(host(kArchive), driverEntries);
  ObjectRef archive = shell()->call(u"NameSpace", {Variant(kArchive)}).toObject();
  EXPECT_TRUE(test::endsTheProgramWhenStopped([&] { archive->get(u"Items"); }));
}

TEST_F(ShellApplicationTest, ASecondExtractionAsksBeforeReplacingEachFile) {
  writeZip(host(kArchive), {{"a.txt", "new a"}, {"Sub/b.txt", "new b"}, {"c.txt", "new c"}});
  // Left by an earlier run; names differ in case only, as Windows allows.
  tm.writeFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\A.TXT", "old a");
  tm.writeFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\sub\\B.txt", "old b");

  rt.answers = {vbNo, vbYes}; // "Hayır" for a.txt, "Evet" for Sub\b.txt
  unzip();

  ASSERT_EQ(rt.boxes.size(), 2u);
  for (const auto& box : rt.boxes) {
    EXPECT_EQ(box.buttons, vbYesNo + vbQuestion);
    EXPECT_EQ(box.title, "Dosya Değiştirmeyi Onayla");
  }
  EXPECT_NE(rt.boxes[0].prompt.find("'a.txt'"), std::string::npos) << rt.boxes[0].prompt;
  EXPECT_NE(rt.boxes[1].prompt.find("'Sub\\b.txt'"), std::string::npos) << rt.boxes[1].prompt;
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\A.TXT"), "old a");
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\sub\\B.txt"), "new b");
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\c.txt"), "new c");
  // Replaced under the name it had, not beside it.
  EXPECT_FALSE(fs::exists(host(u"C:\\Kurulum\\Vorlan-Grenvilta\\a.txt")));
  EXPECT_FALSE(fs::exists(host(u"C:\\Kurulum\\Vorlan-Grenvilta\\Sub")));

  // Option 16 answers every question with "Yes" without asking.
  rt.boxes.clear();
  unzip(kArchive, kSibling, 256 + 16);
  EXPECT_TRUE(rt.boxes.empty());
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\A.TXT"), "new a");
  EXPECT_TRUE(test::temporaries(host(u"C:\\Kurulum")).empty());
}

TEST_F(ShellApplicationTest, ADamagedArchiveShowsAnErrorAndKeepsWhatCameBefore) {
  writeZip(host(kArchive), {{"first.txt", "first file"},
                            {"second.bin", randomBytes(20000, 2), ZipEntry::Kind::File, true},
                            {"third.bin", randomBytes(400000, 3), ZipEntry::Kind::File, true}});
  // Cut the archive in the middle of the third entry's data.
  fs::resize_file(host(kArchive), 20000 + 200000);
  unzip();

  ASSERT_EQ(rt.boxes.size(), 1u);
  EXPECT_EQ(rt.boxes[0].title, "Sıkıştırılmış (zip) Klasörler Hatası");
  EXPECT_EQ(rt.boxes[0].buttons, vbOKOnly + vbCritical);
  EXPECT_NE(rt.boxes[0].prompt.find("chromedriver_win32.zip"), std::string::npos);
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\first.txt"), "first file");
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\second.bin"), randomBytes(20000, 2));
  // Never a part of a file.
  EXPECT_FALSE(tm.exists(u"C:\\Kurulum\\Vorlan-Grenvilta\\third.bin"));
  EXPECT_TRUE(test::temporaries(host(u"C:\\Kurulum")).empty());
}

TEST_F(ShellApplicationTest, AnEntryWhoseChecksumFailsIsNotWritten) {
  const std::string good = "intact entry";
  const std::string spoiled = "before-MARKER-after" + randomBytes(5000, 4);
  writeZip(host(kArchive), {{"spoiled.bin", spoiled, ZipEntry::Kind::File, true},
                            {"good.txt", good, ZipEntry::Kind::File, true}});
  // Change one byte of the stored data: the archive still reads, the
  // entry's checksum no longer matches.
  std::string bytes = tm.readFile(kArchive);
  const auto at = bytes.find("MARKER");
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'm';
  std::ofstream(host(kArchive), std::ios::binary | std::ios::trunc) << bytes;

  unzip();
  EXPECT_FALSE(tm.exists(u"C:\\Kurulum\\Vorlan-Grenvilta\\spoiled.bin"));
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\good.txt"), good);
  ASSERT_EQ(rt.boxes.size(), 1u);
  EXPECT_EQ(rt.boxes[0].title, "Sıkıştırılmış (zip) Klasörler Hatası");
  EXPECT_TRUE(test::temporaries(host(u"C:\\Kurulum")).empty());
}

TEST_F(ShellApplicationTest, AFileThatIsNoArchiveAtAllShowsTheError) {
  tm.writeFile(kArchive, "<html>404 page saved as an archive</html>");
  ObjectRef app = shell();
  ObjectRef folder = app->call(u"NameSpace", {Variant(kArchive)}).toObject();
  EXPECT_EQ(folder->get(u"Items").toObject()->get(u"Count").toInt32(), 0);
  unzip();
  ASSERT_EQ(rt.boxes.size(), 1u);
  EXPECT_EQ(rt.boxes[0].title, "Sıkıştırılmış (zip) Klasörler Hatası");
  // Option 1024 keeps the shell's error boxes away.
  rt.boxes.clear();
  unzip(kArchive, kSibling, 256 + 1024);
  EXPECT_TRUE(rt.boxes.empty());
}

TEST_F(ShellApplicationTest, NothingIsWrittenOutsideTheDestination) {
  writeZip(host(kArchive), {{"../evil.txt", "escaped"},
                            {"/abs.txt", "absolute"},
                            {"ok/../../evil2.txt", "escaped too"},
                            {"C:/evil3.txt", "drive"},
                            {"./C:/evil4.txt", "drive after a dot step"},
                            {"link", "../../outside.txt", ZipEntry::Kind::Link},
                            {"good.txt", "good"},
                            {"trap/inner.txt", "through a link"},
                            {"dir/ok.txt", "fine"},
                            // Names Windows will not make.
                            {"CON", "device"},
                            {"sub/NUL.txt", "device with an extension"},
                            {"com1 .log", "device with a blank"},
                            {"trail.", "trailing dot"},
                            {"trail ", "trailing blank"},
                            {"bell\a.txt", "control character"},
                            {"a:b.txt", "a stream"},
                            {"what?.txt", "wildcard"}});
  // An earlier link in the destination must not be followed either.
  fs::create_directories(host(u"C:\\Outside"));
  fs::create_directories(host(u"C:\\Kurulum\\Vorlan-Grenvilta"));
  fs::create_directory_symlink(host(u"C:\\Outside"), host(u"C:\\Kurulum\\Vorlan-Grenvilta\\trap"));

  unzip();

  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\good.txt"), "good");
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\dir\\ok.txt"), "fine");
  EXPECT_FALSE(fs::exists(fs::symlink_status(host(u"C:\\Kurulum\\Vorlan-Grenvilta\\link"))));
  EXPECT_TRUE(fs::is_empty(host(u"C:\\Outside")));
  std::set<std::string> made;
  for (const auto& e : fs::directory_iterator(host(kSibling)))
    made.insert(e.path().filename());
  EXPECT_EQ(made, (std::set<std::string>{"chromedriver_win32.zip", "dir", "good.txt", "trap"}));
  // Nothing appeared anywhere else on the machine or beside it.
  for (const auto& e : fs::recursive_directory_iterator(tm.root())) {
    const std::string name = e.path().filename();
    EXPECT_TRUE(name.find("evil") == std::string::npos && name != "abs.txt" &&
                name != "outside.txt")
        << e.path();
  }
  EXPECT_FALSE(fs::exists(fs::path(tm.root()).parent_path() / "evil.txt"));
  EXPECT_FALSE(fs::exists("/abs.txt"));

  // One refusal per entry, in the archive's order.
  ASSERT_EQ(rt.boxes.size(), 15u);
  const char* named[] = {
      "../evil.txt", "/abs.txt", "ok/../../evil2.txt", "C:/evil3.txt", "./C:/evil4.txt", "link",
      "trap",        "CON",      "sub/NUL.txt",        "com1 .log",    "trail.",         "trail ",
      "bell\a.txt",  "a:b.txt",  "what?.txt"};
  for (std::size_t i = 0; i < rt.boxes.size(); ++i) {
    EXPECT_NE(rt.boxes[i].prompt.find(std::string("'") + named[i]), std::string::npos)
        << rt.boxes[i].prompt;
    EXPECT_EQ(rt.boxes[i].title, "Sıkıştırılmış (zip) Klasörler Hatası");
    EXPECT_EQ(rt.boxes[i].buttons, vbOKOnly + vbCritical);
  }
  EXPECT_TRUE(test::temporaries(host(u"C:\\Kurulum")).empty());
}

TEST_F(ShellApplicationTest, NameSpaceOfWhatIsNoFolderIsNothing) {
  tm.writeFile(u"C:\\Kurulum\\readme.txt", "text");
  ObjectRef app = shell();
  for (const Text& path : {Text(u"C:\\Kurulum\\Vorlan-Grenvilta\\chromedriver_win32.zip"),
                           Text(u"C:\\Kurulum\\Vorlan-Grenvilta\\"),
                           Text(u"C:\\Kurulum\\readme.txt"), Text(u"Kurulum\\relative.zip"),
                           Text(u"Q:\\other\\drive.zip"), Text(u"C:\\Kurulum\\readme.txt\\sub")}) {
    const Variant result = app->call(u"NameSpace", {Variant(path)});
    ASSERT_TRUE(result.isObject()) << toUtf8(path);
    EXPECT_EQ(std::get<ObjectRef>(result.value()), nullptr) << toUtf8(path);
  }
  // Inside an archive: a file, or a folder it does not hold.
  writeZip(host(kArchive), {{"a.txt", "a"}});
  for (const Text& path : {kArchive + u"\\a.txt", kArchive + u"\\sub"})
    EXPECT_EQ(std::get<ObjectRef>(app->call(u"NameSpace", {Variant(path)}).value()), nullptr)
        << toUtf8(path);
  fs::remove(host(kArchive));
  // The setup tool's next step on Nothing fails as the run-time fails it.
  const Variant nothing = app->call(u"NameSpace", {Variant(kArchive)});
  EXPECT_EQ(
      test::errorNumber([&] { deref(std::get<ObjectRef>(nothing.value())).call(u"Items", {}); }),
      err::ObjectNotSet);
  // A folder, with or without its trailing "\", and in any case.
  EXPECT_NE(app->call(u"NameSpace", {Variant(u"c:\\KURULUM")}).toObject(), nullptr);
  EXPECT_NE(app->call(u"NameSpace", {Variant(u"C:\\Kurulum\\")}).toObject(), nullptr);
}

TEST_F(ShellApplicationTest, WhatTheShellDoesNotOfferFailsClearly) {
  writeZip(host(kArchive), {{"a.txt", "a"}});
  tm.writeFile(u"C:\\Kurulum\\other\\x.txt", "x");
  ObjectRef app = shell();
  ObjectRef folder = app->call(u"NameSpace", {Variant(u"C:\\Kurulum\\other")}).toObject();
  ObjectRef dest = app->call(u"NameSpace", {Variant(kSibling)}).toObject();
  ObjectRef archiveFolder = app->call(u"NameSpace", {Variant(kArchive)}).toObject();
  ObjectRef folderItems = folder->get(u"Items").toObject();
  ASSERT_EQ(folderItems->get(u"Count").toInt32(), 1);
  EXPECT_EQ(folderItems->call(u"Item", {Variant(0)}).toObject()->get(u"Path").toText(),
            u"C:\\Kurulum\\other\\x.txt");

  EXPECT_EQ(
      test::errorNumber([&] { dest->call(u"CopyHere", {Variant(u"C:\\Kurulum\\other\\x.txt")}); }),
      kNotImplemented);
  EXPECT_EQ(test::errorNumber([&] {
              archiveFolder->call(u"CopyHere", {folder->get(u"Items"), Variant(0)});
            }),
            kNotImplemented);
  EXPECT_EQ(test::errorNumber([&] { dest->call(u"CopyHere", {}); }), err::WrongArgumentCount);
  EXPECT_EQ(test::errorNumber([&] { dest->call(u"MoveHere", {folder->get(u"Items")}); }),
            kNotImplemented);
  EXPECT_FALSE(tm.exists(u"C:\\Kurulum\\Vorlan-Grenvilta\\x.txt"));
  // A folder's items are copied, as the shell copies them, a folder named
  // like an archive too; into a folder nobody may write, nothing arrives.
  tm.writeFile(u"C:\\Kurulum\\other.zip\\in\\y.txt", "y");
  ObjectRef named = app->call(u"NameSpace", {Variant(u"C:\\Kurulum\\other.zip")}).toObject();
  dest->call(u"CopyHere", {named->get(u"Items"), Variant(std::int16_t{256})});
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\in\\y.txt"), "y");
  EXPECT_TRUE(rt.boxes.empty());
  ::chmod(host(kSibling).c_str(), 0555);
  dest->call(u"CopyHere", {Variant(folderItems), Variant(std::int16_t{256})});
  dest->call(u"CopyHere", {archiveFolder->get(u"Items"), Variant(std::int16_t{256})});
  EXPECT_FALSE(tm.exists(u"C:\\Kurulum\\Vorlan-Grenvilta\\x.txt"));
  EXPECT_FALSE(tm.exists(u"C:\\Kurulum\\Vorlan-Grenvilta\\a.txt"));
  EXPECT_EQ(rt.boxes.size(), 2u);
  ::chmod(host(kSibling).c_str(), 0755);
  dest->call(u"CopyHere", {Variant(folderItems), Variant(std::int16_t{256})});
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\Vorlan-Grenvilta\\x.txt"), "x");
  rt.boxes.clear();
  EXPECT_EQ(test::errorNumber([&] { app->call(u"NameSpace", {}); }), err::WrongArgumentCount);
  EXPECT_EQ(test::errorNumber([&] { app->call(u"Explore", {Variant(kSibling)}); }),
            err::NoSuchMember);
  EXPECT_EQ(test::errorNumber([&] { app->call(u"NameSpace", {Variant(0)}); }), err::InvalidCall);
  EXPECT_TRUE(rt.boxes.empty());
}

} // namespace
} // namespace vk
