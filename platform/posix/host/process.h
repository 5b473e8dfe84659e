// The host's processes: finding a program, the environment it gets, and
// starting it.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vk::posix {

// Which files a look-up stops at: any regular file, as Windows finds a
// program (one it then cannot run fails to start), or only one this process
// may execute, as a shell finds a host program.
enum class Accept { AnyFile, Executable };

// The first of candidates (host paths, in order) that is accepted; nullopt
// when none is.
std::optional<std::string> firstProgram(const std::vector<std::string>& candidates, Accept accept);

// A host program by name: /usr/bin first, then the folders of PATH.
std::optional<std::string> findHostProgram(const std::string& name);

// A variable of a child's environment: set to value, or left out when value
// is nullopt.
struct EnvironmentChange {
  std::string name;
  std::optional<std::string> value;
};

// This process's environment ("NAME=value" each) with the named variables
// changed: the others keep their order, the ones set follow.
std::vector<std::string> environmentWith(const std::vector<EnvironmentChange>& changes);

// How a program starts. Its stdin is always /dev/null: nothing started here
// reads the setup's terminal.
struct ProcessOptions {
  std::vector<std::string> argv; // argv[0] is the program's host path
  std::vector<std::string> environment;
  std::string folder; // the working folder; empty keeps this process's

  // Where stdout and stderr both go.
  enum class Output {
    Discard,    // /dev/null
    Inherit,    // this process's own
    AppendToLog // the end of log, made (0600) when missing
  };
  Output output = Output::Discard;
  std::string log;

  enum class Group {
    Ours,      // this process's group
    Own,       // the head of a new group, so the group can be signalled as one
    OwnSession // a new session: no key typed at the setup's terminal reaches it
  };
  Group group = Group::Ours;

  // A detached program is no child of ours: init (or a subreaper) reaps it.
  // Otherwise the caller waits for it.
  bool detached = false;

  // When not 0, the signal the program gets as soon as this process ends,
  // however it ends (SIGKILL included), so that nothing it started outlives
  // it. The kernel ties it to the thread that started the program: start
  // such programs from the main thread. Not for a detached program, whose
  // parent ends at once.
  int parentDeathSignal = 0;
};

// A started program's process id, or 0 and the errno that kept it from
// starting (an exec that failed included).
struct StartedProcess {
  pid_t pid = 0;
  int error = 0;
};

// The running executable as the kernel knows it, links resolved; the given
// argv[0] made absolute where /proc is not there; "" when neither works.
std::string executablePath(const char* argv0 = nullptr);

// What /proc/<pid>/stat says of a process: its state letter ('Z' a zombie),
// its process group and when it started, in clock ticks since boot (with the
// pid, that names one process, whichever takes the pid later); nothing once
// it is gone or where /proc does not show it.
struct ProcessStat {
  char state;
  pid_t group;
  unsigned long long started;
};
std::optional<ProcessStat> processStat(pid_t pid);

// Whether a process still runs. A child of ours that ended is reaped here;
// one that ended and waits for another parent (init may be slow to reap, or
// never) counts as ended.
bool stillRuns(pid_t pid);

// Whether some running process that /proc shows has the file as its
// executable. Windows refuses to replace such a file, whoever started it.
bool executableRuns(const std::string& hostPath);

// The programs the stand-in started, in this run and earlier ones, kept in
// a file of the machine: Windows keeps a program's file in use while that
// very process runs, and only then (its children run files of their own).
class StartedPrograms {
public:
  explicit StartedPrograms(std::string recordFile) : record_(std::move(recordFile)) {}

  // Records a program just started from image (a host path); the entries
  // of processes that ended go.
  void add(pid_t pid, const std::string& image);

  // Whether a program started from the file may still run: its process,
  // the pid with the start time recorded, is alive; or, where /proc does
  // not show it, some process holds its pid.
  bool mayRun(const std::string& hostPath) const;

private:
  struct Entry {
    pid_t pid;
    std::optional<unsigned long long> started;
    std::string image;
  };
  std::vector<Entry> read() const;
  static bool alive(const Entry& e);

  std::string record_;
};

// Starts a program and returns once it runs or has failed to. It gets none
// of this process's other descriptors, no blocked signals and the default
// action for the signals a shell may have set to be ignored.
StartedProcess startProcess(const ProcessOptions& options);

} // namespace vk::posix
