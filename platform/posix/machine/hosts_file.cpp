#include "platform/posix/machine/hosts_file.h"

#include <arpa/inet.h>

#include <algorithm>
#include <sstream>

namespace vk::posix {

std::vector<HostsEntry> parseHostsFile(std::string_view text) {
  // Notepad saves with a byte-order mark; it must not spoil the first line.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<HostsEntry> entries;
  std::istringstream in{std::string(text)};
  std::string line;
  while (std::getline(in, line)) {
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string address, name;
    if (!(words >> address)) continue;
    unsigned char buf[16];
    const bool v4 = inet_pton(AF_INET, address.c_str(), buf) == 1;
    const bool v6 = !v4 && inet_pton(AF_INET6, address.c_str(), buf) == 1;
    if (!v4 && !v6) continue;
    if (v6) address = "[" + address + "]";
    while (words >> name) {
      // Host names are ASCII; other bytes are left as they are.
      for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      const bool known = std::any_of(entries.begin(), entries.end(),
                                     [&](const HostsEntry& e) { return e.name == name; });
      if (!known) entries.push_back({name, address});
    }
  }
  return entries;
}

} // namespace vk::posix
