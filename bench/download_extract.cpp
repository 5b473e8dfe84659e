// Download and extraction of the driver archive through the automation
// objects, the way the setup tool calls them, against `curl -o` followed by
// `bsdtar -xf` of the same archive from the same loopback HTTPS server.
// Then the path of today's Chrome: the version file, the archive of the
// newer layout and its extraction, by the setup tool's own methods, against
// curl making the same two requests and `bsdtar --strip-components 1`.
//
// Prints the medians, their ratio and the peak memory of each side; it
// measures and reports, it does not judge. With "--body-mb N" it measures
// only the download's peak memory, for a body of N MB.
#include "bench_support.h"
#include "install/install.h"
#include "platform/posix/machine/machine.h"
#include "platform/posix/runtime_posix.h"
#include "support/harness.h"
#include "support/https_server.h"
#include "support/test_machine.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace vk;
using namespace bench;

constexpr int kRuns = 9;
const char* const kHost = "chromedriver.storage.googleapis.com";
const char* const kPath = "/104.0.5112.79/chromedriver_win32.zip";
const Text kSibling = u"C:\\Kurulum\\Vorlan-Grenvilta";
const Text kArchive = u"C:\\Kurulum\\Vorlan-Grenvilta\\chromedriver_win32.zip";

// The setup tool's download: the request sent asynchronously and waited for
// with DoEvents, its status, the stream, the save.
int download(Runtime& rt, const std::string& url) {
  ObjectRef request = rt.rtcCreateObject2(u"MSXML2.XMLHTTP");
  request->call(u"Open", {Variant(u"GET"), Variant(fromUtf8(url)), Variant(true)});
  if (!vbaVarTstEq(*sendAndWait(rt, *request), Variant(std::int16_t{200}))) return 1;
  ObjectRef stream = rt.rtcCreateObject2(u"ADODB.Stream");
  stream->call(u"Open", {});
  stream->put(u"Type", Variant(std::int16_t{1}));
  stream->call(u"Write", {request->get(u"responseBody")});
  stream->put(u"Position", Variant(std::int16_t{0}));
  stream->call(u"SaveToFile", {Variant(kArchive), Variant(std::int16_t{2})});
  stream->call(u"Close", {});
  return 0;
}

// The download and the extraction (NameSpace of archive and folder, Items,
// CopyHere 256).
int ourPath(Runtime& rt, const std::string& url) {
  if (const int rc = download(rt, url); rc != 0) return rc;
  copyHereAll(rt, kArchive, kSibling);
  return 0;
}

int boxes = 0;

std::unique_ptr<posix::PosixRuntime> makeRuntime(const posix::Machine& machine) {
  return std::make_unique<posix::PosixRuntime>(
      machine, u"C:\\Kurulum", u"VorlanKur", [](const Text& prompt, int, const Text&) {
        ++boxes;
        std::fprintf(stderr, "box: %s\n", toUtf8(prompt).c_str());
        return vbNo;
      });
}

