// The machine's hosts file (C:\Windows\System32\drivers\etc\hosts), read
// the way Windows' resolver reads it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vk::posix {

// A name and the address it stands for, "[...]" around an IPv6 one.
struct HostsEntry {
  std::string name; // in lower case
  std::string address;
};

// The entries of a hosts file's text: lines "address name [name ...]", "#"
// starts a comment, a line whose address is not one is passed over. The
// first line that names a host decides, as on Windows.
std::vector<HostsEntry> parseHostsFile(std::string_view text);

} // namespace vk::posix
