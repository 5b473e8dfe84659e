// One exchange of Windows' request object on the simulated machine, over
// libcurl: the machine's hosts file, port proxy and authorities, the
// object's limits, its redirects, and the WinINet number of each failure
// (their texts are the object's).
#pragma once

#include "platform/automation.h"
#include "platform/posix/objects/objects.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vk::posix {

// The parts of an address the transfer needs.
struct Target {
  std::string scheme;
  std::string host;
  long port = 0;
};

// Parses an absolute http(s) address; the number tells why it is refused.
std::int32_t parseTarget(const std::string& url, Target& out);

struct HttpRequest {
  std::string method; // upper case
  std::string url;
  std::vector<std::string> headers; // "Name: value"
  std::string body;
};

struct HttpResponse {
  std::int32_t status = 0;
  std::string statusLine;           // of the last response
  std::vector<std::string> headers; // "Name: value"
  Bytes body;
};

// A failed transfer's WinINet number.
struct TransferFailed {
  std::int32_t number;
};

// Performs the request to its last response; a stop signal ends the
// program, any other failure throws TransferFailed.
HttpResponse transfer(const Machine& machine, const Limits& limits, const HttpRequest& request);

} // namespace vk::posix
