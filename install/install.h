// The installation run's own steps that are not methods of the window.
#pragma once

#include "platform/errors.h"
#include "platform/runtime.h"
#include "platform/window.h"

#include <array>
#include <cstdint>
#include <functional>
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

struct BrowserVersion {
  Variant version;    // exactly as the registry gave it
  Text prefix;        // its first three characters
  Text driverAddress; // "" when no driver was found
  Text failedStep;    // why not, for the final texts; "" when found
};

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

// Sends a request opened asynchronously and waits for its whole answer with
// the window alive: rtcDoEvents between reads of "readyState" until 4.
// eachSecond, when given, is called about once a second with the seconds
// waited. Returns "Status"; a request that failed raises the number a
// synchronous "Send" raises for that failure.
Variant sendAndWait(Runtime& rt, Object& request,
                    const std::function<void(int seconds)>& eachSecond = {});

// A size as Turkish people write it: "0 bayt", "999 KB", "8,9 MB", "1,0 GB".
Text sizeText(std::uint64_t bytes);

// Writes "[" + prefix + "]" into the version record, each statement under
// the caller's error mode.
void recordStep(Runtime& rt, ErrorMode& mode, const Text& userPath, const Text& prefix);

} // namespace vk
