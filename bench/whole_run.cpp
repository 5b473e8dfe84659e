// The whole installation run through the terminal, with scripted answers and
// an 8 MB driver archive over HTTPS on loopback, against the same I/O done by
// standard tools (curl, bsdtar, mkdir, cp) in the same run. Prints medians,
// their ratio and the run's peak memory; it measures, it does not judge.
#include "bench_support.h"
#include "support/app_runner.h"
#include "support/https_server.h"
#include "support/test_machine.h"

#include <cstdlib>

namespace {

using namespace vk;
using namespace bench;

constexpr int kRuns = 7;
const char* const kHost = "chromedriver.storage.googleapis.com";
const char* const kPath = "/104.0.5112.79/chromedriver_win32.zip";
const char* const kAddress = "127.0.3.104";
// Devam; no connection script; register nothing; the test message; Kapat.
const char* const kAnswers = "Devam\nHayır\nTamam\nHayır\nTamam\nTamam\nKapat\n";

std::string quote(const std::string& s) {
  std::string out = "'";
  for (char c : s)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// A machine as the tests lay it out: Chrome 104, MSCOMCTL.* missing.
void layMachine(test::TestMachine& tm, const test::TestCa& ca) {
  tm.addDrive('d');
  tm.setRegString(true, "Software\\Google\\Chrome\\BLBeacon", "version", "104.0.5112.81");
  for (const char* n : {"msvbvm60.dll", "MSSTDFMT.DLL", "shell32.dll", "wmp.dll"})
    tm.writeFile(u"C:\\Windows\\SysWOW64\\" + fromUtf8(n), "system");
  test::laySetupPackage(tm, u"D:\\Kurulum");
  std::ofstream(tm.root() + "/ca-certificates.pem", std::ios::binary) << ca.pem();
  tm.writeFile(u"C:\\Windows\\System32\\drivers\\etc\\hosts",
               std::string(kAddress) + " " + kHost + "\r\n");
  fs::copy_file(VK_APP, tm.host(u"D:\\Kurulum\\VorlanKur.exe"));
  std::ofstream(tm.root() + "/answers", std::ios::binary) << kAnswers;
}

} // namespace

int main() {
  Launcher launcher; // first, while this process is still small
  for (const char* v : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
    unsetenv(v);

  test::TestCa ca;
  test::TestMachine scratch;
  const std::string source = scratch.root() + "/source.zip";
  const std::string composition = makeArchive(source);
  std::string body;
  {
    std::ifstream in(source, std::ios::binary);
    body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  test::HttpsServer server(ca.issue({kHost}), kAddress, 443);
  server.serve(kPath, 200, body);
  const std::string caFile = scratch.root() + "/ca.pem";
  std::ofstream(caFile, std::ios::binary) << ca.pem();

  std::vector<double> ours, theirs;
  long peak = 0;
  bool ok = true;
  for (int i = 0; i < kRuns + 1; ++i) {
    // Ours: the setup tool itself on a fresh machine.
    test::TestMachine tm;
    layMachine(tm, ca);
    const std::string exe = tm.host(u"D:\\Kurulum\\VorlanKur.exe");
    long rss = 0;
    const auto oursStart = std::chrono::steady_clock::now();
    const bool ran = launcher.run({"env", "VORLANKUR_MACHINE=" + tm.root(), "sh", "-c",
                                   "exec \"$0\" < \"$1\" > \"$2\"", exe, tm.root() + "/answers",
                                   tm.root() + "/out"},
                                  &rss);
    const auto oursEnd = std::chrono::steady_clock::now();
    const bool installed = tm.exists(u"C:\\users\\user\\Desktop\\Vorlan\\Data\\DATA.xlsx") &&
                           tm.exists(u"D:\\Kurulum\\Vorlan-Grenvilta\\chromedriver.exe");
    ok = ok && ran && installed;

    // Theirs: the same transfers and copies by the standard tools.
    test::TestMachine ref;
    layMachine(ref, ca);
    const std::string d = ref.host(u"D:\\Kurulum"), desk = ref.host(u"C:\\users\\user\\Desktop");
    const std::string sys = ref.host(u"C:\\Windows\\SysWOW64");
    std::string script = "set -e; cd " + quote(d) + "; curl -s -f --cacert " + quote(caFile) +
                         " --resolve " + kHost + ":443:" + kAddress +
                         " -o Vorlan-Grenvilta/chromedriver_win32.zip https://" + kHost + kPath +
                         "; bsdtar -xf Vorlan-Grenvilta/chromedriver_win32.zip -C Vorlan-Grenvilta;"
                         " v=" +
                         quote(desk + "/Vorlan") +
                         "; mkdir -p \"$v\" \"$v/Firmalarım\" \"$v/Data\" \"$v/prgDosyaları\" "
                         "\"$v/Raporlar\" \"$v/Yedek\";"
                         " for c in MSCOMCTL.OCX MSCOMCTL.DEP MSCOMCTL.SRG; do"
                         " cp \"Vorlan Bileşenleri/$c\" \"$v/prgDosyaları/$c\";"
                         " cp \"$v/prgDosyaları/$c\" " +
                         quote(sys) +
                         "/$c; done;"
                         " cp Vorlan.exe VorlanUpdate.exe \"$v/\"; cp DATA.xlsx \"$v/Data/\";"
                         " printf '[104]\\r\\n' > \"$v/prgDosyaları/ChromeDriverVersiyon.txt\"";
    long refRss = 0;
    const auto refStart = std::chrono::steady_clock::now();
    const bool refOk = launcher.run({"sh", "-c", script}, &refRss);
    const auto refEnd = std::chrono::steady_clock::now();
    ok = ok && refOk;
    if (i == 0) continue; // warm-up
    ours.push_back(seconds(oursEnd - oursStart));
    theirs.push_back(seconds(refEnd - refStart));
    peak = std::max(peak, rss);
  }

  const double a = median(ours), b = median(theirs);
  const double archiveMb = body.size() / 1048576.0;
  std::printf("whole run: archive %.2f MB (%s) over HTTPS on %s:443, %d runs each\n", archiveMb,
              composition.c_str(), kAddress, kRuns);
  std::printf("VorlanKur, scripted answers:            median %.1f ms\n", a * 1000);
  std::printf("curl + bsdtar + mkdir + cp, same I/O:   median %.1f ms\n", b * 1000);
  std::printf("ratio VorlanKur / standard tools: %.2f (goal: at most 1.3)\n", a / b);
  std::printf("peak memory of the run: %.1f MB (goal: at most %.1f MB, the archive + 32 MB)\n",
              peak / 1024.0, archiveMb + 32);
  if (!ok) std::printf("WARNING: a run did not install, or a standard tool failed\n");
  return ok ? 0 : 1;
}
