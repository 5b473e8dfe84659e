// The installation run's own steps that are not methods of the window.
#pragma once

#include "platform/errors.h"
#include "platform/runtime.h"

#include <array>
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
// table, else from the version files of the driver servers. Ends the
// program when Chrome is not installed; any other failure has been told
// and leaves the address empty.
BrowserVersion versionStep(Runtime& rt);

// Writes "[" + prefix + "]" into the version record, each statement under
// the caller's error mode.
void recordStep(Runtime& rt, ErrorMode& mode, const Text& userPath, const Text& prefix);

} // namespace vk
