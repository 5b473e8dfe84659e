// How the host's failures become Windows' numbers: one table from errno to
// the Win32 code Windows reports for the same failure, and from there to
// the run-time's number or an object's HRESULT.
#pragma once

#include "platform/errors.h"

#include <cstdint>
#include <optional>

namespace vk::posix {

// The Win32 code for the errno of a failed file operation; nullopt for an
// errno Windows has no like failure for.
std::optional<std::uint32_t> win32Code(int error);

// The run-time's number for it, as the Windows layer maps the Win32 code
// (a folder where a file was meant is access denied there, a name taken is
// "file exists"); nullopt for the rest, which each caller answers with its
// own number.
std::optional<err::Code> runtimeNumber(int error);

// The HRESULT an object reports for it (HRESULT_FROM_WIN32); fallback for
// the rest.
std::int32_t hresultOf(int error, std::int32_t fallback = hr::Fail);

} // namespace vk::posix
