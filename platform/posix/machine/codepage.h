// Single-byte text in a Windows ANSI code page, as files written by the
// automation objects carry it.
#pragma once

#include "platform/text.h"

#include <string>
#include <string_view>

namespace vk::posix {

inline constexpr unsigned kCodePageWestern = 1252;
inline constexpr unsigned kCodePageTurkish = 1254;
inline constexpr unsigned kCodePageUtf8 = 65001;

// Whether the code page has its own table here; any other is treated as 1252.
bool knownCodePage(unsigned codePage);

// UTF-16 -> bytes of the code page. A character the code page lacks becomes
// "?" (a surrogate pair is one character, so one "?").
std::string encodeAnsi(TextView text, unsigned codePage);

// Bytes of the code page -> UTF-16. Every byte has a character: the few
// bytes a table leaves undefined map to the control character of the same
// number, as Windows maps them.
Text decodeAnsi(std::string_view bytes, unsigned codePage);

} // namespace vk::posix
