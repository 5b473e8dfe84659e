#include "platform/posix/machine/hosts_file.h"

#include <arpa/inet.h>

#include <algorithm>
#include <functional>
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
  // Ad-blocking lists run to a hundred thousand lines and more: room for
  // every line at once, and names already given found by hash, so that each
  // line costs the same however long the file.
  const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  std::vector<HostsEntry> entries;
  entries.reserve(lines);
  // Indices into entries, hashed and compared by name: they stay valid as
  // entries grows, where views of its strings would not.
  const auto nameOf = [&entries](std::size_t i) -> std::string_view { return entries[i].name; };
  const auto hash = [&](std::size_t i) { return std::hash<std::string_view>()(nameOf(i)); };
  const auto equal = [&](std::size_t a, std::size_t b) { return nameOf(a) == nameOf(b); };
  std::unordered_set<std::size_t, decltype(hash), decltype(equal)> known(lines, hash, equal);
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    line = line.substr(0, line.find('#'));
    std::size_t at = 0;
    const std::string_view word = nextWord(line, at);
    char address[INET6_ADDRSTRLEN + 2];
    if (word.empty() || word.size() >= INET6_ADDRSTRLEN) continue;
    word.copy(address + 1, word.size());
    address[word.size() + 1] = '\0';
    unsigned char buf[16];
    std::string_view written(address + 1, word.size());
    if (inet_pton(AF_INET, address + 1, buf) != 1) {
      if (inet_pton(AF_INET6, address + 1, buf) != 1) continue;
      address[0] = '[';
      address[word.size() + 1] = ']';
      written = std::string_view(address, word.size() + 2);
    }
    for (std::string_view name = nextWord(line, at); !name.empty(); name = nextWord(line, at)) {
      // Host names are ASCII; other bytes are left as they are.
      HostsEntry& entry = entries.emplace_back(HostsEntry{std::string(name), std::string(written)});
      for (char& c : entry.name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (!known.insert(entries.size() - 1).second) entries.pop_back();
    }
  }
  return entries;
}

} // namespace vk::posix
