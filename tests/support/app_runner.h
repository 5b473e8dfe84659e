// Runs the built setup tool in a simulated machine, with the lines a person
// would type, and keeps what it printed.
#pragma once

#include "support/test_machine.h"

#include <functional>
#include <string>
#include <vector>

namespace vk::test {

struct AppRun {
  int exitStatus = -1; // -1: killed after the time limit
  std::string out;
  std::string err;
  // With an interruption: the processor time the tool used while `when`
  // held and the interruption waited, as a share of that time; and the
  // seconds from the interruption to the tool's end.
  double processorShare = 0;
  double secondsToEnd = -1;
  long peakKilobytes = 0; // the most memory the tool held at once
};

// Copies the built program to <setupFolder>\VorlanKur.exe (once) and runs it
// there with VORLANKUR_MACHINE set, the lines on its standard input.
AppRun runSetupTool(TestMachine& tm, const Text& setupFolder, const std::vector<std::string>& lines,
                    int timeoutSeconds = 120);

// A signal sent to the running tool, or a line typed to it, once, as soon
// as `when` has held for `after` seconds for what it has printed so far. Its
// input stays open meanwhile, as a person's does who has not answered yet.
struct Interruption {
  int signal = 0;
  std::function<bool(const std::string& out)> when;
  std::string typed = {}; // without its line end; used when signal is 0
  double after = 0;
  // Instead: the tool's output is a pipe, and its reader goes away.
  bool closesOutput = false;
};
AppRun runSetupTool(TestMachine& tm, const Text& setupFolder, const std::vector<std::string>& lines,
                    const Interruption& interruption, int timeoutSeconds = 120);

// A setup package as it ships: the application files, the components and
// the connection-settings script. Vorlan.exe records its start in
// "vorlan.log".
void laySetupPackage(TestMachine& tm, const Text& setupFolder);

// A stand-in started by the tool runs beside it: waits (at most a few
// seconds) until its log holds the text, and returns the log.
std::string waitForLog(const TestMachine& tm, const std::string& logName, const std::string& text);

// Whether the output shows the text wherever the terminal broke its lines:
// on both sides a run of blanks and line breaks counts as one blank.
bool shows(const std::string& out, const std::string& text);

// Counts the occurrences of a text.
std::size_t count(const std::string& haystack, const std::string& needle);

} // namespace vk::test
