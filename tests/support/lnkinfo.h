// Shortcuts read back with Debian's lnkinfo, an independent reader of the
// .lnk format.
#pragma once

#include <string>

namespace vk::test {

// lnkinfo's report of a host file, its errors included; status, when given,
// gets its exit status (-1 when it did not exit). Throws when lnkinfo
// cannot be started.
std::string lnkinfo(const std::string& hostPath, int* status = nullptr);

// The value a report gives a field ("Local path", "Description"), "" if
// the report has no such field.
std::string lnkField(const std::string& report, const std::string& field);

} // namespace vk::test