// Runs a program and waits for it.
bool run(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

template <class F> std::vector<double> alternate(F ours, F theirs) {
  ours(); // warm-up of both, not counted
  theirs();
  std::vector<double> a, b;
  for (int i = 0; i < kRuns; ++i) {
    // Alternate the order, so neither side always runs on a warmer cache.
    if (i % 2) {
      a.push_back(ours());
      b.push_back(theirs());
    } else {
      b.push_back(theirs());
      a.push_back(ours());
    }
  }
  return {median(a), median(b)};
}

// Today's Chrome: its servers on a loopback address at port 443, as the
// setup tool asks them, reached through the machine's hosts file.
void newerPath(const test::TestCa& ca) {
  constexpr char kLabs[] = "googlechromelabs.github.io", kCft[] = "storage.googleapis.com",
                 kAddress[] = "127.0.3.131";
  const std::string driver = "131.0.6778.85";
  const std::string archivePath =
      "/chrome-for-testing-public/" + driver + "/win32/chromedriver-win32.zip";
  test::Harness h;
  const std::string caFile = h.tm.root() + "/ca-certificates.pem";
  std::ofstream(caFile, std::ios::binary) << ca.pem();
  h.tm.writeFile(u"C:\\Windows\\System32\\drivers\\etc\\hosts",
                 std::string(kAddress) + " " + kLabs + "\n" + kAddress + " " + kCft + "\n");
  h.tm.setRegString(true, "Software\\Google\\Chrome\\BLBeacon", "version", "131.0.6778.86");
  const Text sibling = u"D:\\Kurulum\\Vorlan-Grenvilta";
  h.tm.makeDir(sibling);
  const std::string source = h.tm.root() + "/newer.zip";
  const std::string composition = makeArchive(source, "chromedriver-win32/");
  std::ifstream in(source, std::ios::binary);
  test::HttpsServer server(ca.issue({kLabs, kCft}), kAddress, 443);
  server.serve("/chrome-for-testing/LATEST_RELEASE_131.0.6778", 200, driver + "\n");
  server.serve(archivePath, 200,
               std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));

  const std::string ours = h.tm.host(sibling);
  const std::string theirs = h.tm.root() + "/reference";
  const std::string version = theirs + "-version", zip = theirs + "-archive.zip";
  std::vector<std::string> resolve;
  for (const char* host : {kLabs, kCft})
    resolve.insert(resolve.end(), {"--resolve", std::string(host) + ":443:" + kAddress});
  const auto curl = [&](const std::string& out, const std::string& url) {
    std::vector<std::string> argv = {"curl", "-s", "-f", "--cacert", caFile};
    argv.insert(argv.end(), resolve.begin(), resolve.end());
    argv.insert(argv.end(), {"-o", out, url});
    return run(argv);
  };
  bool same = true;
  const auto oursOnce = [&] {
    emptyFolder(ours);
    const auto t0 = std::chrono::steady_clock::now();
    const BrowserVersion v = versionStep(h.rt(), h.window());
    Text url = v.driverAddress, path = sibling + u"\\chromedriver_win32.zip";
    h.form().dosyaIndir(url, path);
    h.form().indirDosya = u"chromedriver_win32.zip";
    h.form().unzip();
    const auto t1 = std::chrono::steady_clock::now();
    same = same && h.boxes.empty() && fs::exists(ours + "/chromedriver.exe");
    return seconds(t1 - t0);
  };
  const auto theirsOnce = [&] {
    emptyFolder(theirs);
    const auto t0 = std::chrono::steady_clock::now();
    bool ok = curl(version, std::string("https://") + kLabs +
                                "/chrome-for-testing/LATEST_RELEASE_131.0.6778");
    std::string answer;
    std::getline(std::ifstream(version), answer);
    ok = ok &&
         curl(zip, std::string("https://") + kCft + "/chrome-for-testing-public/" + answer +
                       "/win32/chromedriver-win32.zip") &&
         run({"bsdtar", "-xf", zip, "--strip-components", "1", "-C", theirs});
    const auto t1 = std::chrono::steady_clock::now();
    if (!ok) std::fprintf(stderr, "curl or bsdtar failed\n");
    return seconds(t1 - t0);
  };
  const auto m = alternate<std::function<double()>>(oursOnce, theirsOnce);
  for (const char* f : {"chromedriver.exe", "LICENSE.chromedriver"})
    same = same && sameFile(ours + "/" + f, theirs + "/" + f);
  std::printf("\ntoday's Chrome: version file + archive of the newer layout (%s), over HTTPS on "
              "%s:443, %d runs each\n",
              composition.c_str(), kAddress, kRuns);
  std::printf("setup tool's own steps (versionStep, dosyaIndir, unzip): median %.1f ms\n",
              m[0] * 1000);
  std::printf("curl twice + bsdtar --strip-components 1:                median %.1f ms\n",
              m[1] * 1000);
  std::printf("ratio ours / reference: %.2f (goal: at most 1.2); results identical: %s\n",
              m[0] / m[1], same ? "yes" : "NO");
}

} // namespace

