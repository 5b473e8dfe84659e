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

// The machine's hosts file as a browser session follows it.
// --host-resolver-rules for the browser from a Windows hosts file's text
// ("MAP name address, ..., EXCLUDE localhost"); "" when it maps no name.
std::string hostResolverRules(const std::string& hostsFile);
std::string hostResolverRules(const std::vector<HostsEntry>& entries);

// The rules above fit in one command-line argument (Linux takes 128 KiB) up
// to this size.
inline constexpr std::size_t kMaxRulesArgument = 100 * 1024;

// How a session's browser follows the machine's hosts file: rules, or, when
// they would not fit, a command that runs the driver (and so the browser)
// with the file written in folder as its /etc/hosts.
struct NameResolution {
  std::string rules;
  std::vector<std::string> wrapper; // the driver's command line follows it
};
NameResolution resolutionFor(const std::string& hostsFile, const std::string& folder);

// The hosts file in the host's layout ("address name" a line, localhost on
// loopback first).
std::string etcHosts(const std::vector<HostsEntry>& entries);

} // namespace vk::posix
