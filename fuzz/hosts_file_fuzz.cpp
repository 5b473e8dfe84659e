// The hosts file parser on any text: every entry it gives is a name in lower
// case, named once, for an address that parses.
#include "fuzz/check.h"
#include "platform/posix/machine/hosts_file.h"

#include <arpa/inet.h>
#include <cctype>
#include <set>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vk;
  const auto entries = posix::parseHostsFile(fuzz::bytes(data, size));
  std::set<std::string> names;
  for (const auto& e : entries) {
    VK_FUZZ_CHECK(!e.name.empty());
    VK_FUZZ_CHECK(names.insert(e.name).second);
    for (char c : e.name) {
      VK_FUZZ_CHECK(!(c >= 'A' && c <= 'Z'));
      VK_FUZZ_CHECK(c != '#' && !std::isspace(static_cast<unsigned char>(c)));
    }
    unsigned char buf[16];
    const std::string& a = e.address;
    if (!a.empty() && a.front() == '[') {
      VK_FUZZ_CHECK(a.back() == ']');
      VK_FUZZ_CHECK(inet_pton(AF_INET6, a.substr(1, a.size() - 2).c_str(), buf) == 1);
    } else {
      VK_FUZZ_CHECK(inet_pton(AF_INET, a.c_str(), buf) == 1);
    }
  }
  return 0;
}
