// Start-up time of the setup tool: finding the machine, the component check
// and the first print of the window, up to the close box at the end of
// input. The built program runs from the setup folder of a demo machine;
// /bin/true started the same way gives the cost of starting any process,
// which the difference leaves out. Reports only; it never fails.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int kRuns = 20;
constexpr double kGoalMs = 20.0;

struct Outcome {
  double ms;
  int status;
};

// One run with stdin at its end and the output thrown away.
Outcome runOnce(const std::string& program, const std::vector<std::string>& environment) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

  std::vector<char*> env;
  for (const auto& e : environment)
    env.push_back(const_cast<char*>(e.c_str()));
  env.push_back(nullptr);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};

  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int status = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, env.data()) == 0)
    waitpid(pid, &status, 0);
  const auto end = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);
  return {std::chrono::duration<double, std::milli>(end - start).count(), status};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Runs the program kRuns times after one warm-up run; the median time and
// how many runs did not end with status 0.
std::pair<double, int> measure(const std::string& program, const std::vector<std::string>& env) {
  runOnce(program, env);
  std::vector<double> times;
  int failed = 0;
  for (int k = 0; k < kRuns; ++k) {
    const Outcome o = runOnce(program, env);
    times.push_back(o.ms);
    if (!(WIFEXITED(o.status) && WEXITSTATUS(o.status) == 0)) ++failed;
  }
  return {median(times), failed};
}

} // namespace

int main() {
  std::string tmpl = (fs::temp_directory_path() / "vk-bench-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) {
    std::perror("mkdtemp");
    return 0;
  }
  const std::string root = tmpl + "/machine";
  const std::string script = std::string(VK_SOURCE_DIR) + "/scripts/make-machine.sh";
  const std::string command = "bash '" + script + "' '" + root +
                              "' --drive d --chrome 104.0.5112.81"
                              " --present 'msvbvm60.dll MSSTDFMT.DLL shell32.dll wmp.dll'";
  std::error_code ec;
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "startup: could not lay out the demo machine with %s\n", script.c_str());
    fs::remove_all(tmpl, ec);
    return 0;
  }
  const std::string setup = root + "/drive_d/Kurulum";
  fs::create_directories(setup, ec);
  const std::string program = setup + "/VorlanKur.exe";
  fs::copy_file(VK_APP, program, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    std::fprintf(stderr, "startup: could not copy %s: %s\n", VK_APP, ec.message().c_str());
    fs::remove_all(tmpl, ec);
    return 0;
  }

  std::vector<std::string> env{"VORLANKUR_MACHINE=" + root, "LANG=C.UTF-8"};
  if (const char* path = std::getenv("PATH")) env.push_back(std::string("PATH=") + path);

  const auto [app, appFailed] = measure(program, env);
  const auto [floor, floorFailed] = measure("/bin/true", env);
  const double difference = app - floor;

  std::printf("startup: VorlanKur median %.2f ms over %d runs (stdin at end of input)\n", app,
              kRuns);
  std::printf("startup: /bin/true median %.2f ms over %d runs (process start floor)\n", floor,
              kRuns);
  std::printf("startup: difference %.2f ms; goal under %.0f ms: %s\n", difference, kGoalMs,
              difference < kGoalMs ? "met" : "NOT met");
  if (appFailed || floorFailed)
    std::printf("startup: note: %d VorlanKur run(s) and %d /bin/true run(s) did not exit with 0\n",
                appFailed, floorFailed);

  fs::remove_all(tmpl, ec);
  return 0;
}
