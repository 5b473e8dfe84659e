// Ownership of the host's resources: one alias per kind over the template
// both platforms share.
#pragma once

#include "platform/unique_any.h"

#include <archive.h>
#include <curl/curl.h>
#include <dirent.h>
#include <iconv.h>
#include <locale.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace vk::posix {

using unique_fd = unique_any<int, ::close, -1>;
using unique_dir = unique_any<DIR*, ::closedir>;
using unique_curl = unique_any<CURL*, curl_easy_cleanup>;
using unique_curl_multi = unique_any<CURLM*, curl_multi_cleanup>;
using unique_curl_slist = unique_any<curl_slist*, curl_slist_free_all>;
using unique_curl_url = unique_any<CURLU*, curl_url_cleanup>;
using unique_curl_string = unique_any<char*, curl_free>;        // what libcurl allocated for us
using unique_archive = unique_any<archive*, archive_read_free>; // a reader
using unique_locale = unique_any<locale_t, ::freelocale>;
using unique_iconv = unique_any<iconv_t, ::iconv_close, std::intptr_t{-1}>;
using unique_malloc_chars = unique_any<char*, std::free>; // what the C library allocated

// Closes now and says whether closing succeeded (false with errno set): on
// some file systems a write that did not land shows only here. An empty one
// closes fine.
inline bool closeNow(unique_fd& fd) noexcept {
  return !fd || ::close(fd.release()) == 0;
}

} // namespace vk::posix
