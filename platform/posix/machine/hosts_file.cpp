#include "platform/posix/machine/hosts_file.h"

#include <arpa/inet.h>

#include <unordered_set>

namespace vk::posix {

namespace {

bool blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The next blank-separated word of line from at, "" at its end.
std::string_view nextWord(std::string_view line, std::size_t& at) {
  while (at < line.size() && blank(line[at]))
    ++at;
  const std::size_t start = at;
  while (at < line.size() && !blank(line[at]))
    ++at;
  return line.substr(start, at - start);
}

} // namespace

std::vector<HostsEntry> parseHostsFile(std::string_view text) {
  // Notepad saves with a byte-order mark; it must not spoil the first line.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<HostsEntry> entries;
  // Names already given, so that each later one costs the same however long
  // the file (ad-blocking lists run to a hundred thousand lines and more).
  std::unordered_set<std::string> known;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    line = line.substr(0, line.find('#'));
    std::size_t at = 0;
    std::string address(nextWord(line, at));
    if (address.empty()) continue;
    unsigned char buf[16];
    const bool v4 = inet_pton(AF_INET, address.c_str(), buf) == 1;
    const bool v6 = !v4 && inet_pton(AF_INET6, address.c_str(), buf) == 1;
    if (!v4 && !v6) continue;
    if (v6) address = "[" + address + "]";
    for (std::string_view word = nextWord(line, at); !word.empty(); word = nextWord(line, at)) {
      // Host names are ASCII; other bytes are left as they are.
      std::string name(word);
      for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (known.insert(name).second) entries.push_back({std::move(name), address});
    }
  }
  return entries;
}

} // namespace vk::posix
