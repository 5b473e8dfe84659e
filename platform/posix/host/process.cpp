#include "platform/posix/host/process.h"

#include "platform/posix/host/files.h"
#include "platform/posix/host/temp_file.h"
#include "platform/posix/host/unique.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <linux/close_range.h>
#include <sstream>
#include <string_view>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vk::posix {

namespace {

bool accepted(const std::string& path, Accept accept) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         (accept == Accept::AnyFile || ::access(path.c_str(), X_OK) == 0);
}

// What the forked side tells the caller through the report pipe.
struct Report {
  enum Kind : int { Started = 1, Failed = 2 };
  int kind;
  int value; // the pid, or the errno
};

void send(int fd, Report report) {
  (void)!::write(fd, &report, sizeof report);
}

// Signals whose default action a program is entitled to, though whoever
// started the setup may have set them to be ignored (ignoring survives exec).
constexpr int kDefaultSignals[] = {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD};

// What the forked side needs, made before the fork: after it only
// async-signal-safe calls are allowed.
struct Prepared {
  const ProcessOptions& options;
  std::vector<char*> argv;
  std::vector<char*> envp;
  int devNull;
  int log;
  int report;
  pid_t parent; // this process, whose end the program may have to follow
};

std::vector<char*> pointers(const std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (const auto& s : strings)
    out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

// Makes fd the standard stream target. dup2 onto itself would keep the
// close-on-exec flag, which is cleared instead.
bool place(int fd, int target) {
  if (fd == target) return ::fcntl(target, F_SETFD, 0) == 0;
  return ::dup2(fd, target) == target;
}

// The forked side: becomes the program, or reports why it could not.
[[noreturn]] void becomeProgram(const Prepared& p) {
  using Group = ProcessOptions::Group;
  using Output = ProcessOptions::Output;
  const ProcessOptions& o = p.options;
  int failure = 0;
  const auto check = [&](bool ok) {
    if (!ok && !failure) failure = errno;
  };
  if (o.group == Group::OwnSession) check(::setsid() >= 0);
  if (o.group == Group::Own) check(::setpgid(0, 0) == 0);
  if (o.parentDeathSignal && !o.detached) {
    check(::prctl(PR_SET_PDEATHSIG, o.parentDeathSignal) == 0);
    // The parent may have ended before the request was made: then it is
    // another process's child already and the signal would never come.
    if (::getppid() != p.parent) ::_exit(127);
  }

  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  for (int s : kDefaultSignals)
    ::sigaction(s, &byDefault, nullptr);
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  check(place(p.devNull, 0));
  if (o.output != Output::Inherit) {
    const int out = o.output == Output::AppendToLog ? p.log : p.devNull;
    check(place(out, 1));
    check(place(out, 2));
  }
  // Nothing else of the setup (its terminal, its sockets) goes along.
  ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
  if (!o.folder.empty()) check(::chdir(o.folder.c_str()) == 0);
  if (!failure) {
    ::execve(p.argv[0], p.argv.data(), p.envp.data());
    failure = errno;
  }
  send(p.report, {Report::Failed, failure});
  ::_exit(127);
}

void waitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

} // namespace

std::optional<std::string> firstProgram(const std::vector<std::string>& candidates, Accept accept) {
  for (const std::string& candidate : candidates)
    if (accepted(candidate, accept)) return candidate;
  return std::nullopt;
}

std::optional<std::string> findHostProgram(const std::string& name) {
  std::vector<std::string> candidates{"/usr/bin/" + name};
  if (const char* path = std::getenv("PATH")) {
    std::string_view rest = path;
    for (;;) {
      const std::size_t colon = rest.find(':');
      const std::string_view folder = rest.substr(0, colon);
      if (!folder.empty()) candidates.push_back(std::string(folder) + "/" + name);
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  return firstProgram(candidates, Accept::Executable);
}

std::vector<std::string> environmentWith(const std::vector<EnvironmentChange>& changes) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    const std::string_view entry(*e);
    const std::string_view name = entry.substr(0, entry.find('='));
    if (std::none_of(changes.begin(), changes.end(),
                     [&](const EnvironmentChange& c) { return c.name == name; }))
      env.emplace_back(entry);
  }
  for (const EnvironmentChange& c : changes)
    if (c.value) env.push_back(c.name + "=" + *c.value);
  return env;
}

std::string executablePath(const char* argv0) {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) return exe.string();
  exe = std::filesystem::weakly_canonical(argv0 ? argv0 : "", ec);
  return ec ? std::string() : exe.string();
}

namespace {

bool sameFile(const struct stat& file, const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && st.st_dev == file.st_dev && st.st_ino == file.st_ino;
}

} // namespace

bool executableRuns(const std::string& hostPath) {
  struct stat file {};
  if (::stat(hostPath.c_str(), &file) != 0) return false;
  const unique_dir proc(::opendir("/proc"));
  if (!proc) return false;
  while (const dirent* d = ::readdir(proc.get()))
    if (d->d_name[0] >= '1' && d->d_name[0] <= '9' &&
        sameFile(file, std::string("/proc/") + d->d_name + "/exe"))
      return true;
  return false;
}

