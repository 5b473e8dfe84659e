// The one place the Windows headers come in. Every other source of the Win32
// platform includes this header, never <windows.h> itself, so the macros
// those headers define stay inside platform/win32/.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include "platform/text.h"

#include <string>

namespace vk::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 texts pass to Windows as they are");

// A Text as the wide string Windows takes: the same UTF-16 units.
inline const wchar_t* wide(const Text& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline Text fromWide(const wchar_t* text, std::size_t length) {
  return Text(reinterpret_cast<const char16_t*>(text), length);
}
inline Text fromWide(const wchar_t* text) {
  return text ? fromWide(text, std::char_traits<wchar_t>::length(text)) : Text();
}

} // namespace vk::win32
