// The network library: its process-wide setup and its resources' owners.
#pragma once

#include "platform/unique_any.h"

#include <curl/curl.h>

namespace vk::posix {

using unique_curl = unique_any<CURL*, curl_easy_cleanup>;
using unique_curl_multi = unique_any<CURLM*, curl_multi_cleanup>;
using unique_curl_slist = unique_any<curl_slist*, curl_slist_free_all>;
using unique_curl_url = unique_any<CURLU*, curl_url_cleanup>;
using unique_curl_string = unique_any<char*, curl_free>; // what libcurl allocated for us

// Sets libcurl up for this process, once, however many objects and threads
// ask; every transfer of the host's objects starts after it.
void setUpCurl();

} // namespace vk::posix
