// The .lnk writer and reader, and the ANSI code pages they use; links are
// read back with Debian's lnkinfo as an independent reader.
#include "platform/posix/machine/codepage.h"
#include "platform/posix/machine/shell_link.h"
#include "support/lnkinfo.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <stdexcept>
#include <stdlib.h>

namespace vk::posix {
namespace {

namespace fs = std::filesystem;
using test::lnkField;
using test::lnkinfo;

class TempDir {
public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "vk-lnk-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

private:
  std::string path_;
};

std::string writeLink(const TempDir& dir, const std::string& name, const ShellLink& link,
                      unsigned codePage = kCodePageTurkish) {
  const std::string file = dir.path() + "/" + name;
  std::ofstream(file, std::ios::binary) << serializeShellLink(link, codePage);
  return file;
}

std::uint32_t le32(const std::string& b, std::size_t pos) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = v << 8 | static_cast<std::uint8_t>(b[pos + i]);
  return v;
}

ShellLink vorlanLink(const Text& target) {
  ShellLink link;
  link.description = u"Vorlan";
  link.targetPath = target;
  link.driveSerialNumber = 0x1234ABCD;
  return link;
}

TEST(ShellLinkFile, LnkinfoReadsDescriptionAndLocalPath) {
  TempDir dir;
  int status = -1;
  const std::string report = lnkinfo(
      writeLink(dir, "Vorlan.lnk", vorlanLink(u"C:\\users\\user\\Desktop\\Vorlan\\Vorlan.exe")),
      &status);
  ASSERT_EQ(status, 0) << report;
  EXPECT_EQ(lnkField(report, "Description"), "Vorlan") << report;
  EXPECT_EQ(lnkField(report, "Local path"), "C:\\users\\user\\Desktop\\Vorlan\\Vorlan.exe")
      << report;
  EXPECT_EQ(lnkField(report, "Drive type"), "Fixed (3)") << report;
  EXPECT_EQ(lnkField(report, "Drive serial number"), "0x1234abcd") << report;
}

TEST(ShellLinkFile, LnkinfoReadsTurkishLettersInBothFields) {
  TempDir dir;
  ShellLink link = vorlanLink(u"C:\\users\\user\\Desktop\\Yeni Klasör\\Vorlan\\Vorlan.exe");
  link.description = u"Vorlan kısayolu: İşÇğÜö";
  link.relativePath = u".\\Yeni Klasör\\Vorlan\\Vorlan.exe";
  const std::string report = lnkinfo(writeLink(dir, "Yeni.lnk", link));
  EXPECT_EQ(lnkField(report, "Description"), "Vorlan kısayolu: İşÇğÜö") << report;
  EXPECT_EQ(lnkField(report, "Local path"),
            "C:\\users\\user\\Desktop\\Yeni Klasör\\Vorlan\\Vorlan.exe")
      << report;
  EXPECT_EQ(lnkField(report, "Relative path"), ".\\Yeni Klasör\\Vorlan\\Vorlan.exe") << report;
}

TEST(ShellLinkFile, LnkinfoReadsCharactersNoCodePageHas) {
  // The UTF-16 copy of the path keeps what the ANSI copy cannot.
  TempDir dir;
  const std::string report =
      lnkinfo(writeLink(dir, "x.lnk", vorlanLink(u"C:\\Ω Δ\\日本\\a.exe"), kCodePageWestern));
  EXPECT_EQ(lnkField(report, "Local path"), "C:\\Ω Δ\\日本\\a.exe") << report;
}

TEST(ShellLinkBytes, HeaderAndLinkInfoFollowTheFormat) {
  ShellLink link = vorlanLink(u"C:\\Yeni Klasör\\a.exe");
  link.fileAttributes = 0x20;
  link.fileSize = 1234;
  link.writeTime = 0x01D9F00000000000ULL;
  const std::string b = serializeShellLink(link, kCodePageTurkish);

  ASSERT_GE(b.size(), 0x4Cu);
  EXPECT_EQ(le32(b, 0), 0x4Cu);
  const std::string clsid("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
  EXPECT_EQ(b.substr(4, 16), clsid);
  const std::uint32_t flags = le32(b, 20);
  EXPECT_EQ(flags & 0x2, 0x2u) << "HasLinkInfo";
  EXPECT_EQ(flags & 0x4, 0x4u) << "HasName";
  EXPECT_EQ(flags & 0x80, 0x80u) << "IsUnicode";
  EXPECT_EQ(flags & 0x1, 0u) << "no IDList is written";
  EXPECT_EQ(le32(b, 24), 0x20u);
  EXPECT_EQ(le32(b, 44), 0x00000000u);
  EXPECT_EQ(le32(b, 48), 0x01D9F000u);
  EXPECT_EQ(le32(b, 52), 1234u);
  EXPECT_EQ(le32(b, 60), 1u) << "SW_SHOWNORMAL";

  // LinkInfo right after the header: the optional UTF-16 offsets are there.
  const std::size_t li = 0x4C;
  const std::uint32_t liSize = le32(b, li);
  EXPECT_EQ(le32(b, li + 4), 0x24u);
  EXPECT_EQ(le32(b, li + 8), 1u) << "VolumeIDAndLocalBasePath";
  EXPECT_EQ(le32(b, li + 12), 0x24u);
  EXPECT_EQ(le32(b, li + 20), 0u) << "no network share";
  const std::string ansi = b.substr(li + le32(b, li + 16));
  EXPECT_EQ(ansi.substr(0, ansi.find('\0')), "C:\\Yeni Klas\xF6r\\a.exe") << "cp1254 bytes";
  EXPECT_EQ(b[li + le32(b, li + 24)], '\0') << "empty common suffix";
  const std::size_t uni = li + le32(b, li + 28);
  EXPECT_EQ(b.substr(uni, 6), std::string("C\0:\0\\\0", 6));
  EXPECT_LT(le32(b, li + 28), liSize);

  // The description follows LinkInfo as a counted UTF-16 string.
  const std::size_t name = li + liSize;
  EXPECT_EQ(static_cast<std::uint8_t>(b[name]), 6u);
  EXPECT_EQ(b.substr(name + 2, 12), std::string("V\0o\0r\0l\0a\0n\0", 12));
  EXPECT_EQ(b.substr(b.size() - 4), std::string(4, '\0')) << "terminal block";
}

TEST(ShellLinkBytes, AnsiPathMarksWhatTheCodePageLacks) {
  const ShellLink link = vorlanLink(u"C:\\Ω\\ş.exe");
  const std::string turkish = serializeShellLink(link, kCodePageTurkish);
  const std::string western = serializeShellLink(link, kCodePageWestern);
  auto ansiPath = [](const std::string& b) {
    const std::string s = b.substr(0x4C + le32(b, 0x4C + 16));
    return s.substr(0, s.find('\0'));
  };
  EXPECT_EQ(ansiPath(turkish), "C:\\?\\\xFE.exe");
  EXPECT_EQ(ansiPath(western), "C:\\?\\?.exe");
}

TEST(ShellLinkBytes, OnlyDrivePathsGetALinkInfo) {
  ShellLink link;
  link.targetPath = u"Vorlan.exe";
  const std::string b = serializeShellLink(link, kCodePageTurkish);
  EXPECT_EQ(le32(b, 20) & 0x2, 0u);
  EXPECT_EQ(le32(b, 20) & 0x4, 0u) << "no description, no name string";
  EXPECT_EQ(b.size(), 0x4Cu + 4u);
}

TEST(ShellLinkParse, RoundTripsEveryField) {
  ShellLink link = vorlanLink(u"D:\\Program Files\\Vorlan İş\\Vorlan.exe");
  link.relativePath = u"..\\Vorlan İş\\Vorlan.exe";
  link.workingDirectory = u"D:\\Program Files\\Vorlan İş";
  link.arguments = u"/sessiz \"Yeni Klasör\"";
  link.iconLocation = u"D:\\ikon.ico";
  link.iconIndex = -3;
  link.showCommand = 7;
  link.hotKey = 0x0341;
  link.fileAttributes = 0x21;
  link.creationTime = 1;
  link.accessTime = 2;
  link.writeTime = 0x0123456789ABCDEFULL;
  link.fileSize = 0xFFFFFFFF;
  link.volumeLabel = u"DİSK";
  const auto back = parseShellLink(serializeShellLink(link, kCodePageTurkish), kCodePageTurkish);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->description, link.description);
  EXPECT_EQ(back->targetPath, link.targetPath);
  EXPECT_EQ(back->relativePath, link.relativePath);
  EXPECT_EQ(back->workingDirectory, link.workingDirectory);
  EXPECT_EQ(back->arguments, link.arguments);
  EXPECT_EQ(back->iconLocation, link.iconLocation);
  EXPECT_EQ(back->iconIndex, -3);
  EXPECT_EQ(back->showCommand, 7u);
  EXPECT_EQ(back->hotKey, 0x0341);
  EXPECT_EQ(back->fileAttributes, 0x21u);
  EXPECT_EQ(back->creationTime, 1u);
  EXPECT_EQ(back->accessTime, 2u);
  EXPECT_EQ(back->writeTime, link.writeTime);
  EXPECT_EQ(back->fileSize, 0xFFFFFFFFu);
  EXPECT_EQ(back->driveSerialNumber, 0x1234ABCDu);
  EXPECT_EQ(back->volumeLabel, u"DİSK");
}

TEST(ShellLinkParse, VolumeLabelOutsideTheCodePageKeepsItsUtf16Copy) {
  ShellLink link = vorlanLink(u"C:\\a.exe");
  link.volumeLabel = u"Диск";
  const auto back = parseShellLink(serializeShellLink(link, kCodePageTurkish), kCodePageTurkish);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->volumeLabel, u"Диск");
  TempDir dir;
  const std::string report = lnkinfo(writeLink(dir, "l.lnk", link));
  EXPECT_EQ(lnkField(report, "Local path"), "C:\\a.exe") << report;
}

