// Ownership of the C library's resources: one alias per kind over the
// template both platforms share. A library's own aliases come with its
// header (host/curl.h, host/zip_reader.h).
#pragma once

#include "platform/unique_any.h"

#include <dirent.h>
#include <locale.h>
#include <unistd.h>

#include <cstdlib>

namespace vk::posix {

using unique_fd = unique_any<int, ::close, -1>;
using unique_dir = unique_any<DIR*, ::closedir>;
using unique_locale = unique_any<locale_t, ::freelocale>;
using unique_malloc_chars = unique_any<char*, std::free>; // what the C library allocated

// Closes now and says whether closing succeeded (false with errno set): on
// some file systems a write that did not land shows only here. An empty one
// closes fine.
inline bool closeNow(unique_fd& fd) noexcept {
  return !fd || ::close(fd.release()) == 0;
}

} // namespace vk::posix