std::vector<StartedPrograms::Entry> StartedPrograms::read() const {
  std::vector<Entry> entries;
  std::istringstream in(readHostFile(record_).value_or(""));
  // "<pid> <start time, or -> <image>" a line.
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    long pid = 0;
    std::string started;
    if (!(fields >> pid >> started) || pid <= 0 || fields.get() != ' ') continue;
    Entry e{static_cast<pid_t>(pid), std::nullopt, {}};
    if (started != "-") e.started = std::strtoull(started.c_str(), nullptr, 10);
    std::getline(fields, e.image);
    if (!e.image.empty()) entries.push_back(std::move(e));
  }
  return entries;
}

bool StartedPrograms::alive(const Entry& e) {
  if (::kill(e.pid, 0) != 0 && errno == ESRCH) return false;
  const auto stat = processStat(e.pid);
  // Unseen, a process with the pid may be the program: it counts as running.
  if (!stat || !e.started) return true;
  return stat->started == *e.started && stat->state != 'Z' && stat->state != 'X';
}

void StartedPrograms::add(pid_t pid, const std::string& image) {
  const auto line = [](const Entry& e) {
    return std::to_string(e.pid) + ' ' + (e.started ? std::to_string(*e.started) : "-") + ' ' +
           e.image + '\n';
  };
  std::string text;
  for (const Entry& e : read())
    if (alive(e)) text += line(e);
  const auto stat = processStat(pid);
  text += line({pid, stat ? std::optional(stat->started) : std::nullopt, image});
  // A record that cannot be written leaves the program unseen by later
  // runs, as when no record was kept; this run still sees it running by
  // its executable where it is one.
  const auto slash = record_.rfind('/');
  publishFile(AT_FDCWD, record_, record_.substr(0, slash + 1) + ".vk-record-", 0644,
              Publish::Replace, [&](int fd) { return writeAll(fd, text.data(), text.size()); });
}

bool StartedPrograms::mayRun(const std::string& hostPath) const {
  struct stat file {};
  if (::stat(hostPath.c_str(), &file) != 0) return false;
  const auto entries = read();
  return std::any_of(entries.begin(), entries.end(),
                     [&](const Entry& e) { return sameFile(file, e.image) && alive(e); });
}

bool stillRuns(pid_t pid) {
  if (pid <= 0) return false;
  int status = 0;
  const pid_t waited = ::waitpid(pid, &status, WNOHANG);
  if (waited == pid) return false;
  if (waited == 0) return true;
  if (::kill(pid, 0) != 0 && errno != EPERM) return false;
  const auto stat = processStat(pid);
  return stat && stat->state != 'Z' && stat->state != 'X';
}

std::optional<ProcessStat> processStat(pid_t pid) {
  const std::string stat = readHostFile("/proc/" + std::to_string(pid) + "/stat").value_or("");
  const auto name = stat.rfind(')'); // the name may hold blanks and brackets
  ProcessStat out{};
  long parent = 0, group = 0;
  // After the name: state, parent, group, 16 fields, the start time (22nd).
  if (name == std::string::npos ||
      std::sscanf(
          stat.c_str() + name + 1,
          " %c %ld %ld %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu",
          &out.state, &parent, &group, &out.started) != 4)
    return std::nullopt;
  out.group = static_cast<pid_t>(group);
  return out;
}

StartedProcess startProcess(const ProcessOptions& options) {
  if (options.argv.empty()) return {0, EINVAL};
  const unique_fd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (!devNull) return {0, errno};
  unique_fd log;
  if (options.output == ProcessOptions::Output::AppendToLog) {
    log.reset(::open(options.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (!log) return {0, errno};
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {0, errno};
  const unique_fd readEnd(fds[0]);
  unique_fd writeEnd(fds[1]);
  const Prepared prepared{.options = options,
                          .argv = pointers(options.argv),
                          .envp = pointers(options.environment),
                          .devNull = devNull.get(),
                          .log = log.get(),
                          .report = writeEnd.get(),
                          .parent = ::getpid()};

  const pid_t forked = ::fork();
  if (forked < 0) return {0, errno};
  if (forked == 0) {
    if (options.detached) {
      // Forked twice, the program is left to init (or a subreaper), which
      // reaps it: no SIGCHLD handling here and no zombie. The process in
      // between ends at once.
      const pid_t program = ::fork();
      if (program != 0) {
        send(writeEnd.get(),
             program < 0 ? Report{Report::Failed, errno} : Report{Report::Started, program});
        ::_exit(0);
      }
    }
    becomeProgram(prepared);
  }
  writeEnd.reset();

  // The reports end when the program has been exec'd (the pipe closes on
  // exec) or has failed to be.
  pid_t started = options.detached ? 0 : forked;
  int failure = 0;
  Report report{};
  for (;;) {
    const ssize_t n = ::read(readEnd.get(), &report, sizeof report);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(sizeof report)) break;
    if (report.kind == Report::Started)
      started = report.value;
    else
      failure = report.value;
  }
  // The process in between, or the child that never became the program.
  if (options.detached || failure) waitFor(forked);
  if (failure) return {0, failure};
  if (started <= 0) return {0, ECHILD}; // the process in between died unheard
  return {started, 0};
}

} // namespace vk::posix