TEST(ShellLinkParse, RejectsWhatIsNotALinkAndEveryTruncation) {
  EXPECT_FALSE(parseShellLink("", kCodePageTurkish));
  EXPECT_FALSE(parseShellLink(std::string(0x4C, '\0'), kCodePageTurkish));
  ShellLink link = vorlanLink(u"C:\\users\\user\\Desktop\\Vorlan\\Vorlan.exe");
  link.arguments = u"-x";
  const std::string full = serializeShellLink(link, kCodePageTurkish);
  std::string wrongClass = full;
  wrongClass[4] = 0x02;
  EXPECT_FALSE(parseShellLink(wrongClass, kCodePageTurkish));
  // Cut anywhere before the terminal block, a field is missing.
  for (std::size_t n = 0; n + 4 < full.size(); ++n)
    EXPECT_FALSE(parseShellLink(full.substr(0, n), kCodePageTurkish)) << "length " << n;
  // Offsets pointing outside the LinkInfo are refused, not followed.
  std::string badOffset = full;
  badOffset[0x4C + 29] = '\x7F'; // LocalBasePathOffsetUnicode
  badOffset[0x4C + 17] = '\x7F'; // LocalBasePathOffset
  const auto back = parseShellLink(badOffset, kCodePageTurkish);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->targetPath, u"") << "no usable local path";
  EXPECT_EQ(back->arguments, u"-x");
}

