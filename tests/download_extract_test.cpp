// Fetching the driver archive and unpacking it beside the setup tool, with
// the boxes the user sees when either goes wrong.
#include "support/harness.h"
#include "support/host_files.h"
#include "support/https_server.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace vk {
namespace {

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
