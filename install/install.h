// The installation run's own steps that are not methods of the window.
#pragma once

#include "form1/Form1.h"
#include "platform/errors.h"
#include "platform/runtime.h"
#include "platform/window.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace vk {

// Windows' own programs the run starts, by full path: a bare name is looked
// for in the setup folder first, and a copy lying there must never run with
// the rights the tool was given. A 32-bit program on 64-bit Windows is sent
// to SysWOW64's copies by the file system redirector.
inline constexpr char16_t kCmd[] = u"C:\\Windows\\System32\\cmd.exe";
inline constexpr char16_t kRegsvr32[] = u"C:\\Windows\\System32\\regsvr32.exe";

struct DriverRow {
  std::u16string_view prefix;
  std::u16string_view address;
};

// Chrome line -> the ChromeDriver build fetched for it, newest first.
extern const std::array<DriverRow, 15> kDriverTable;

// The opening of the run's failure boxes.
inline constexpr char16_t kSetupFailed[] = u"Kurulum sırasında hata oluştu ! ";

// Reads the installed Chrome's version and chooses the driver: from the
// table, else from the version files of the driver servers, the window
// saying so meanwhile. Ends the program when Chrome is not installed; any
// other failure has been told and leaves the address empty.
BrowserVersion versionStep(Runtime& rt, Window& window);

// While the run waits on something slow, the headline (Text12) says what
// for; it holds its earlier text again when the wait ends, however it
// ends, since the run's later texts build on it.
class WaitText {
public:
  WaitText(Window& window, const Text& text);
  ~WaitText();
  WaitText(const WaitText&) = delete;
  WaitText& operator=(const WaitText&) = delete;
  void show(const Text& text);

private:
  Window& window_;
  Text before_;
};

// What a wait does besides waiting: eachSecond is called about once a
// second with the seconds waited; keep, at each turn while the answer
// comes (readyState 3), says whether it is still wanted.
struct WaitHooks {
  std::function<void(int seconds)> eachSecond;
  std::function<bool()> keep;
};

// Sends a request opened asynchronously and waits for its whole answer with
// the window alive: rtcDoEvents between reads of "readyState" until 4.
// Returns "Status", or nothing when keep gave the answer up. A request that
// failed raises the number a synchronous "Send" raises for that failure.
std::optional<Variant> sendAndWait(Runtime& rt, Object& request, const WaitHooks& hooks = {});

// How big an answer is, as far as the request object tells: the length its
// headers announce, and how much of it has come (at readyState 3 only where
// the object gives the body so far).
struct ResponseSize {
  std::optional<std::uint64_t> announced;
  std::optional<std::uint64_t> received;
};
ResponseSize responseSize(Object& request);

// A size as Turkish people write it: "0 bayt", "999 KB", "8,9 MB", "1,0 GB".
Text sizeText(std::uint64_t bytes);
// What the download has come to: "8,9 MB", "3,2 / 8,9 MB (%36)", "3,2 MB",
// or "" when nothing is known.
Text progressText(const ResponseSize& size);

// Writes "[" + prefix + "]" into the version record, each statement under
// the caller's error mode.
void recordStep(Runtime& rt, ErrorMode& mode, const Text& userPath, const Text& prefix);

} // namespace vk
