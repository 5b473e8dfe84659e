// The host's process starter where its callers' tests do not reach: a child
// the caller waits on (the browser session's programs), what it is given,
// and how a failure to start one is reported.
#include "platform/posix/host/process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace vk::posix {
namespace {

class HostProcessTest : public ::testing::Test {
protected:
  HostProcessTest() {
    std::string t = (fs::temp_directory_path() / "vk-process-test-XXXXXX").string();
    if (!::mkdtemp(t.data())) throw std::runtime_error("mkdtemp");
    dir_ = fs::canonical(t).string();
  }
  ~HostProcessTest() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::string file(const std::string& name, const std::string& content, mode_t mode) const {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    ::chmod(path.c_str(), mode);
    return path;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(dir_ + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string dir_;
};

// Whether this process has a child, a zombie included.
bool hasChildren() {
  siginfo_t info{};
  return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

TEST_F(HostProcessTest, AFailedStartGivesItsErrnoAndLeavesNoChild) {
  const std::string notExecutable = file("plain", "echo never\n", 0644);
  const std::string script = file("script", "#!/bin/sh\nexit 0\n", 0755);
  struct Case {
    const char* what;
    std::string program;
    std::string folder;
    std::string log;
    int error;
  };
  const Case cases[] = {
      {"no execute bit", notExecutable, "", dir_ + "/log", EACCES},
      {"no such program", dir_ + "/missing", "", dir_ + "/log", ENOENT},
      {"no such working folder", script, dir_ + "/missing", dir_ + "/log", ENOENT},
      {"log in no folder", script, "", dir_ + "/missing/log", ENOENT},
  };
  for (const Case& c : cases) {
    ProcessOptions options;
    options.argv = {c.program};
    options.folder = c.folder;
    options.output = ProcessOptions::Output::AppendToLog;
    options.log = c.log;
    const StartedProcess started = startProcess(options);
    EXPECT_EQ(started.pid, 0) << c.what;
    EXPECT_EQ(started.error, c.error) << c.what;
    EXPECT_FALSE(hasChildren()) << c.what;
  }
}

TEST_F(HostProcessTest, AChildGetsWhatItIsGivenAndNothingElse) {
  file("log", "earlier\n", 0600);
  ProcessOptions options;
  options.argv = {"/bin/sh", "-c",
                  "echo \"$VK_GIVEN ${HOME-unset}\"; echo to-stderr >&2; pwd -P; "
                  "if read line; then echo input; else echo eof; fi; "
                  "while read l; do case $l in SigBlk*|SigIgn*) echo \"$l\";; esac; done "
                  "</proc/$$/status; exit 3"};
  options.environment = environmentWith({{"VK_GIVEN", "given"}, {"HOME", std::nullopt}});
  options.folder = dir_;
  options.output = ProcessOptions::Output::AppendToLog;
  options.log = dir_ + "/log";
  options.group = ProcessOptions::Group::Own;

  // Whoever started the setup may have left signals ignored or blocked.
  const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
  sigset_t usr1, old;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  ::pthread_sigmask(SIG_BLOCK, &usr1, &old);
  const StartedProcess started = startProcess(options);
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  std::signal(SIGPIPE, oldPipe);

  ASSERT_GT(started.pid, 0) << std::strerror(started.error);
  // The group exists when the start returns, so it can be signalled at once.
  EXPECT_EQ(::getpgid(started.pid), started.pid);
  int status = 0;
  ASSERT_EQ(::waitpid(started.pid, &status, 0), started.pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;

  std::istringstream log(read("log"));
  std::string line;
  std::vector<std::string> lines;
  while (std::getline(log, line))
    lines.push_back(line);
  ASSERT_EQ(lines.size(), 7u) << read("log");
  EXPECT_EQ(lines[0], "earlier");
  EXPECT_EQ(lines[1], "given unset");
  EXPECT_EQ(lines[2], "to-stderr");
  EXPECT_EQ(lines[3], dir_);
  EXPECT_EQ(lines[4], "eof");
  ASSERT_EQ(lines[5].rfind("SigBlk:", 0), 0u);
  ASSERT_EQ(lines[6].rfind("SigIgn:", 0), 0u);
  EXPECT_EQ(std::stoull(lines[5].substr(7), nullptr, 16) & (1ull << (SIGUSR1 - 1)), 0u);
  EXPECT_EQ(std::stoull(lines[6].substr(7), nullptr, 16) & (1ull << (SIGPIPE - 1)), 0u);
}

} // namespace
} // namespace vk::posix
