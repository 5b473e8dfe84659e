// The installation run's own steps that are not methods of the window.
#pragma once

#include "platform/errors.h"
#include "platform/runtime.h"

#include <array>
#include <string_view>

namespace vk {

struct DriverRow {
  std::u16string_view prefix;
  std::u16string_view address;
};

// Chrome line -> the ChromeDriver build fetched for it, newest first.
extern const std::array<DriverRow, 15> kDriverTable;

struct BrowserVersion {
  Variant version;    // exactly as the registry gave it
  Text prefix;        // its first three characters
  Text driverAddress; // "" when no row matched
};

// Reads the installed Chrome's version and chooses the driver. Ends the
// program when Chrome is not installed.
BrowserVersion versionStep(Runtime& rt);

// Writes "[" + prefix + "]" into the version record, each statement under
// the caller's error mode.
void recordStep(Runtime& rt, ErrorMode& mode, const Text& userPath, const Text& prefix);

} // namespace vk
