// How Windows' failures become the run-time's errors.
#pragma once

#include "platform/errors.h"
#include "platform/win32/win32.h"

#include <cstdint>

namespace vk::win32 {

// The run-time's number for a Win32 error code, as the language run-time
// maps the codes of its file and process operations; fallback for the rest.
err::Code runtimeNumber(DWORD win32Error, err::Code fallback);

// Throws the error for a Win32 error code.
[[noreturn]] void throwWin32(DWORD win32Error, err::Code fallback);
// Throws the error for GetLastError().
[[noreturn]] void throwLastError(err::Code fallback);

// The run-time's number for a failed COM call: a run-time number carried in
// the HRESULT, a dispatch failure the run-time has its own number for, else
// the HRESULT itself as a negative number.
std::int32_t hresultNumber(HRESULT hr);
[[noreturn]] void throwHresult(HRESULT hr);
// Same, with the description a server gave (empty: the system's text).
[[noreturn]] void throwHresult(HRESULT hr, const Text& description);

// The system's own text for a Win32 code or HRESULT, "" when it has none.
Text systemMessage(DWORD code);

} // namespace vk::win32
