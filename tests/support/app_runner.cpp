#include "support/app_runner.h"

#include "support/host_files.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace fs = std::filesystem;

namespace vk::test {

namespace {

// The processor time a process has used, in clock ticks (user and system).
long processorTicks(pid_t pid) {
  const std::string stat = readHostFile("/proc/" + std::to_string(pid) + "/stat");
  const auto name = stat.rfind(')');
  if (name == std::string::npos) return 0;
  std::istringstream fields(stat.substr(name + 2));
  std::string field;
  long user = 0, system = 0;
  for (int k = 3; k <= 15 && fields >> field; ++k) {
    if (k == 14) user = std::stol(field);
    if (k == 15) system = std::stol(field);
  }
  return user + system;
}

// VmHWM of /proc/<pid>/status in kilobytes; 0 when it cannot be read.
long memoryHighWater(pid_t pid) {
  std::istringstream status(readHostFile("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

} // namespace

bool shows(const std::string& out, const std::string& text) {
  const auto flat = [](const std::string& s) {
    std::string f;
    for (char c : s) {
      const bool blank = c == ' ' || c == '\n';
      if (!blank || f.empty() || f.back() != ' ') f += blank ? ' ' : c;
    }
    return f;
  };
  return flat(out).find(flat(text)) != std::string::npos;
}

std::size_t count(const std::string& haystack, const std::string& needle) {
  std::size_t n = 0;
  for (auto p = haystack.find(needle); p != std::string::npos; p = haystack.find(needle, p + 1))
    ++n;
  return n;
}

std::string waitForLog(const TestMachine& tm, const std::string& logName, const std::string& text) {
  std::string log;
  for (int tries = 0; tries < 500; ++tries) {
    log = tm.readLog(logName);
    if (log.find(text) != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return log;
}

void laySetupPackage(TestMachine& tm, const Text& folder) {
  tm.installRecorder(folder + u"\\Vorlan.exe", "vorlan.log");
  tm.writeFile(folder + u"\\VorlanUpdate.exe", "VorlanUpdate program");
  tm.writeFile(folder + u"\\DATA.xlsx", "PK workbook");
  for (const char* name : {"msvbvm60.dll", "MSSTDFMT.DLL", "shell32.dll", "MSCOMCTL.OCX",
                           "MSCOMCTL.DEP", "MSCOMCTL.SRG", "wmp.dll"})
    tm.writeFile(folder + u"\\Vorlan Bileşenleri\\" + fromUtf8(name),
                 std::string("package copy of ") + name);
  tm.writeFile(folder + u"\\Vorlan-Grenvilta\\install.cmd", "@echo off\r\n");
}

AppRun runSetupTool(TestMachine& tm, const Text& setupFolder, const std::vector<std::string>& lines,
                    int timeoutSeconds) {
  return runSetupTool(tm, setupFolder, lines, Interruption{}, timeoutSeconds);
}

AppRun runSetupTool(TestMachine& tm, const Text& setupFolder, const std::vector<std::string>& lines,
                    const Interruption& interruption, int timeoutSeconds) {
  const Text exe = setupFolder + (setupFolder.back() == u'\\' ? u"" : u"\\") + u"VorlanKur.exe";
  const std::string program = tm.host(exe);
  if (!fs::exists(program)) {
    fs::create_directories(fs::path(program).parent_path());
    fs::copy_file(VK_APP, program);
  }
  const std::string input = tm.root() + "/.input", out = tm.root() + "/.out",
                    err = tm.root() + "/.err";
  {
    std::ofstream in(input, std::ios::binary);
    for (const auto& l : lines)
      in << l << "\n";
  }
  // Interrupted, the tool reads a pipe this side keeps open until it ends.
  const bool interrupted =
      interruption.signal || !interruption.typed.empty() || interruption.closesOutput;
  // Its output through a pipe drained into the file, when its reader is to go.
  int outputPipe[2] = {-1, -1};
  if (interruption.closesOutput && ::pipe2(outputPipe, O_CLOEXEC) != 0)
    throw std::runtime_error("cannot make the output pipe");
  int inputPipe[2] = {-1, -1};
  if (interrupted && ::pipe2(inputPipe, O_CLOEXEC) != 0)
    throw std::runtime_error("cannot make the input pipe");
  if (interrupted) {
    const std::string text = readHostFile(input);
    if (::write(inputPipe[1], text.data(), text.size()) != static_cast<ssize_t>(text.size()))
      throw std::runtime_error("cannot write the input");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (interrupted)
    posix_spawn_file_actions_adddup2(&actions, inputPipe[0], 0);
  else
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
  if (outputPipe[1] >= 0)
    posix_spawn_file_actions_adddup2(&actions, outputPipe[1], 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> env{"VORLANKUR_MACHINE=" + tm.root()};
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("VORLANKUR_MACHINE=", 0) != 0) env.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string arg0 = program;
  char* argv[] = {arg0.data(), nullptr};
  pid_t pid = 0;
  // As a shell starts it: a broken pipe's signal at its default, whatever
  // this test process ignores.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  const int rc = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (inputPipe[0] >= 0) ::close(inputPipe[0]);
  if (outputPipe[1] >= 0) ::close(outputPipe[1]);
  std::ofstream drained;
  if (outputPipe[0] >= 0) {
    ::fcntl(outputPipe[0], F_SETFL, O_NONBLOCK);
    drained.open(out, std::ios::binary | std::ios::trunc);
  }
  if (rc != 0) throw std::runtime_error("cannot start the setup tool");

  using Clock = std::chrono::steady_clock;
  AppRun run;
  int status = 0;
  bool signalled = false;
  std::optional<Clock::time_point> held, acted;
  long heldTicks = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    // The high-water mark of the program's own memory (the spawning
    // parent's, which the child shares until it runs its program, is none
    // of it), read while it lives.
    run.peakKilobytes = std::max(run.peakKilobytes, memoryHighWater(pid));
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      if (acted) run.secondsToEnd = std::chrono::duration<double>(Clock::now() - *acted).count();
      break;
    }
    char chunk[4096];
    for (ssize_t n; outputPipe[0] >= 0 && (n = ::read(outputPipe[0], chunk, sizeof chunk)) > 0;)
      drained.write(chunk, n).flush();
    if (interrupted && !signalled && !held && interruption.when(readHostFile(out))) {
      held = Clock::now();
      heldTicks = processorTicks(pid);
    }
    if (held && !signalled &&
        Clock::now() - *held >= std::chrono::duration<double>(interruption.after)) {
      const double wall = std::chrono::duration<double>(Clock::now() - *held).count();
      if (wall > 0)
        run.processorShare =
            static_cast<double>(processorTicks(pid) - heldTicks) / ::sysconf(_SC_CLK_TCK) / wall;
      if (interruption.closesOutput) {
        ::close(std::exchange(outputPipe[0], -1));
      } else if (interruption.signal) {
        kill(pid, interruption.signal);
      } else {
        const std::string line = interruption.typed + "\n";
        if (::write(inputPipe[1], line.data(), line.size()) != static_cast<ssize_t>(line.size()))
          throw std::runtime_error("cannot type the line");
      }
      acted = Clock::now();
      signalled = true;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (inputPipe[1] >= 0) ::close(inputPipe[1]);
  if (outputPipe[0] >= 0) ::close(outputPipe[0]);
  drained.close();
  run.out = readHostFile(out);
  run.err = readHostFile(err);
  return run;
}

} // namespace vk::test
