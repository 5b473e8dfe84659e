// The registry of the stand-in machine: the hive files Wine keeps as text.
#pragma once

#include "platform/posix/machine/machine.h"

#include <memory>
#include <string>

namespace vk::posix {

// HKEY_CURRENT_USER from userReg, HKEY_LOCAL_MACHINE from systemReg. Each
// file is read on the first question about its hive; a missing file is an
// empty hive.
std::unique_ptr<Registry> openRegistryFiles(std::string userReg, std::string systemReg);

} // namespace vk::posix