TEST(ShellLinkParse, ReadsAnAnsiOnlyLink) {
  // Header with HasName only, ANSI strings (IsUnicode clear).
  std::string b(0x4C, '\0');
  b[0] = 0x4C;
  const std::string clsid("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
  b.replace(4, 16, clsid);
  b[20] = 0x04;
  b += std::string("\x05\x00", 2) + "Klas\xF6";
  b += std::string(4, '\0');
  const auto back = parseShellLink(b, kCodePageTurkish);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->description, u"Klasö");
  EXPECT_EQ(back->targetPath, u"");
}

TEST(RelativeLinkPath, FromTheLinkFolder) {
  EXPECT_EQ(relativeLinkPath(u"C:\\users\\user\\Desktop\\Vorlan.lnk",
                             u"C:\\users\\user\\Desktop\\Vorlan\\Vorlan.exe"),
            u".\\Vorlan\\Vorlan.exe");
  EXPECT_EQ(relativeLinkPath(u"C:\\users\\user\\Desktop\\Vorlan.lnk",
                             u"c:\\USERS\\user\\desktop\\Vorlan\\Vorlan.exe"),
            u".\\Vorlan\\Vorlan.exe");
  EXPECT_EQ(relativeLinkPath(u"C:\\a\\b\\x.lnk", u"C:\\a\\c\\d.exe"), u"..\\c\\d.exe");
  EXPECT_EQ(relativeLinkPath(u"C:\\a\\b\\x.lnk", u"C:\\z.exe"), u"..\\..\\z.exe");
  EXPECT_EQ(relativeLinkPath(u"C:\\a\\\\b\\x.lnk", u"C:\\a\\b\\y.exe"), u".\\y.exe");
  EXPECT_EQ(relativeLinkPath(u"C:\\a\\x.lnk", u"D:\\a\\y.exe"), u"");
  EXPECT_EQ(relativeLinkPath(u"C:\\a\\x.lnk", u"y.exe"), u"");
  EXPECT_EQ(relativeLinkPath(u"C:\\a\\x.lnk", u"\\\\server\\share\\y.exe"), u"");
}

