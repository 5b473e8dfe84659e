// Fetching the driver archive and unpacking it beside the setup tool, with
// the boxes the user sees when either goes wrong.
#include "install/install.h"
#include "support/harness.h"
#include "support/host_files.h"
#include "support/https_server.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vk {
namespace {

namespace fs = std::filesystem;
using test::Harness;
using test::HttpsServer;
using test::TestCa;

const Text kSibling = u"D:\\Kurulum\\Vorlan-Grenvilta";
const Text kArchive = u"D:\\Kurulum\\Vorlan-Grenvilta\\chromedriver_win32.zip";
constexpr char kHost[] = "chromedriver.storage.googleapis.com";
constexpr char kPath[] = "/104.0.5112.79/chromedriver_win32.zip";

struct Download : ::testing::Test {
  TestCa ca;
  HttpsServer server{ca.issue({kHost})};
  Harness h;
  Text url;
  void SetUp() override {
    for (const char* v : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      unsetenv(v);
    std::ofstream(h.tm.root() + "/ca-certificates.pem", std::ios::binary) << ca.pem();
    h.tm.writeFile(u"C:\\Windows\\System32\\drivers\\etc\\hosts",
                   std::string("127.0.0.1 ") + kHost + "\r\n");
    h.tm.makeDir(kSibling);
    url = fromUtf8(server.url(kHost, kPath));
    h.form().indirDosya = u"chromedriver_win32.zip";
  }
  void fetch() {
    Text path = kArchive;
    h.form().dosyaIndir(url, path);
  }
};

TEST_F(Download, OkReplacesAnOlderFileByteForByte) {
  std::string body(70000, '\0');
  for (std::size_t i = 0; i < body.size(); ++i)
    body[i] = static_cast<char>(i * 7);
  server.serve(kPath, 200, body);
  h.tm.writeFile(kArchive, "older archive of an earlier run");
  fetch();
  EXPECT_TRUE(h.boxes.empty());
  EXPECT_EQ(h.tm.readFile(kArchive), body);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].method, "GET");
  EXPECT_EQ(server.requests()[0].target, kPath);
}

// The value in KB of a "Name:   value kB" line of /proc/self/status.
long statusKb(const char* name) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(name, 0) == 0) return std::strtol(line.c_str() + std::strlen(name), nullptr, 10);
  return -1;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true; // freed memory is held back on purpose
#else
constexpr bool kSanitized = false;
#endif

TEST_F(Download, ALargeBodyIsNeverHeldTwice) {
  if (kSanitized) GTEST_SKIP() << "the sanitizer's own memory would be measured";
  constexpr std::size_t kBody = 64u << 20;
  std::string body(kBody, '\0');
  for (std::size_t i = 0; i < body.size(); ++i)
    body[i] = static_cast<char>((i * 2654435761u) >> 13);
  server.serve(kPath, 200, body);

  // In a child, whose peak memory is reset to what it holds before the
  // download; the server stays in this process.
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    long growth = -1;
    if (std::ofstream("/proc/self/clear_refs") << "5" << std::flush) {
      const long before = statusKb("VmRSS:");
      fetch();
      growth = h.boxes.empty() ? statusKb("VmHWM:") - before : -2;
    }
    (void)!write(report[1], &growth, sizeof growth);
    _exit(0);
  }
  close(report[1]);
  long growth = -3;
  (void)!read(report[0], &growth, sizeof growth);
  close(report[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (growth == -1) GTEST_SKIP() << "this kernel cannot reset the peak memory";
  ASSERT_NE(growth, -2) << "the download failed";
  EXPECT_LE(growth, static_cast<long>((kBody + (32u << 20)) >> 10));
  EXPECT_EQ(h.tm.readFile(kArchive), body);
}

// Files of the machine that are no regular files (a FIFO, a device) count
// as absent: nothing waits on them or reads them without end.
TEST_F(Download, MachineFilesThatAreNoFilesAreNotRead) {
  alarm(60); // a hang fails the test instead of holding it
  const std::string hosts = h.tm.host(u"C:\\Windows\\System32\\drivers\\etc\\hosts");
  fs::remove(hosts);
  ASSERT_EQ(mkfifo(hosts.c_str(), 0644), 0);
  server.serve(kPath, 200, "archive");
  url = fromUtf8(server.url("127.0.0.1", kPath));
  fetch();
  EXPECT_EQ(h.tm.readFile(kArchive), "archive");
  // A shortcut that is the zero device is replaced, not read.
  const Text desktop = u"C:\\users\\user\\Desktop";
  h.tm.makeDir(desktop);
  fs::create_symlink("/dev/zero", h.tm.host(desktop + u"\\Vorlan.lnk"));
  h.form().userPath = desktop;
  h.form().CreateShortCut();
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(h.tm.host(desktop + u"\\Vorlan.lnk"))));
  // A hive that is a FIFO holds no Chrome.
  const std::string hive = h.tm.root() + "/user.reg";
  fs::remove(hive);
  ASSERT_EQ(mkfifo(hive.c_str(), 0644), 0);
  EXPECT_THROW(versionStep(h.rt(), h.window()), ProgramEnd);
  alarm(0);
}

