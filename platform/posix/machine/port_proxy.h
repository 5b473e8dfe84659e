// The machine's port proxy ("netsh interface portproxy"), kept under
// HKLM\SYSTEM\CurrentControlSet\Services\PortProxy\v4tov4\tcp as Windows
// keeps it: a connection to a listed address and port goes on to another.
#pragma once

#include "platform/posix/machine/machine.h"

#include <string>

namespace vk::posix {

// The forward for a connection to address:port as "address:port" ("[v6]"
// never has one: only IPv4 forwards are read), "" when there is none.
std::string portProxy(const Machine& machine, const std::string& address, long port);

} // namespace vk::posix