// --- code pages ---

// What glibc's converter makes of one byte, "" where it has no character.
Text iconvByte(const char* charset, unsigned char byte) {
  iconv_t cd = iconv_open("UTF-8", charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no iconv for charset");
  char in[1] = {static_cast<char>(byte)};
  char out[8];
  char *ip = in, *op = out;
  std::size_t il = 1, ol = sizeof out;
  const std::size_t rc = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1)) return Text();
  return fromUtf8(std::string_view(out, sizeof out - ol));
}

TEST(CodePage, TablesAgreeWithGlibcForEveryDefinedByte) {
  for (const auto& [cp, name] :
       {std::pair{kCodePageWestern, "CP1252"}, std::pair{kCodePageTurkish, "CP1254"}}) {
    int undefined = 0;
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
      const Text expected = iconvByte(name, static_cast<unsigned char>(b));
      const Text ours = decodeAnsi(std::string(1, static_cast<char>(b)), cp);
      ASSERT_EQ(ours.size(), 1u);
      if (expected.empty()) {
        ++undefined;
        EXPECT_EQ(ours[0], b) << name << " undefined byte " << b << " maps to its control";
      } else {
        EXPECT_EQ(ours, expected) << name << " byte " << b;
        EXPECT_EQ(encodeAnsi(ours, cp), std::string(1, static_cast<char>(b))) << name << b;
      }
    }
    EXPECT_EQ(undefined, cp == kCodePageWestern ? 5 : 7) << name;
  }
}

TEST(CodePage, TurkishLettersToTheirBytes) {
  EXPECT_EQ(encodeAnsi(u"İşÇğ", kCodePageTurkish), "\xDD\xFE\xC7\xF0");
  EXPECT_EQ(encodeAnsi(u"ĞÜŞİÖÇığüşiöç", kCodePageTurkish),
            "\xD0\xDC\xDE\xDD\xD6\xC7\xFD\xF0\xFC\xFEi\xF6\xE7");
  // Western European lacks the Turkish letters, but has Ü Ö Ç.
  EXPECT_EQ(encodeAnsi(u"İşÇğÜ", kCodePageWestern), "??\xC7?\xDC");
  EXPECT_EQ(decodeAnsi("\xDD\xFE\xD0", kCodePageTurkish), u"İşĞ");
  EXPECT_EQ(decodeAnsi("\xDD\xFE\xD0", kCodePageWestern), u"ÝþÐ");
}

TEST(CodePage, MissingCharactersBecomeOneQuestionMarkEach) {
  EXPECT_EQ(encodeAnsi(u"a€b", kCodePageTurkish), "a\x80"
                                                  "b");
  EXPECT_EQ(encodeAnsi(u"Ωx", kCodePageTurkish), "?x");
  EXPECT_EQ(encodeAnsi(u"\U0001F600!", kCodePageTurkish), "?!") << "a surrogate pair is one";
  EXPECT_EQ(encodeAnsi(Text(1, static_cast<char16_t>(0xD800)) + u"z", kCodePageTurkish), "?z");
  EXPECT_EQ(encodeAnsi(u"Žž", kCodePageTurkish), "??");
  EXPECT_EQ(encodeAnsi(u"Žž", kCodePageWestern), "\x8E\x9E");
  EXPECT_EQ(encodeAnsi(u"[104]\r\n", kCodePageTurkish), "[104]\r\n");
}

TEST(CodePage, UnknownCodePagesWriteAsWesternAndUtf8IsKept) {
  EXPECT_FALSE(knownCodePage(1251));
  EXPECT_TRUE(knownCodePage(1254));
  EXPECT_EQ(encodeAnsi(u"Üİ", 1251), encodeAnsi(u"Üİ", kCodePageWestern));
  EXPECT_EQ(encodeAnsi(u"İş", kCodePageUtf8), "İş");
  EXPECT_EQ(decodeAnsi("İş", kCodePageUtf8), u"İş");
}

} // namespace
} // namespace vk::posix