TEST_F(Download, OtherStatusSaysSoAndLeavesTheOldFile) {
  for (int status : {404, 500}) {
    h.boxes.clear();
    server.serve(kPath, status, "not here");
    h.tm.writeFile(kArchive, "older");
    fetch();
    ASSERT_EQ(h.boxes.size(), 1u);
    EXPECT_EQ(h.boxes[0].prompt,
              "Kurulum sırasında hata oluştu ! HTTP durum kodu: " + std::to_string(status));
    EXPECT_EQ(h.boxes[0].buttons, 64);
    EXPECT_EQ(h.boxes[0].title, "VorlanKur v1.0.0");
    EXPECT_EQ(h.tm.readFile(kArchive), "older");
  }
}

TEST(DownloadText, SizesAsTurkishPeopleWriteThem) {
  const struct {
    std::uint64_t bytes;
    const char* shown;
  } rows[] = {{0, "0 bayt"},          {1023, "1023 bayt"},
              {999 * 1024, "999 KB"}, {(1u << 20) - 1, "1,0 MB"},
              {9332326, "8,9 MB"},    {1u << 30, "1,0 GB"}};
  for (const auto& row : rows)
    EXPECT_EQ(toUtf8(sizeText(row.bytes)), row.shown) << row.bytes;
  // What the download has come to, in the unit of the whole.
  const struct {
    std::optional<std::uint64_t> announced, received;
    const char* shown;
  } progress[] = {{9332326, 3355443, "3,2 / 8,9 MB (%35)"},
                  {9332326, std::nullopt, "8,9 MB"},
                  {std::nullopt, 3355443, "3,2 MB"},
                  {1019, 512, "512 / 1019 bayt (%50)"},
                  {std::nullopt, std::nullopt, ""}};
  for (const auto& row : progress)
    EXPECT_EQ(toUtf8(progressText({row.announced, row.received})), row.shown) << row.shown;
}

TEST_F(Download, TransferFailuresShowOneBoxWithTheSignedNumber) {
  // Nothing listens on the port any more.
  url =
      fromUtf8("https://" + std::string(kHost) + ":" + std::to_string(test::unusedPort()) + kPath);
  fetch();
  ASSERT_EQ(h.boxes.size(), 1u);
  EXPECT_EQ(h.boxes[0].prompt, "Kurulum sırasında hata oluştu ! Hata No: -2147012867");
  EXPECT_EQ(h.boxes[0].buttons, 64);
  EXPECT_FALSE(h.tm.exists(kArchive));
}

// A reply cut inside its headers is no archive: the old one stays.
TEST_F(Download, AReplyCutInItsHeadersKeepsTheOldArchive) {
  server.raw(kPath, "HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\n");
  h.tm.writeFile(kArchive, "older");
  fetch();
  ASSERT_EQ(h.boxes.size(), 1u);
  EXPECT_EQ(h.boxes[0].prompt, "Kurulum sırasında hata oluştu ! Hata No: -2147012744");
  EXPECT_EQ(h.tm.readFile(kArchive), "older");
}

TEST_F(Download, MissingSiblingFolderIsReportedAndTheCallReturns) {
  server.serve(kPath, 200, "zip bytes");
  std::filesystem::remove_all(h.tm.host(kSibling));
  fetch();
  ASSERT_EQ(h.boxes.size(), 1u);
  EXPECT_EQ(h.boxes[0].prompt.rfind("Kurulum sırasında hata oluştu ! Hata No: ", 0), 0u)
      << h.boxes[0].prompt;
  EXPECT_EQ(server.requests().size(), 1u); // the transfer still happened
}

TEST_F(Download, AnEmptyAddressIsRefusedBeforeTheHandler) {
  url = u"";
  EXPECT_THROW(fetch(), RuntimeError);
  EXPECT_TRUE(h.boxes.empty());
}

TEST_F(Download, TheArchiveIsUnpackedBesideItself) {
  server.serve(kPath, 200,
               test::makeZip(h.tm.root() + "/zip-src",
                             {{"chromedriver.exe", "driver"}, {"LICENSE.chromedriver", "text"}}));
  fetch();
  h.form().unzip();
  EXPECT_TRUE(h.boxes.empty());
  EXPECT_EQ(h.tm.readFile(kSibling + u"\\chromedriver.exe"), "driver");
  EXPECT_EQ(h.tm.readFile(kSibling + u"\\LICENSE.chromedriver"), "text");
  EXPECT_TRUE(h.tm.exists(kArchive));

  // Again: the shell asks before replacing; "Hayır" keeps what is there.
  h.tm.writeFile(kSibling + u"\\chromedriver.exe", "kept");
  h.answers = {vbNo, vbNo};
  h.form().unzip();
  EXPECT_EQ(h.tm.readFile(kSibling + u"\\chromedriver.exe"), "kept");
  EXPECT_EQ(h.boxes.size(), 2u);
}

TEST(Extract, NoArchiveSaysWhichFileIsMissing) {
  Harness h;
  h.tm.makeDir(kSibling);
  h.form().indirDosya = u"chromedriver_win32.zip";
  h.form().unzip();
  ASSERT_EQ(h.boxes.size(), 1u);
  EXPECT_EQ(h.boxes[0].prompt,
            "Sürücü arşivi bulunamadı: D:\\Kurulum\\Vorlan-Grenvilta\\chromedriver_win32.zip");
  EXPECT_EQ(h.boxes[0].buttons, 64);
  EXPECT_EQ(h.boxes[0].title, "VorlanKur v1.0.0");
}

} // namespace
} // namespace vk
