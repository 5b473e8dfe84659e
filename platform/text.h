// Texts are UTF-16 in the logic; these convert at the platform's edges and
// give the run-time's pure text operations.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vk {

using Text = std::u16string;
using TextView = std::u16string_view;

// UTF-8 <-> UTF-16. Malformed input becomes U+FFFD rather than failing: a
// host file name is shown, never trusted for its bytes.
std::string toUtf8(TextView text);
Text fromUtf8(std::string_view utf8);

// Upper case of one UTF-16 unit as Windows' case-insensitive file names see
// it: invariant, not locale-bound, so the dotless i stays as it is.
char16_t upperChar(char16_t c);
bool equalsIgnoreCase(TextView a, TextView b);

// ASCII letters of a byte string in one case, other bytes as they are: for
// protocol words (schemes, methods, header names), never for user text.
std::string asciiLower(std::string s);
std::string asciiUpper(std::string s);

// The run-time's text operations.
// A count is never negative here: the program passes constants.
Text rtcLeftCharVar(const Text& text, std::size_t count);
Text rtcRightCharVar(const Text& text, std::size_t count);
Text rtcUpperCaseVar(const Text& text);
Text vbaStrI4(std::int32_t number);
// Exact, case-sensitive comparison; 0 when equal.
int vbaStrCmp(TextView a, TextView b);

} // namespace vk
