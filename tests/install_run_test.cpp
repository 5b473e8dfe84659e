// The whole installation run, driven through the terminal as a person would,
// each case in a fresh machine with the driver server on loopback.
#include "support/app_runner.h"
#include "support/host_files.h"
#include "support/https_server.h"
#include "support/lnkinfo.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vk {
namespace {

namespace fs = std::filesystem;
using test::count;
using test::HttpsServer;
using test::lnkinfo;
using test::TestCa;
using test::TestMachine;

constexpr char kDriverHost[] = "chromedriver.storage.googleapis.com";
constexpr char kDriverPath[] = "/104.0.5112.79/chromedriver_win32.zip";
constexpr char kTestHost[] = "www.google.com";
constexpr char kLabsHost[] = "googlechromelabs.github.io";
constexpr char kCftHost[] = "storage.googleapis.com";
const Text kDesktop = u"C:\\users\\user\\Desktop";
const Text kVorlan = u"C:\\users\\user\\Desktop\\Vorlan";
const Text kProgramFiles = u"C:\\users\\user\\Desktop\\Vorlan\\prgDosyaları";

constexpr char kDoneHeadline[] = "Kurulum işlemi tamamlandı !";
constexpr char kDoneDetail[] =
    "Gerekli Windows Bileşenleri masaüstü\\Vorlan\\prgDosyaları klasörüne başarıyla kaydedildi !";
constexpr char kDoneAdvice[] = "Lütfen şimdi kur'u kapatın VorlanKur klasörü ve içeriğini "
                               "silebilirsiniz. Vorlan uygulaması başlatılacak.";
constexpr char kPartly[] = "Kurulum işlemi tamamlandı, ancak bazı adımlar başarısız oldu !";
constexpr char kAskSettings[] = "Chrome bağlantı ayarları şimdi yapılsın mı ? (EVET önerilir.)";
constexpr char kTested[] = "Chrome bağlantısı test edildi.";
constexpr char kStartBox[] = "Registering işlemleri başlatılıyor ...";
constexpr char kDoneBox[] = "Registering işlemleri tamamlandı ...";

// One machine: 64-bit, Chrome 104, MSCOMCTL.* missing, the package on
// D:\Kurulum, the driver server on its own loopback address at port 443.
class InstallRun : public ::testing::Test {
protected:
  // Each case listens on an address of its own so cases can run side by side.
  static std::string address() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    unsigned h = 0;
    for (const char* c = info->name(); *c; ++c)
      h = h * 31 + static_cast<unsigned char>(*c);
    return "127.0.2." + std::to_string(2 + h % 250);
  }

