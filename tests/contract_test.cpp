// The platform contract's cases against the stand-in machine: the run-time
// services on a fresh test machine, the message boxes and the window on a
// terminal whose answers the cases type in advance.
#include "contract/contract.h"
#include "platform/posix/runtime_posix.h"
#include "platform/posix/terminal/message_box.h"
#include "platform/posix/terminal/terminal.h"
#include "platform/posix/terminal/window.h"
#include "support/https_server.h"
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace vk::contract {
namespace {

namespace fs = std::filesystem;

class PosixFixture final : public Fixture {
public:
  PosixFixture() {
    // The loopback server is reached directly, whatever the host's proxy.
    for (const char* v : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      unsetenv(v);
    tm_.addDrive('d');
    in_ = std::fopen("/dev/null", "r");
    out_ = std::fopen("/dev/null", "w");
    if (!in_ || !out_) throw std::runtime_error("cannot open the terminal's streams");
    terminal_ = std::make_unique<posix::Terminal>(in_, out_, false, 64);
    // One key in both registry views, before the machine reads its hives.
    for (const std::string view : {"WOW6432Node\\", ""})
      tm_.setRegString(false, "Software\\" + view + "VorlanKur Views", "view",
                       view.empty() ? "64" : "32");
    machine_ = std::make_unique<posix::Machine>(tm_.root());
    runtime_ = std::make_unique<posix::PosixRuntime>(
        *machine_, u"C:\\Kurulum", u"Sınama",
        [this](const Text& prompt, int buttons, const Text& title) {
          return showBox(prompt, buttons, title);
        });
  }
  ~PosixFixture() override {
    if (!previousFolder_.empty()) ::chdir(previousFolder_.c_str());
    runtime_.reset();
    terminal_.reset();
    std::fclose(in_);
    std::fclose(out_);
  }

  Runtime& runtime() override { return *runtime_; }
  std::unique_ptr<Window> createWindow(const WindowSpec& layout) override {
    return std::make_unique<posix::TerminalWindow>(layout, *terminal_);
  }
  void makeDir(const Text& path) override { tm_.makeDir(path); }
  void writeFile(const Text& path, std::string_view content) override {
    tm_.writeFile(path, std::string(content));
  }
  std::optional<std::string> readFile(const Text& path) override {
    if (!tm_.exists(path)) return std::nullopt;
    return tm_.readFile(path);
  }
  void setReadOnly(const Text& path) override {
    fs::permissions(tm_.host(path),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }
  void setHidden(const Text& path) override { tm_.setDosAttributes(path, 0x2); }
  void setSystem(const Text& path) override { tm_.setDosAttributes(path, 0x4); }

  // A host script, runnable as the stand-in's programs are; it records its
  // working folder beside the machine, as its argument is a Windows path.
  void makeProgram(const Text& path) override {
    tm_.writeFile(
        path, "#!/bin/sh\n"
              "case \"$1\" in\n"
              "wait) exec sleep 60 ;;\n"
              "spawn) d=$(dirname \"$0\"); \"$d/helper.exe\" wait </dev/null >/dev/null 2>&1 &\n"
              "  echo $! >\"$d/pid.txt.part\" && mv \"$d/pid.txt.part\" \"$d/pid.txt\" ;;\n"
              "cwd) pwd -P >'" +
                  record() + ".part' && mv '" + record() + ".part' '" + record() +
                  "' ;;\n"
                  "esac\n");
    fs::permissions(tm_.host(path), fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
  }
  std::optional<Text> recordedFolder(const Text&) override {
    for (int i = 0; i < 100 && !fs::exists(record()); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream in(record());
    std::string host;
    if (!std::getline(in, host)) return std::nullopt;
    return machine_->windowsPath(host);
  }
  void endProgram(double processId) override {
    const auto pid = static_cast<pid_t>(processId);
    ::kill(pid, SIGKILL);
    // Started detached, it is reaped by another parent: wait until it is gone.
    for (int i = 0; i < 100 && ::kill(pid, 0) == 0 && !isZombie(pid); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  void setWorkingFolder(const Text& path) override {
    if (previousFolder_.empty()) previousFolder_ = fs::current_path().string();
    fs::current_path(tm_.host(path));
  }
  void answerNextBox(int result) override {
    const std::string line = result == vbOK    ? "Tamam\n"
                             : result == vbYes ? "Evet\n"
                             : result == vbNo  ? "Hayır\n"
                                               : "\n";
    answers_.push_back(line);
  }
  // As the program finds its own: the Windows name of its folder.
  Text appPathIn(const Text& folder) override {
    return machine_->windowsPath(tm_.host(folder)).value_or(u"(outside the machine)");
  }
  bool onWine() const override { return false; }
  Text webServer() override {
    if (!web_) {
      web_ = std::make_unique<test::HttpsServer>();
      web_->serve("/merhaba", 200, "merhaba");
      web_->drip("/yavas", std::string(2000, 'y'), 1000, 100);
    }
    return fromUtf8(web_->url("127.0.0.1", ""));
  }
  Text deadAddress() override {
    return fromUtf8("http://127.0.0.1:" + std::to_string(test::unusedPort()) + "/");
  }
  // The stand-in is the shipped 32-bit program; its test machine, 64-bit.
  bool thirtyTwoBitOn64BitWindows() override { return true; }

private:
  // Each box reads the line typed for it on a terminal of its own, so a box
  // nobody answered meets the end of input rather than waiting for a line.
  int showBox(const Text& prompt, int buttons, const Text& title) {
    std::string typed;
    if (!answers_.empty()) {
      typed = std::move(answers_.front());
      answers_.pop_front();
    }
    std::FILE* in =
        typed.empty() ? std::fopen("/dev/null", "r") : fmemopen(typed.data(), typed.size(), "r");
    if (!in) throw std::runtime_error("cannot open the box's input");
    posix::Terminal box(in, out_, false, 64);
    const int result = posix::showMessageBox(box, prompt, buttons, title);
    std::fclose(in);
    return result;
  }
  std::string record() const { return tm_.root() + "/working-folder"; }
  static bool isZombie(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    return close != std::string::npos && line.size() > close + 2 && line[close + 2] == 'Z';
  }

  test::TestMachine tm_;
  std::unique_ptr<posix::Machine> machine_;
  std::deque<std::string> answers_;
  std::FILE* in_ = nullptr;
  std::FILE* out_ = nullptr;
  std::unique_ptr<posix::Terminal> terminal_;
  std::unique_ptr<posix::PosixRuntime> runtime_;
  std::unique_ptr<test::HttpsServer> web_;
  std::string previousFolder_;
};

class Contract : public ::testing::TestWithParam<Case> {};

TEST_P(Contract, Holds) {
  const Case& c = GetParam();
  PosixFixture fixture;
  Check check(false);
  runCase(c, fixture, check);
  for (const std::string& f : check.failures())
    ADD_FAILURE() << f;
  EXPECT_GT(check.passed(), 0) << "the case checked nothing";
}

// On Wine a gap is a pass while it shows and a failure once it has closed.
TEST(ContractCheck, AGapThatClosedFailsOnWine) {
  Check wine(true);
  EXPECT_TRUE(wine.wineGap("a", true));
  EXPECT_FALSE(wine.wineGap("b", false));
  EXPECT_EQ(wine.failures(), std::vector<std::string>{"gap closed: b"});
  Check posix(false);
  EXPECT_FALSE(posix.wineGap("c", true) || posix.wineGap("c", false));
  EXPECT_TRUE(posix.failures().empty());
}

INSTANTIATE_TEST_SUITE_P(Posix, Contract, ::testing::ValuesIn(cases().begin(), cases().end()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

} // namespace
} // namespace vk::contract
