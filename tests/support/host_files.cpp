#include "support/host_files.h"

#include "platform/errors.h"
#include "platform/posix/host/process_group.h"
#include "platform/posix/host/stop_signals.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <signal.h>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vk::test {

std::string readHostFile(const std::string& path) {
  // A /proc file of a process that ends while it is read fails the read
  // itself, which the stream reports by throwing.
  try {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  } catch (const std::ios_base::failure&) {
    return "";
  }
}

void writeHostFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> temporaries(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.path().filename().string().rfind(".vk-", 0) == 0) out.push_back(e.path());
  return out;
}

std::vector<int> processesUsing(const std::string& folder) {
  return posix::processesUsing(folder + "/");
}

bool groupRuns(int group) {
  return !posix::groupGone(group);
}

bool ownMountNamespace() {
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  if (::unshare(CLONE_NEWNS) != 0) {
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    std::ofstream("/proc/self/setgroups") << "deny";
    std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
    std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
  }
  return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

bool endsTheProgramWhenStopped(const std::function<void()>& f) {
  const pid_t child = fork();
  if (child == 0) {
    posix::catchStopSignals();
    raise(SIGTERM);
    try {
      f();
    } catch (const ProgramEnd&) {
      _exit(0);
    } catch (...) {
    }
    _exit(1);
  }
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string makeZip(const std::string& scratch,
                    const std::vector<std::pair<std::string, std::string>>& files) {
  fs::create_directories(scratch);
  std::string names;
  for (const auto& [name, content] : files) {
    fs::create_directories(fs::path(scratch + "/" + name).parent_path());
    writeHostFile(scratch + "/" + name, content);
    names += " '" + name + "'";
  }
  const std::string zip = scratch + "/.made.zip";
  fs::remove(zip);
  const std::string cmd = "cd '" + scratch + "' && bsdtar --format zip -cf '" + zip + "'" + names;
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("bsdtar failed");
  std::string bytes = readHostFile(zip);
  fs::remove(zip);
  return bytes;
}

} // namespace vk::test