  void SetUp() override {
    for (const char* v : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      unsetenv(v);
    tm.addDrive('d');
    for (const Text dir : {u"C:\\Windows\\System32", u"C:\\Windows\\SysWOW64"}) {
      tm.installCmd(dir + u"\\cmd.exe", "cmd.log");
      tm.installRecorder(dir + u"\\regsvr32.exe", "regsvr32.log");
    }
    setChrome("104.0.5112.81");
    present({"msvbvm60.dll", "MSSTDFMT.DLL", "shell32.dll", "wmp.dll"});
    test::laySetupPackage(tm, setup);
    std::ofstream(tm.root() + "/ca-certificates.pem", std::ios::binary) << ca.pem();
    std::string hosts = "# test hosts\r\n";
    for (const char* host : {kDriverHost, kTestHost, kLabsHost, kCftHost})
      hosts += address() + " " + host + "\r\n";
    tm.writeFile(u"C:\\Windows\\System32\\drivers\\etc\\hosts", hosts);
    server.serve(kDriverPath, 200, zip);
    server.serve("/", 200, "<html><title>test</title><body>Vorlan test page</body></html>",
                 {"Content-Type: text/html"});
  }

  void setChrome(const std::string& version) {
    tm.setRegString(true, "Software\\Google\\Chrome\\BLBeacon", "version", version);
  }
  void present(const std::vector<std::string>& names) {
    for (const auto& n : names)
      tm.writeFile(u"C:\\Windows\\SysWOW64\\" + fromUtf8(n), "system");
  }
  void registerBrowserClasses() {
    for (const char* clsid :
         {"{0277FC34-FD1B-4616-BB19-5D556733E8C9}", "{0277FC34-FD1B-4616-BB19-E3CCFFAB4234}"})
      tm.addRegLines(false, std::string("Software\\Classes\\CLSID\\") + clsid,
                     {"@=\"Browser automation (test)\""});
  }
  test::AppRun run(const std::vector<std::string>& lines) {
    return test::runSetupTool(tm, setup, lines);
  }
  std::string file(const Text& path) { return tm.readFile(path); }

  TestMachine tm;
  Text setup = u"D:\\Kurulum";
  TestCa ca;
  HttpsServer server{ca.issue({kDriverHost, kTestHost, kLabsHost, kCftHost}), address(), 443};
  std::string zip =
      test::makeZip(tm.root() + "/zip-src", {{"chromedriver.exe", "MZ driver for 104"},
                                             {"LICENSE.chromedriver", "license text"}});
};

TEST_F(InstallRun, TheWholeRunAsAPersonDoesIt) {
  registerBrowserClasses();
  // Temporaries a run killed outright left where the download and its
  // unpacking write, beside a running instance's (this process's).
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
  const std::string drivers = tm.host(setup + u"\\Vorlan-Grenvilta");
  std::vector<std::string> stale, live;
  for (const char* prefix : {"/.vk-stream-", "/.vk-extract-"}) {
    stale.push_back(drivers + prefix + std::to_string(gone) + "-00112233aabbccdd");
    live.push_back(drivers + prefix + std::to_string(getpid()) + "-00112233aabbccdd");
    // The user's, named alike but not as the program names them.
    live.push_back(drivers + prefix + std::to_string(gone) + "-notlarim.txt");
  }
  for (const auto& path : stale)
    test::writeHostFile(path, "part of a download");
  for (const auto& path : live)
    test::writeHostFile(path, "part of a download");

  const auto r = run({"Devam", "Evet", "Tamam", "Evet", "Tamam", "Tamam", "Kapat"});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  for (const auto& path : stale)
    EXPECT_FALSE(fs::exists(path)) << path;
  for (const auto& path : live)
    EXPECT_TRUE(fs::exists(path)) << path;

  // The folder tree and the copies.
  for (const char16_t* sub :
       {u"", u"\\Firmalarım", u"\\Data", u"\\prgDosyaları", u"\\Raporlar", u"\\Yedek"})
    EXPECT_TRUE(fs::is_directory(tm.host(kVorlan + sub))) << toUtf8(sub);
  for (const char* name : {"MSCOMCTL.OCX", "MSCOMCTL.DEP", "MSCOMCTL.SRG"}) {
    EXPECT_EQ(file(kProgramFiles + u"\\" + fromUtf8(name)), std::string("package copy of ") + name);
    EXPECT_EQ(file(u"C:\\Windows\\SysWOW64\\" + fromUtf8(name)),
              std::string("package copy of ") + name);
  }
  EXPECT_FALSE(tm.exists(kProgramFiles + u"\\wmp.dll"));
  EXPECT_EQ(file(kVorlan + u"\\VorlanUpdate.exe"), "VorlanUpdate program");
  EXPECT_EQ(file(kVorlan + u"\\Data\\DATA.xlsx"), "PK workbook");
  EXPECT_EQ(file(kVorlan + u"\\Vorlan.exe"), file(setup + u"\\Vorlan.exe"));
  EXPECT_EQ(file(kProgramFiles + u"\\ChromeDriverVersiyon.txt"), "[104]\r\n");

  // The driver: fetched once at its real address and unpacked beside the archive.
  ASSERT_EQ(server.requests().size() >= 1, true);
  EXPECT_EQ(server.requests()[0].target, kDriverPath);
  EXPECT_EQ(server.requests()[0].host, kDriverHost);
  EXPECT_EQ(file(setup + u"\\Vorlan-Grenvilta\\chromedriver_win32.zip"), zip);
  EXPECT_EQ(file(setup + u"\\Vorlan-Grenvilta\\chromedriver.exe"), "MZ driver for 104");

  // The shortcut, read back by lnkinfo.
  const std::string info = lnkinfo(tm.host(kDesktop + u"\\Vorlan.lnk"));
  EXPECT_NE(info.find("Vorlan"), std::string::npos) << info;
  EXPECT_NE(info.find("C:\\users\\user\\Desktop\\Vorlan\\Vorlan.exe"), std::string::npos) << info;

  // What was started.
  EXPECT_EQ(
      test::waitForLog(tm, "cmd.log", "--\n"),
      "> C:\\Windows\\System32\\cmd.exe /c \"\"D:\\Kurulum\\Vorlan-Grenvilta\\install.cmd\"\"\n"
      "run D:\\Kurulum\\Vorlan-Grenvilta\\install.cmd\n--\n");
  EXPECT_EQ(test::waitForLog(tm, "regsvr32.log", "--\n"),
            "> C:\\Windows\\System32\\regsvr32.exe /s \"C:\\Windows\\SysWOW64\\MSCOMCTL.OCX\"\n/s\n"
            "C:\\Windows\\SysWOW64\\MSCOMCTL.OCX\n--\n");
  const std::string vorlan = "> \"C:\\users\\user\\Desktop\\Vorlan\\Vorlan.exe\"\n";
  EXPECT_NE(test::waitForLog(tm, "vorlan.log", vorlan).find(vorlan), std::string::npos)
      << tm.readLog("vorlan.log");

  // The boxes, in order, and the final window.
  const auto ask = r.out.find(kAskSettings), start = r.out.find(kStartBox),
             question = r.out.find("MSCOMCTL.OCX Register edilsin mi ? (EVET önerilir)"),
             done = r.out.find(kDoneBox), tested = r.out.find(kTested);
  EXPECT_TRUE(ask < start && start < question && question < done && done < tested) << r.out;
  EXPECT_EQ(count(r.out, kStartBox), 1u);
  EXPECT_NE(r.out.find(kDoneHeadline), std::string::npos);
  EXPECT_TRUE(test::shows(r.out, kDoneDetail)) << r.out;
  EXPECT_TRUE(test::shows(r.out, kDoneAdvice));
  EXPECT_EQ(r.out.find(kPartly), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[1] Kapat  (Enter: Kapat)"), std::string::npos) << r.out;
  // The browser really opened the test page.
  bool pageOpened = false;
  for (const auto& req : server.requests())
    pageOpened |= req.host == kTestHost && req.target == "/";
  EXPECT_TRUE(pageOpened);
}

TEST_F(InstallRun, ASecondRunKeepsTheWorkbookAndReplacesThePrograms) {
  const std::vector<std::string> answers{"Devam", "Hayır", "Tamam", "Hayır",
                                         "Tamam", "Tamam", "Kapat"};
  ASSERT_EQ(run(answers).exitStatus, 0);
  const auto systemFolder = [&] {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(tm.host(u"C:\\Windows\\SysWOW64")))
      names.insert(e.path().filename().string());
    return names;
  };
  const auto systemBefore = systemFolder();
  // Between the runs: the user works, and a new package comes.
  tm.writeFile(kVorlan + u"\\Data\\DATA.xlsx", "edited by the user");
  tm.writeFile(kProgramFiles + u"\\notlar.txt", "the user's notes");
  tm.installRecorder(setup + u"\\Vorlan.exe", "vorlan-2.log");
  // The shell asks once per file it would replace: replace both.
  std::vector<std::string> again{"Devam", "Evet", "Evet"};
  again.insert(again.end(), answers.begin() + 1, answers.end());
  const auto r = run(again);
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  EXPECT_EQ(file(kVorlan + u"\\Data\\DATA.xlsx"), "edited by the user");
  EXPECT_EQ(file(kVorlan + u"\\Vorlan.exe"), file(setup + u"\\Vorlan.exe"));
  EXPECT_EQ(file(kProgramFiles + u"\\ChromeDriverVersiyon.txt"), "[104]\r\n");
  // Neither the version record nor the user's file went into the system folder.
  EXPECT_EQ(systemFolder(), systemBefore);
  EXPECT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(tm.readLog("cmd.log"), ""); // answered No both times
  EXPECT_TRUE(tm.exists(kDesktop + u"\\Vorlan.lnk"));
}

TEST_F(InstallRun, NothingMissingCopiesNoComponent) {
  present({"MSCOMCTL.OCX", "MSCOMCTL.DEP", "MSCOMCTL.SRG"});
  const auto r = run({"Devam", "Hayır", "Tamam", "Tamam", "Kapat"});
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(tm.host(kProgramFiles)))
    names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"ChromeDriverVersiyon.txt"});
  EXPECT_EQ(count(r.out, kStartBox), 0u);
  EXPECT_EQ(count(r.out, kDoneBox), 1u);
}

