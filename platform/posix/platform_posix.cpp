// The program's start on the stand-in machine: find the machine, place the
// program on one of its drives, and run the application with its window and
// message boxes on the terminal.
#include "platform/platform.h"
#include "platform/posix/host/process.h"
#include "platform/posix/host/stop_signals.h"
#include "platform/posix/host/temp_file.h"
#include "platform/posix/host/unique.h"
#include "platform/posix/machine/machine.h"
#include "platform/posix/runtime_posix.h"
#include "platform/posix/terminal/message_box.h"
#include "platform/posix/terminal/terminal.h"
#include "platform/posix/terminal/window.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vk {

namespace {

class PosixPlatform final : public Platform {
public:
  PosixPlatform(posix::PosixRuntime& runtime, posix::Terminal& terminal, std::string lockFile)
      : runtime_(runtime), terminal_(terminal), lockFile_(std::move(lockFile)) {}

  Runtime& runtime() override { return runtime_; }
  std::unique_ptr<Window> createWindow(const WindowSpec& layout) override {
    return std::make_unique<posix::TerminalWindow>(layout, terminal_, &runtime_.events());
  }
  // A lock on a file of the machine, which the kernel drops when the
  // process ends in any way; the programs the setup starts do not inherit
  // it. Whatever else stands at the lock's place (a link, never followed, a
  // folder, a pipe) gives way to a lock file; only a machine whose top
  // cannot be written runs without one.
  bool claimOnlyCopy() override {
    for (int attempt = 0; attempt < 3; ++attempt) {
      // Read-only is enough for a lock, and opens a file nobody may change.
      posix::unique_fd fd(::open(lockFile_.c_str(),
                                 O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
      struct stat st {};
      if (fd && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) {
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return false;
        // Another copy may have put a new lock file in place meanwhile: the
        // lock counts only on the file at the lock's place.
        struct stat now {};
        if (::lstat(lockFile_.c_str(), &now) == 0 && now.st_dev == st.st_dev &&
            now.st_ino == st.st_ino) {
          lock_ = std::move(fd);
          return true;
        }
        continue;
      }
      if (!putLockFileInPlace()) return true; // nothing to race over
    }
    return true;
  }

private:
  // A new, empty lock file replaces what stands at the lock's place; a
  // folder there is moved aside, with all in it, rather than removed.
  bool putLockFileInPlace() {
    struct stat st {};
    if (::lstat(lockFile_.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
        ::rmdir(lockFile_.c_str()) != 0 &&
        ::rename(lockFile_.c_str(), (lockFile_ + "." + std::to_string(::getpid())).c_str()) != 0)
      return false;
    return posix::publishFile(AT_FDCWD, lockFile_, lockFile_ + "-", 0644, posix::Publish::Replace,
                              [](int) { return true; });
  }

  posix::PosixRuntime& runtime_;
  posix::Terminal& terminal_;
  std::string lockFile_;
  posix::unique_fd lock_;
};

} // namespace

int startPlatform(int argc, char** argv, const ApplicationInfo& info, ApplicationMain main) {
  (void)argc; // the setup tool reads no command line
  // A standard descriptor closed by whoever started us would be taken by
  // the next one opened (the stop signals' pipe, a file): the window would
  // read its own signal pipe or print into a file. /dev/null holds each
  // place, so a closed input is an ended one, and the window closes.
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF && ::open("/dev/null", O_RDWR) < 0) return 3;
  // From the start: a stop asked for at any point ends the program in order.
  posix::catchStopSignals();
  // An output nobody reads any more is an error of the write, not a signal
  // that kills the program before it has ended its browser session.
  ::signal(SIGPIPE, SIG_IGN);
  try {
    // Links resolved, so the folder is the one the program really lies in.
    const std::string exe = posix::executablePath(argv ? argv[0] : nullptr);
    std::string why;
    const auto root = posix::Machine::locate(exe, &why);
    if (!root) {
      std::fprintf(stderr, "%s\n", why.c_str());
      return 2;
    }
    posix::Machine machine(*root);

    // The application path is the Windows name of the program's folder.
    const std::string folder = std::filesystem::path(exe).parent_path().string();
    const auto appPath = machine.windowsPath(folder);
    if (!appPath) {
      std::fprintf(stderr,
                   "VorlanKur must run from a folder on one of the machine's drives, but %s lies "
                   "outside every drive of %s; copy it into a folder such as %s/drive_c/Kurulum.\n",
                   folder.c_str(), root->c_str(), root->c_str());
      return 2;
    }

    posix::Terminal terminal(stdin, stdout);
    posix::PosixRuntime runtime(machine, *appPath, info.title,
                                [&terminal](const Text& prompt, int buttons, const Text& title) {
                                  return posix::showMessageBox(terminal, prompt, buttons, title);
                                });
    PosixPlatform platform(runtime, terminal, *root + "/.vorlankur.lock");
    const int status = main(platform);
    std::fflush(stdout);
    return status;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "VorlanKur stopped: %s\n", e.what());
    return 3;
  }
}

} // namespace vk
