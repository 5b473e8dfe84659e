#include "support/lnkinfo.h"

#include <array>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

namespace vk::test {

namespace {

std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

} // namespace

std::string lnkinfo(const std::string& hostPath, int* status) {
  FILE* p = popen(("lnkinfo " + shellQuote(hostPath) + " 2>&1").c_str(), "r");
  if (!p) throw std::runtime_error("cannot start lnkinfo");
  std::string out;
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
    out.append(buf.data(), n);
  const int rc = pclose(p);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

std::string lnkField(const std::string& report, const std::string& field) {
  std::istringstream in(report);
  std::string line;
  while (std::getline(in, line)) {
    const auto start = line.find_first_not_of('\t');
    if (start == std::string::npos || line.compare(start, field.size(), field) != 0) continue;
    const auto colon = line.find(": ", start + field.size());
    if (colon == std::string::npos) continue;
    // The field name must be followed only by tabs up to the colon.
    if (line.find_first_not_of('\t', start + field.size()) != colon) continue;
    return line.substr(colon + 2);
  }
  return "";
}

} // namespace vk::test
