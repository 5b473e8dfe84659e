// Certificate authorities kept as PEM text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vk::posix {

// The certificates of a PEM text, each as its own block ("-----BEGIN
// CERTIFICATE-----" to "-----END CERTIFICATE-----" and a line break). A
// block that holds no well-formed certificate is left out, so that one bad
// entry in a file of authorities does not cost the trust in the others.
std::vector<std::string> pemCertificates(std::string_view text);

} // namespace vk::posix
