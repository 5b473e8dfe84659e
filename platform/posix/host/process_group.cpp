#include "platform/posix/host/process_group.h"

#include "platform/posix/host/files.h"
#include "platform/posix/host/process.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vk::posix {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

std::string readFile(const std::string& path) {
  return readHostFile(path).value_or(std::string());
}

} // namespace

bool reap(pid_t pid, std::chrono::milliseconds limit, int* status) {
  const auto deadline = Clock::now() + limit;
  int st = 0;
  for (;;) {
    const pid_t r = waitpid(pid, &st, WNOHANG);
    if (r == pid) {
      if (status) *status = st;
      return true;
    }
    if (r < 0 && errno != EINTR) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
}

// True once no process of the group runs. Zombies count as ended: the
// browser's processes outlive the driver that started them and go to
// init, which in containers may take a second or more to reap them.
bool groupGone(pid_t group) {
  if (kill(-group, 0) < 0 && errno == ESRCH) return true;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (!std::isdigit(static_cast<unsigned char>(name[0]))) continue;
    const auto stat = processStat(static_cast<pid_t>(std::stol(name)));
    if (stat && stat->group == group && stat->state != 'Z' && stat->state != 'X') return false;
  }
  return !ec;
}

// Processes that are not our children but carry the session's folder in
// their command line or environment: helpers that detached themselves from
// the driver's process group (Chromium's crash handler does).
std::vector<pid_t> processesUsing(const std::string& needle) {
  std::vector<pid_t> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() ||
        !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    if (pid == getpid()) continue;
    const std::string dir = entry.path().string();
    if (contains(readFile(dir + "/cmdline"), needle) ||
        contains(readFile(dir + "/environ"), needle))
      found.push_back(pid);
  }
  return found;
}

void endProcessesUsing(const std::string& work) {
  const std::string needle = work + "/";
  auto left = processesUsing(needle);
  if (left.empty()) return;
  for (pid_t p : left)
    kill(p, SIGTERM);
  const auto deadline = Clock::now() + 2s;
  while (!(left = processesUsing(needle)).empty() && Clock::now() < deadline)
    std::this_thread::sleep_for(50ms);
  for (pid_t p : left)
    kill(p, SIGKILL);
  const auto last = Clock::now() + 1s;
  while (!processesUsing(needle).empty() && Clock::now() < last)
    std::this_thread::sleep_for(20ms);
}

void endGroup(pid_t leader) {
  kill(-leader, SIGTERM);
  bool reaped = false;
  const auto deadline = Clock::now() + 5s;
  while (Clock::now() < deadline) {
    if (!reaped) reaped = reap(leader, 0ms);
    if (reaped && groupGone(leader)) break;
    std::this_thread::sleep_for(5ms);
  }
  if (!groupGone(leader)) kill(-leader, SIGKILL);
  if (!reaped) {
    int status = 0;
    while (waitpid(leader, &status, 0) < 0 && errno == EINTR) {
    }
  }
  const auto last = Clock::now() + 2s;
  while (!groupGone(leader) && Clock::now() < last)
    std::this_thread::sleep_for(20ms);
}

} // namespace vk::posix
