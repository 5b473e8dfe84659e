// What both platforms promise of the run-time services and the window
// toolkit: one table of cases, run natively against the stand-in machine by
// the unit tests and against Windows (or Wine) by a Windows test program.
// The cases use no test framework, so the same source builds with MinGW.
#pragma once

#include "platform/errors.h"
#include "platform/runtime.h"
#include "platform/window.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vk::contract {

// What a case asks its platform to arrange. Paths are Windows paths; the
// drives C: and D: exist, D: empty when a case starts, and no drive Q:.
class Fixture {
public:
  virtual ~Fixture() = default;
  virtual Runtime& runtime() = 0;
  virtual std::unique_ptr<Window> createWindow(const WindowSpec& layout) = 0;

  // A folder and its missing parents.
  virtual void makeDir(const Text& path) = 0;
  // A file (and its missing folders) with the given bytes.
  virtual void writeFile(const Text& path, std::string_view content) = 0;
  // A file's bytes; nothing when there is no such file.
  virtual std::optional<std::string> readFile(const Text& path) = 0;
  virtual void setReadOnly(const Text& path) = 0;
  virtual void setHidden(const Text& path) = 0;
  virtual void setSystem(const Text& path) = 0;

  // A program at path, started with the argument "wait", runs until ended
  // (a minute at most); started with "cwd <record>", it records its working
  // folder for recordedFolder(record) and ends.
  virtual void makeProgram(const Text& path) = 0;
  // The working folder a program recorded; waits a few seconds for it.
  virtual std::optional<Text> recordedFolder(const Text& record) = 0;
  // Ends a program rtcShell started, and waits until it has ended.
  virtual void endProgram(double processId) = 0;
  // The setup tool's own working folder, which an existing folder becomes.
  virtual void setWorkingFolder(const Text& path) = 0;

  // The next message box is answered with this result (vbOK, vbYes, vbNo),
  // or with its default button (Enter) when 0.
  virtual void answerNextBox(int result) = 0;

  // What appPath() gives to the setup tool run from an existing folder.
  virtual Text appPathIn(const Text& folder) = 0;

  // A web server on loopback, "http://127.0.0.1:<port>": "/merhaba" answers
  // 200 with "merhaba", "/yavas" 200 with 2000 bytes sent over about two
  // seconds, anything else 404.
  virtual Text webServer() = 0;
  // An address on loopback where nothing listens.
  virtual Text deadAddress() = 0;

  // Whether the program runs as a 32-bit program on 64-bit Windows, as the
  // setup tool ships. The machine holds HKLM\Software\VorlanKur Views,
  // value "view": "32" in the 32-bit programs' view, "64" in the others'.
  virtual bool thirtyTwoBitOn64BitWindows() = 0;

  // Whether this is Wine rather than Windows (false on the stand-in).
  virtual bool onWine() const = 0;
};

// Records one case's checks.
class Check {
public:
  explicit Check(bool onWine) : onWine_(onWine) {}

  void that(bool ok, std::string_view what);
  void eq(std::int64_t got, std::int64_t want, std::string_view what);
  void eq(const Text& got, const Text& want, std::string_view what);
  void eq(const std::vector<Text>& got, const std::vector<Text>& want, std::string_view what);
  // Where Wine is known to differ from Windows: true (and a pass) only on
  // Wine with the gap showing, so the caller checks Windows' behaviour
  // otherwise; on Wine a gap that does not show fails ("gap closed"). Each
  // gap has its row in tests/win32/WINE-GAPS.md.
  bool wineGap(std::string_view name, bool gapShows);
  void fail(std::string what) { failures_.push_back(std::move(what)); }

  int passed() const { return passed_; }
  const std::vector<std::string>& failures() const { return failures_; }
  const std::vector<std::string>& gapsSeen() const { return gaps_; }

private:
  bool onWine_;
  int passed_ = 0;
  std::vector<std::string> failures_;
  std::vector<std::string> gaps_;
};

struct Case {
  const char* name; // letters, digits and "_": a test name on every runner
  void (*run)(Fixture& fixture, Check& check);
};

std::span<const Case> cases();

// Runs one case on a fresh fixture; what escapes it is a failure.
void runCase(const Case& c, Fixture& fixture, Check& check);

} // namespace vk::contract
