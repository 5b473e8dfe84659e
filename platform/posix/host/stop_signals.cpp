#include "platform/posix/host/stop_signals.h"

#include "platform/errors.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace vk::posix {

namespace {

volatile std::sig_atomic_t stopped = 0;
// The self-pipe: the handler writes its one byte, nobody reads it, so the
// read end stays readable once a stop has come.
int wakeRead = -1;
int wakeWrite = -1;

// Only async-signal-safe calls here.
void noteStop(int) {
  const int saved = errno;
  stopped = 1;
  if (wakeWrite >= 0) (void)!::write(wakeWrite, "!", 1);
  errno = saved;
}

} // namespace

void catchStopSignals() {
  if (wakeRead < 0) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
      wakeRead = fds[0];
      wakeWrite = fds[1];
    }
  }
  struct sigaction action {};
  action.sa_handler = noteStop;
  action.sa_flags = SA_RESTART;
  ::sigemptyset(&action.sa_mask);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(s, &action, nullptr);
  }
}

bool stopRequested() noexcept {
  return stopped != 0;
}

void endIfStopRequested() {
  if (stopped) throw ProgramEnd{};
}

int stopDescriptor() noexcept {
  return wakeRead;
}

} // namespace vk::posix
