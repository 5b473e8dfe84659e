#include "platform/posix/machine/hosts_file.h"

#include "platform/posix/host/process.h"

#include <arpa/inet.h>

#include <fstream>

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

namespace {

// A name the browser's rules can carry: ASCII only, whatever the locale
// says a letter is.
bool plainHostName(const std::string& name) {
  if (name.empty() || name.size() > 253) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
  });
}

} // namespace

std::string hostResolverRules(const std::string& hostsFile) {
  return hostResolverRules(parseHostsFile(hostsFile));
}

std::string hostResolverRules(const std::vector<HostsEntry>& entries) {
  std::string rules;
  std::size_t size = 0;
  for (const HostsEntry& e : entries)
    size += e.name.size() + e.address.size() + 7;
  rules.reserve(size + 20);
  for (const HostsEntry& e : entries) {
    // Chromium resolves localhost itself; the rules keep it out (below).
    if (e.name == "localhost" || !plainHostName(e.name)) continue;
    rules.append("MAP ").append(e.name).append(" ").append(e.address).append(", ");
  }
  if (rules.empty()) return {};
  return rules + "EXCLUDE localhost";
}

std::string etcHosts(const std::vector<HostsEntry>& entries) {
  // The driver and the browser reach each other over loopback by this name.
  std::string text = "127.0.0.1 localhost\n::1 localhost\n";
  for (const HostsEntry& e : entries) {
    if (e.name == "localhost" || !plainHostName(e.name)) continue;
    const bool v6 = e.address.front() == '[';
    if (v6)
      text.append(e.address, 1, e.address.size() - 2);
    else
      text += e.address;
    text.append(" ").append(e.name).append("\n");
  }
  return text;
}

NameResolution resolutionFor(const std::string& hostsFile, const std::string& folder) {
  const std::vector<HostsEntry> entries = parseHostsFile(hostsFile);
  NameResolution r;
  r.rules = hostResolverRules(entries);
  if (r.rules.size() <= kMaxRulesArgument) return r;
  // Too many names for one argument: the driver and the browser it starts
  // run in a mount namespace of their own whose /etc/hosts is the machine's
  // file, which the host's resolver and Chromium's own both read for every
  // name, as Windows does with its hosts file.
  r.rules.clear();
  const std::string path = folder + "/hosts";
  std::ofstream(path, std::ios::binary) << etcHosts(entries);
  const std::string unshare = findHostProgram("unshare").value_or("unshare");
  r.wrapper = {unshare,
               "--user",
               "--map-root-user",
               "--mount",
               "/bin/sh",
               "-c",
               "mount --bind \"$0\" /etc/hosts && exec \"$@\"",
               path};
  return r;
}

} // namespace vk::posix
