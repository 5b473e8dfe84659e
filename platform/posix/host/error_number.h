// How the host's failures become the run-time's errors.
#pragma once

#include "platform/errors.h"

#include <optional>

namespace vk::posix {

// The run-time's number for the errno of a failed file operation, as the
// Windows layer maps the Win32 code for the same failure (a folder where a
// file was meant is access denied there, a name taken is "file exists");
// nullopt for the rest, which each caller answers with its own number.
std::optional<err::Code> runtimeNumber(int error);

} // namespace vk::posix