int main(int argc, char** argv) {
  // Child modes: one run of our path, or of the download alone, on a prepared
  // machine, for its peak memory.
  if (argc == 4 &&
      (std::strcmp(argv[1], "--our-path") == 0 || std::strcmp(argv[1], "--download") == 0)) {
    posix::Machine machine(argv[2]);
    auto rt = makeRuntime(machine);
    try {
      return argv[1][2] == 'o' ? ourPath(*rt, argv[3]) : download(*rt, argv[3]);
    } catch (const RuntimeError& e) {
      std::fprintf(stderr, "our path failed: %d\n", e.number());
      return 2;
    }
  }
  const long bodyMb =
      argc == 3 && std::strcmp(argv[1], "--body-mb") == 0 ? std::strtol(argv[2], nullptr, 10) : 0;

  Launcher launcher; // first, while this process is still small
  char self[4096] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;

  for (const char* v : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
    unsetenv(v);
  test::TestMachine tm;
  test::TestCa ca;
  const std::string caFile = tm.root() + "/ca-certificates.pem";
  std::ofstream(caFile, std::ios::binary) << ca.pem();
  tm.writeFile(u"C:\\Windows\\System32\\drivers\\etc\\hosts",
               std::string("127.0.0.1 ") + kHost + "\n");

  const std::string work = tm.root() + "/bench";
  fs::create_directories(work);
  const std::string source = work + "/source.zip";
  const std::string composition = bodyMb > 0 ? std::string() : makeArchive(source);
  std::string body;
  if (bodyMb > 0) {
    std::mt19937 rng(300);
    body.resize(static_cast<std::size_t>(bodyMb) << 20);
    for (auto& c : body)
      c = static_cast<char>(rng());
  } else {
    std::ifstream in(source, std::ios::binary);
    body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  test::HttpsServer server(ca.issue({kHost}));
  server.serve(kPath, 200, body);
  const std::string url = server.url(kHost, kPath);
  if (bodyMb > 0) {
    long peak = 0, idlePeak = 0;
    emptyFolder(tm.host(kSibling));
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = launcher.run({self, "--download", tm.root(), url}, &peak);
    const double took = seconds(std::chrono::steady_clock::now() - t0);
    launcher.run({"true"}, &idlePeak);
    std::error_code ec;
    const bool same = ok && fs::file_size(tm.host(kArchive), ec) == body.size();
    std::printf("download of a %ld MB body in a child: %.0f ms; peak memory (ru_maxrss) %ld KB%s, "
                "body + %ld KB; /bin/true %ld KB\n",
                bodyMb, took * 1000, peak, same ? "" : " (download failed)", peak - (bodyMb << 10),
                idlePeak);
    return ok ? 0 : 1;
  }
  const std::string resolve =
      std::string(kHost) + ":" + std::to_string(server.port()) + ":127.0.0.1";

  posix::Machine machine(tm.root());
  auto rt = makeRuntime(machine);
  const std::string ours = tm.host(kSibling);
  const std::string theirs = work + "/reference";
  const std::string theirsArchive = theirs + "/chromedriver_win32.zip";
  const std::vector<std::string> curl = {"curl",      "-s",    "-f", "--cacert",    caFile,
                                         "--resolve", resolve, "-o", theirsArchive, url};
  const std::vector<std::string> bsdtar = {"bsdtar", "-xf", theirsArchive, "-C", theirs};

  auto oursOnce = [&] {
    emptyFolder(ours);
    const auto t0 = std::chrono::steady_clock::now();
    const int rc = ourPath(*rt, url);
    const auto t1 = std::chrono::steady_clock::now();
    if (rc != 0) std::fprintf(stderr, "our path: status was not 200\n");
    return seconds(t1 - t0);
  };
  auto theirsOnce = [&] {
    emptyFolder(theirs);
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = run(curl) && run(bsdtar);
    const auto t1 = std::chrono::steady_clock::now();
    if (!ok) std::fprintf(stderr, "curl or bsdtar failed\n");
    return seconds(t1 - t0);
  };

  try {
    const auto m = alternate<std::function<double()>>(oursOnce, theirsOnce);

    bool same = true;
    for (const char* f : {"chromedriver_win32.zip", "chromedriver.exe", "LICENSE.chromedriver"})
      same = same && sameFile(ours + "/" + f, theirs + "/" + f);

    long oursPeak = 0, curlPeak = 0, tarPeak = 0, idlePeak = 0;
    emptyFolder(ours);
    const bool childOk = launcher.run({self, "--our-path", tm.root(), url}, &oursPeak);
    emptyFolder(theirs);
    launcher.run(curl, &curlPeak);
    launcher.run(bsdtar, &tarPeak);
    launcher.run({"true"}, &idlePeak);

    const double ma = m[0], mb = m[1];
    std::printf("archive: %.2f MB (%s), over HTTPS on 127.0.0.1, %d runs each\n",
                body.size() / 1048576.0, composition.c_str(), kRuns);
    std::printf("objects (XMLHTTP + ADODB.Stream + Shell.Application): median %.1f ms\n",
                ma * 1000);
    std::printf("curl -o + bsdtar -xf:                                median %.1f ms\n", mb * 1000);
    std::printf("ratio objects / reference: %.2f (goal: at most 1.2)\n", ma / mb);
    std::printf("results identical: %s; message boxes shown: %d\n", same ? "yes" : "NO", boxes);
    std::printf("peak memory (ru_maxrss): objects in a child %ld KB%s; curl %ld KB; "
                "bsdtar %ld KB; /bin/true %ld KB (the floor)\n",
                oursPeak, childOk ? "" : " (child failed)", curlPeak, tarPeak, idlePeak);
    newerPath(ca);
  } catch (const RuntimeError& e) {
    std::fprintf(stderr, "our path failed with %d: %s\n", e.number(), e.what());
    return 1;
  }
  return 0;
}
