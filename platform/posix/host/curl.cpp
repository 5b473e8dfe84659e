#include "platform/posix/host/curl.h"

#include <curl/curl.h>

namespace vk::posix {

void setUpCurl() {
  // A function-local static is made once and safely across threads.
  static const CURLcode done = curl_global_init(CURL_GLOBAL_DEFAULT);
  (void)done;
}

} // namespace vk::posix