TEST_F(InstallRun, AllSevenMissingAreCopiedInListOrder) {
  fs::remove_all(tm.host(u"C:\\Windows\\SysWOW64"));
  fs::create_directories(tm.host(u"C:\\Windows\\SysWOW64"));
  // Five libraries and controls are offered: answer No to each.
  const auto r = run({"Devam", "Hayır", "Tamam", "Hayır", "Tamam", "Hayır", "Tamam", "Hayır",
                      "Tamam", "Hayır", "Tamam", "Hayır", "Tamam", "Tamam", "Kapat"});
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  for (const char* name : {"msvbvm60.dll", "MSSTDFMT.DLL", "shell32.dll", "MSCOMCTL.OCX",
                           "MSCOMCTL.DEP", "MSCOMCTL.SRG", "wmp.dll"})
    EXPECT_EQ(file(u"C:\\Windows\\SysWOW64\\" + fromUtf8(name)),
              std::string("package copy of ") + name);
  EXPECT_EQ(count(r.out, kStartBox), 5u);
  EXPECT_EQ(tm.readLog("regsvr32.log"), "");
}

TEST_F(InstallRun, UnsupportedVersionFetchesNothingAndGoesOn) {
  setChrome("89.0.4389.90");
  const auto r = run({"Devam", "Tamam", "Hayır", "Tamam", "Hayır", "Tamam", "Tamam", "Kapat"});
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  EXPECT_TRUE(test::shows(r.out, "Sizin versiyonunuz: 89.0.4389.90 lütfen destek isteyiniz. "));
  EXPECT_TRUE(server.requests().empty());
  EXPECT_EQ(r.out.find("Sürücü arşivi bulunamadı"), std::string::npos);
  EXPECT_EQ(file(kProgramFiles + u"\\ChromeDriverVersiyon.txt"), "[89.]\r\n");
  EXPECT_NE(r.out.find(std::string(kPartly) + "\n─"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Başarısız adımlar:\n"
                       "Sürücü seçimi (desteklenmeyen Chrome sürümü: 89.0.4389.90)\n"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(test::shows(r.out, kDoneAdvice));
}

// Today's Chrome: the driver named by the newer server's version file, from
// an archive that holds one folder, lands at the top of the sibling folder;
// after an update, a rerun replaces it.
TEST_F(InstallRun, TodaysChromeGetsItsDriverAndARerunAfterAnUpdateReplacesIt) {
  const auto release = [&](const std::string& chrome, const std::string& driver) {
    setChrome(chrome);
    server.serve("/chrome-for-testing/LATEST_RELEASE_" + chrome.substr(0, chrome.rfind('.')), 200,
                 driver + "\n");
    server.serve(
        "/chrome-for-testing-public/" + driver + "/win32/chromedriver-win32.zip", 200,
        test::makeZip(tm.root() + "/zip-" + driver,
                      {{"chromedriver-win32/chromedriver.exe", "MZ driver " + driver},
                       {"chromedriver-win32/LICENSE.chromedriver", "license"},
                       {"chromedriver-win32/THIRD_PARTY_NOTICES.chromedriver", "notices"}}));
  };
  const std::vector<std::string> answers{"Devam", "Hayır", "Tamam", "Hayır",
                                         "Tamam", "Tamam", "Kapat"};
  const Text sibling = setup + u"\\Vorlan-Grenvilta";
  release("131.0.6778.86", "131.0.6778.85");
  auto r = run(answers);
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  EXPECT_EQ(file(sibling + u"\\chromedriver.exe"), "MZ driver 131.0.6778.85");
  EXPECT_EQ(file(sibling + u"\\THIRD_PARTY_NOTICES.chromedriver"), "notices");
  EXPECT_FALSE(tm.exists(sibling + u"\\chromedriver-win32"));
  EXPECT_EQ(file(kProgramFiles + u"\\ChromeDriverVersiyon.txt"), "[131]\r\n");
  for (const char* step : {"Sürücü seçimi", "Sürücü indirme"})
    EXPECT_EQ(r.out.find(step), std::string::npos) << r.out;
  std::vector<std::string> asked;
  for (const auto& q : server.requests())
    asked.push_back(q.host + q.target);
  EXPECT_EQ(asked, (std::vector<std::string>{
                       std::string(kLabsHost) + "/chrome-for-testing/LATEST_RELEASE_131.0.6778",
                       std::string(kCftHost) +
                           "/chrome-for-testing-public/131.0.6778.85/win32/chromedriver-win32.zip",
                   }));

  // Chrome updated: each of the three files is replaced after the shell asks.
  release("132.0.6834.83", "132.0.6834.110");
  std::vector<std::string> again{"Devam", "Evet", "Evet", "Evet"};
  again.insert(again.end(), answers.begin() + 1, answers.end());
  r = run(again);
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  EXPECT_EQ(count(r.out, "Dosya Değiştirmeyi Onayla"), 3u) << r.out;
  EXPECT_EQ(file(sibling + u"\\chromedriver.exe"), "MZ driver 132.0.6834.110");
  EXPECT_EQ(file(sibling + u"\\chromedriver_win32.zip").substr(0, 2), "PK");
  EXPECT_EQ(file(kProgramFiles + u"\\ChromeDriverVersiyon.txt"), "[132]\r\n");
}

// A version file is some 15 bytes: a 100 MB answer, announced or not, is
// given up as soon as its length shows, and holds no more memory than a
// right one does, give or take 32 MB.
TEST_F(InstallRun, AVersionFileTooLongIsGivenUpAtOnce) {
  setChrome("131.0.6778.86");
  const std::string path = "/chrome-for-testing/LATEST_RELEASE_131.0.6778";
  const std::vector<std::string> answers{"Devam", "Tamam", "Hayır", "Tamam",
                                         "Hayır", "Tamam", "Tamam", "Kapat"};
  server.serve(path, 200, "131.0.6778.85");
  const long right = run(answers).peakKilobytes;
  const std::string huge(100u << 20, '1');
  for (const bool announced : {true, false}) {
    if (announced)
      server.serve(path, 200, huge);
    else
      server.serveChunked(path, huge, 64 * 1024);
    const auto r = run(answers);
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_NE(r.out.find("Sürücü seçimi (geçersiz yanıt)"), std::string::npos) << r.out;
    EXPECT_LT(r.peakKilobytes - right, 32 * 1024) << (announced ? "announced" : "chunked");
  }
}

TEST_F(InstallRun, EmptyOrAbsentVersionEndsBeforeAnythingIsWritten) {
  for (bool absent : {false, true}) {
    TestMachine fresh;
    fresh.addDrive('d');
    if (!absent) fresh.setRegString(true, "Software\\Google\\Chrome\\BLBeacon", "version", "");
    test::laySetupPackage(fresh, setup);
    const auto r = test::runSetupTool(fresh, setup, {"Devam", "Tamam"});
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(" Chrome yüklü değil ! Öncelikle Chrome Browser kurulumu yapınız."),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(fresh.exists(kVorlan));
    EXPECT_EQ(r.out.find(kAskSettings), std::string::npos);
  }
}

TEST_F(InstallRun, AFailedDownloadIsToldAndTheRunGoesOn) {
  registerBrowserClasses();
  server.serve(kDriverPath, 404, "no such build");
  const auto r =
      run({"Devam", "Tamam", "Tamam", "Hayır", "Tamam", "Hayır", "Tamam", "Tamam", "Kapat"});
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  EXPECT_NE(r.out.find("Kurulum sırasında hata oluştu ! HTTP durum kodu: 404"), std::string::npos);
  EXPECT_TRUE(test::shows(r.out, "Sürücü arşivi bulunamadı: D:\\Kurulum\\Vorlan-Grenvilta\\"
                                 "chromedriver_win32.zip"));
  EXPECT_EQ(file(kProgramFiles + u"\\ChromeDriverVersiyon.txt"), "[104]\r\n");
  // The browser test passed, yet the run does not claim success: no driver came.
  EXPECT_NE(r.out.find(kTested), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(std::string(kPartly) + "\n─"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Başarısız adımlar:\nSürücü indirme (HTTP durum kodu: 404)\n─"),
            std::string::npos)
      << r.out;
}

// A stop during a download that drips (for the 30 s the low-speed limit
// allows) ends it
// at once, leaving no archive and no temporary behind.
TEST_F(InstallRun, AStopEndsTheDownloadAtOnce) {
  server.drip(kDriverPath, std::string(1 << 20, 'z'), 1000);
  // Once the server has the request, the body is on its way.
  const test::Interruption stop{
      .signal = SIGTERM, .when = [&](const std::string&) { return !server.requests().empty(); }};
  const auto r = test::runSetupTool(tm, setup, {"Devam"}, stop, 15);
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err; // not the time limit's kill
  EXPECT_FALSE(tm.exists(setup + u"\\Vorlan-Grenvilta\\chromedriver_win32.zip"));
  EXPECT_TRUE(test::temporaries(tm.host(setup)).empty());
}

// The window answers while the archive drips in (1 KB every 100 ms): it
// says what it waits for and how big the archive is, the wait takes next to
// no processor, and "Kurulumdan Çık" typed meanwhile ends the program at
// once (the drip would take 100 s), leaving no archive and no temporary.
TEST_F(InstallRun, TheExitButtonAnswersDuringASlowDownload) {
  server.drip(kDriverPath, std::string(1 << 20, 'z'), 10 * 1024, 1024);
  const test::Interruption exit{
      .when = [](const std::string& out) { return test::shows(out, " / 1,0 MB (%"); },
      .typed = "Kurulumdan Çık",
      .after = 3};
  const auto r = test::runSetupTool(tm, setup, {"Devam"}, exit, 90);
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_GE(r.secondsToEnd, 0) << r.out;
  EXPECT_LT(r.secondsToEnd, 10);
  EXPECT_LT(r.processorShare, 0.25) << "the wait spins";
  EXPECT_FALSE(tm.exists(setup + u"\\Vorlan-Grenvilta\\chromedriver_win32.zip"));
  EXPECT_TRUE(test::temporaries(tm.host(setup)).empty());
  EXPECT_EQ(r.out.find(kAskSettings), std::string::npos) << r.out;
}

// What the shell could not unpack is a failed step, never a success; the
// driver above all: it must lie at the top of the sibling folder as the
// archive has it, under any number of lone folders, and one an earlier run
// left never counts.
struct Unpacking {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;
  // "damaged" (the first entry's data: the shell keeps a part of it), or
  // what the sibling folder holds: "old driver", "driver folder", "licence
  // folder" (a folder where the file goes)
  std::string before;
  const char* failure;            // the failed step, or none
  const char* shellBox = nullptr; // the answer to the shell's own box
};

class UnpackingRun : public InstallRun, public ::testing::WithParamInterface<Unpacking> {};

TEST_P(UnpackingRun, TheDriverMustArriveAtTheTop) {
  const Unpacking& u = GetParam();
  std::string archive = test::makeZip(tm.root() + "/zip-row", u.files);
  const auto u16 = [&](std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(archive[at])) |
           static_cast<std::size_t>(static_cast<unsigned char>(archive[at + 1])) << 8;
  };
  if (u.before == "damaged") archive[30 + u16(26) + u16(28) + 2] ^= 0x55;
  const Text sibling = setup + u"\\Vorlan-Grenvilta";
  if (u.before == "old driver") tm.writeFile(sibling + u"\\chromedriver.exe", "old driver");
  if (u.before == "driver folder") tm.makeDir(sibling + u"\\chromedriver.exe");
  if (u.before == "licence folder") tm.makeDir(sibling + u"\\LICENSE.chromedriver");
  server.serve(kDriverPath, 200, archive);
  std::vector<std::string> answers{"Devam", "Hayır", "Tamam", "Hayır", "Tamam", "Tamam", "Kapat"};
  if (u.shellBox) answers.insert(answers.begin() + 1, u.shellBox);
  const auto r = run(answers);
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  const auto steps = r.out.find("Başarısız adımlar:\n");
  ASSERT_NE(steps, std::string::npos) << r.out; // the browser test fails here anyway
  const std::string listed = r.out.substr(steps);
  EXPECT_EQ(listed.find(*u.failure ? std::string("\n") + u.failure + "\n" : "açılması") !=
                std::string::npos,
            *u.failure != 0)
      << listed;
  if (u.before == "old driver" || !*u.failure) {
    EXPECT_EQ(file(sibling + u"\\chromedriver.exe"), *u.failure ? "old driver" : "MZ driver");
  }
}

void PrintTo(const Unpacking& u, std::ostream* os) {
  *os << u.name;
}

const char kNoDriver[] = "Sürücü arşivinin açılması (chromedriver.exe bulunamadı)";
const std::pair<std::string, std::string> kDriver{"chromedriver.exe", "MZ driver"};
const std::pair<std::string, std::string> kLicence{"LICENSE.chromedriver", "licence"};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Archives, UnpackingRun, ::testing::Values(
    Unpacking{"DamagedDriver", {kDriver, kLicence}, "damaged", kNoDriver, "Tamam"},
    Unpacking{"AFolderWhereTheDriverGoes", {kDriver}, "driver folder", kNoDriver, "Tamam"},
    Unpacking{"AnEarlierDriverKept", {kDriver}, "old driver", kNoDriver, "Hayır"},
    Unpacking{"NoDriverButAnEarlierOne", {kLicence}, "old driver", kNoDriver},
    Unpacking{"TheLicenceCannotBeWritten", {kDriver, kLicence}, "licence folder",
              "Sürücü arşivinin açılması", "Tamam"},
    Unpacking{"NestedLoneFolders", {{"a/b/chromedriver.exe", "MZ driver"}, {"a/b/LICENSE", "l"}},
              "", ""},
    Unpacking{"AFolderAndAStrayFile", {{"chromedriver-win32/chromedriver.exe", "MZ"},
              {"README", "r"}}, "", kNoDriver},
    Unpacking{"TwoTopFolders", {{"x/chromedriver.exe", "MZ"}, {"y/LICENSE", "l"}}, "", kNoDriver},
    Unpacking{"TheDriverIsAFolder", {{"chromedriver.exe/inner", "MZ"}}, "", kNoDriver}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A stop signal during the browser test, or while its result box waits,
// ends the run as the close box does, after the session's processes and its
// folder have gone; so does an output nobody reads any more. Killed
// outright, the tool still takes the processes along.
struct Stop {
  int signal;
  bool atTheBox; // else while the browser starts
  bool closesOutput = false;
};

class InstallRunStopped : public InstallRun, public ::testing::WithParamInterface<Stop> {};

TEST_P(InstallRunStopped, EndsTheBrowserSessionFirst) {
  registerBrowserClasses();
  const std::string tmp = tm.root() + "/host-tmp";
  fs::create_directories(tmp);
  const std::string savedTmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
  setenv("TMPDIR", tmp.c_str(), 1);
  // The session's process groups (not the tool's, which its certificate
  // tool shares), and whether the browser runs.
  std::set<pid_t> groups;
  const auto browserRuns = [&] {
    bool browser = false;
    for (const int p : test::processesUsing(tmp)) {
      if (const pid_t g = getpgid(p); g > 0 && g != getpgrp()) groups.insert(g);
      browser =
          browser || test::readHostFile("/proc/" + std::to_string(p) + "/comm") == "chromium\n";
    }
    return browser;
  };
  const Stop stop = GetParam();
  const test::Interruption interruption{
      .signal = stop.signal,
      .when =
          [&](const std::string& out) {
            return (!stop.atTheBox || test::shows(out, kTested)) && browserRuns();
          },
      .closesOutput = stop.closesOutput};
  const auto r =
      test::runSetupTool(tm, setup, {"Devam", "Evet", "Tamam", "Evet", "Tamam"}, interruption, 60);
  if (savedTmp.empty())
    unsetenv("TMPDIR");
  else
    setenv("TMPDIR", savedTmp.c_str(), 1);

  ASSERT_FALSE(groups.empty()) << "the browser never ran: " << r.out;
  const auto groupsLeft = [&] {
    return std::count_if(groups.begin(), groups.end(), [](pid_t g) { return test::groupRuns(g); });
  };
  if (stop.signal == SIGKILL) {
    // The processes end on their own then, soon after.
    EXPECT_EQ(r.exitStatus, 128 + SIGKILL);
    for (int tries = 0; tries < 100 && (groupsLeft() || !test::processesUsing(tmp).empty());
         ++tries)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } else {
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_TRUE(fs::is_empty(tmp)) << "the session's folder is left";
  }
  EXPECT_TRUE(test::processesUsing(tmp).empty());
  EXPECT_EQ(groupsLeft(), 0) << "a process group of the session is left";
}

INSTANTIATE_TEST_SUITE_P(Signals, InstallRunStopped,
                         ::testing::Values(Stop{SIGTERM, true}, Stop{SIGHUP, true},
                                           Stop{SIGINT, false}, Stop{SIGKILL, true},
                                           Stop{0, false, true}));

TEST_F(InstallRun, AMissingApplicationFileIsReportedNotHidden) {
  fs::remove(tm.host(setup + u"\\DATA.xlsx"));
  const auto r = run({"Devam", "Hayır", "Tamam", "Hayır", "Tamam", "Tamam", "Kapat"});
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  EXPECT_NE(r.out.find(kPartly), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Başarısız adımlar:\nDATA.xlsx kopyalama (Hata No: 53)"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find(kDoneHeadline), std::string::npos);
  EXPECT_EQ(file(kVorlan + u"\\VorlanUpdate.exe"), "VorlanUpdate program"); // the next copy ran
}

TEST_F(InstallRun, WithoutTheBrowserLibraryTheTestSaysItCouldNotRun) {
  const auto r = run({"Devam", "Hayır", "Tamam", "Hayır", "Tamam", "Tamam", "Kapat"});
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  EXPECT_NE(r.out.find("Chrome bağlantısı test edilemedi ! Hata No: 429"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Chrome bağlantı testi (Hata No: 429)"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(kTested), std::string::npos);
  // Vorlan is started all the same.
  EXPECT_NE(test::waitForLog(tm, "vorlan.log", "Vorlan.exe").find("Vorlan.exe"), std::string::npos);
}

} // namespace
} // namespace vk

namespace vk {
namespace {

TEST_F(InstallRun, AFailureBeforeResumeNextEndsOnTheRunTimesBox) {
  // A component the package lacks: its copy fails while no error mode is set.
  fs::remove(tm.host(setup + u"\\Vorlan Bileşenleri\\MSCOMCTL.DEP"));
  const auto r = run({"Devam", "Hayır", "Tamam"});
  EXPECT_EQ(r.exitStatus, 1) << r.out;
  EXPECT_NE(r.out.find("Çalışma zamanı hatası '53':"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Dosya bulunamadı"), std::string::npos);
  // What was done before stays; nothing after it happened.
  EXPECT_EQ(file(kProgramFiles + u"\\MSCOMCTL.OCX"), "package copy of MSCOMCTL.OCX");
  EXPECT_FALSE(tm.exists(kProgramFiles + u"\\MSCOMCTL.SRG"));
  EXPECT_FALSE(tm.exists(kVorlan + u"\\Vorlan.exe"));
  EXPECT_EQ(r.out.find(kStartBox), std::string::npos);
}

// The script's command line, through a cmd.exe that treats quotes as
// cmd.exe does: whatever the folder is called, install.cmd itself runs, and
// nothing else.
struct ScriptFolder {
  const char* name;
  const char16_t* folder;
  const char16_t* package; // the folder as the package is laid out
  const char* script;      // the script, as the command line names it
};

void PrintTo(const ScriptFolder& f, std::ostream* os) {
  *os << f.script;
}

class ScriptRun : public InstallRun, public ::testing::WithParamInterface<ScriptFolder> {};

TEST_P(ScriptRun, RunsTheRealInstallCmd) {
  setup = GetParam().folder;
  test::laySetupPackage(tm, GetParam().package);
  const auto r = run({"Devam", "Evet", "Tamam", "Hayır", "Tamam", "Tamam", "Kapat"});
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  const std::string script = GetParam().script;
  EXPECT_EQ(test::waitForLog(tm, "cmd.log", "--\n"),
            "> C:\\Windows\\System32\\cmd.exe /c \"\"" + script + "\"\"\nrun " + script + "\n--\n");
  EXPECT_EQ(file(Text(GetParam().package) + u"\\Vorlan-Grenvilta\\chromedriver.exe"),
            "MZ driver for 104");
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ScriptRun,
    ::testing::Values(ScriptFolder{"Parentheses", u"D:\\Kurulum (2)", u"D:\\Kurulum (2)",
                                   "D:\\Kurulum (2)\\Vorlan-Grenvilta\\install.cmd"},
                      ScriptFolder{"Ampersand", u"D:\\A & B", u"D:\\A & B",
                                   "D:\\A & B\\Vorlan-Grenvilta\\install.cmd"},
                      ScriptFolder{"BlankAndTurkishLetters", u"D:\\Yeni Klasör", u"D:\\Yeni Klasör",
                                   "D:\\Yeni Klasör\\Vorlan-Grenvilta\\install.cmd"},
                      // From a drive root every path carries a doubled backslash.
                      ScriptFolder{"DriveRoot", u"D:\\", u"D:",
                                   "D:\\\\Vorlan-Grenvilta\\install.cmd"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstallRun, APartialTreeIsCompletedButAFileNamedVorlanStopsTheRun) {
  tm.writeFile(kVorlan + u"\\Data\\DATA.xlsx", "the user's workbook");
  const std::vector<std::string> answers{"Devam", "Hayır", "Tamam", "Hayır",
                                         "Tamam", "Tamam", "Kapat"};
  auto r = run(answers);
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  for (const char16_t* sub : {u"\\Firmalarım", u"\\prgDosyaları", u"\\Raporlar", u"\\Yedek"})
    EXPECT_TRUE(fs::is_directory(tm.host(kVorlan + sub))) << toUtf8(sub);
  EXPECT_EQ(file(kProgramFiles + u"\\MSCOMCTL.OCX"), "package copy of MSCOMCTL.OCX");
  EXPECT_EQ(file(kVorlan + u"\\Data\\DATA.xlsx"), "the user's workbook");

  // A file where the folder belongs: nothing safe to repair.
  fs::remove_all(tm.host(kVorlan));
  tm.writeFile(kVorlan, "a file");
  r = run({"Devam", "Tamam"});
  EXPECT_EQ(r.exitStatus, 1) << r.out;
  EXPECT_NE(r.out.find("Çalışma zamanı hatası '76':"), std::string::npos) << r.out;
  EXPECT_EQ(file(kVorlan), "a file");
}

TEST_F(InstallRun, AnUnwritableSystemFolderNamesEachRefusedComponent) {
  fs::permissions(tm.host(u"C:\\Windows\\SysWOW64"),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  // No registration box: nothing reached the system folder to register.
  const auto r = run({"Devam", "Hayır", "Tamam", "Kapat"});
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  EXPECT_NE(r.out.find("Başarısız adımlar:\n"
                       "MSCOMCTL.DEP kaydı (Hata No: 70)\n"
                       "MSCOMCTL.OCX kaydı (Hata No: 70)\n"
                       "MSCOMCTL.SRG kaydı (Hata No: 70)\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find(kStartBox), std::string::npos);
  EXPECT_FALSE(tm.exists(u"C:\\Windows\\SysWOW64\\MSCOMCTL.OCX"));
}

TEST_F(InstallRun, FailuresOfTheShortcutTheRecordAndTheStartAreNamed) {
  tm.makeDir(kDesktop + u"\\Vorlan.lnk");
  tm.makeDir(kProgramFiles + u"\\ChromeDriverVersiyon.txt");
  // A Vorlan.exe that cannot be started.
  tm.writeFile(setup + u"\\Vorlan.exe", "not a program");
  fs::permissions(tm.host(setup + u"\\Vorlan.exe"), fs::perms::owner_read | fs::perms::owner_write);
  const auto r = run({"Devam", "Hayır", "Tamam", "Hayır", "Tamam", "Tamam", "Kapat"});
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  EXPECT_NE(r.out.find("Başarısız adımlar:\n"
                       "Masaüstü kısayolu (Hata No: -2147024891)\n"
                       "Sürücü sürüm kaydı (Hata No: 70)\n"
                       "Chrome bağlantı testi (Hata No: 429)\n"
                       "Vorlan başlatma (Hata No: 5)\n"),
            std::string::npos)
      << r.out;
}

TEST_F(InstallRun, OnlyThePlannedProgramsAreStarted) {
  // A desktop whose path holds a blank, and programs lying in wait where a
  // bare or unquoted name would find them first.
  const Text desktop = u"C:\\users\\Ali Veli\\Desktop";
  tm.makeDir(desktop);
  tm.setRegString(true, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                  "Desktop", toUtf8(desktop));
  for (const Text& trap :
       {setup + u"\\cmd.exe", setup + u"\\regsvr32.exe", Text(u"C:\\users\\Ali.exe")})
    tm.installRecorder(trap, "trap.log");
  const auto r = run({"Devam", "Evet", "Tamam", "Evet", "Tamam", "Tamam", "Kapat"});
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  const std::string vorlan = "> \"C:\\users\\Ali Veli\\Desktop\\Vorlan\\Vorlan.exe\"\n";
  EXPECT_NE(test::waitForLog(tm, "vorlan.log", vorlan).find(vorlan), std::string::npos)
      << tm.readLog("vorlan.log");
  EXPECT_NE(test::waitForLog(tm, "cmd.log", "--\n").find("\nrun D:\\Kurulum\\"), std::string::npos);
  EXPECT_NE(test::waitForLog(tm, "regsvr32.log", "--\n").find("MSCOMCTL.OCX"), std::string::npos);
  EXPECT_EQ(tm.readLog("trap.log"), "");
}

} // namespace
} // namespace vk
