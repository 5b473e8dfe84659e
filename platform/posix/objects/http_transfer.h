// One exchange of Windows' request object on the simulated machine, over
// libcurl: the machine's hosts file, port proxy and authorities, the
// object's limits, its redirects, and the WinINet number of each failure
// (their texts are the object's).
#pragma once

#include "platform/automation.h"
#include "platform/posix/host/event_loop.h"
#include "platform/posix/objects/objects.h"

#include <cstdint>
#include <memory>
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

// A request on its way, moved on in steps through libcurl's multi
// interface: by the turns of the window's waits it is an event source of,
// or by a wait of its own. Redirects are followed hop by hop, each hop's
// host through the machine's hosts file. A stop signal ends the program
// (ProgramEnd) from whichever wait it meets.
class HttpTransfer final : public EventSource {
public:
  enum class Stage {
    Sent,      // nothing of the last response yet
    Receiving, // the last response's status and headers are in
    Done,      // the whole response is in
    Failed,    // failure() says why
  };

  // Starts the request; a failure at once throws TransferFailed.
  HttpTransfer(const Machine& machine, const Limits& limits, HttpRequest request);
  ~HttpTransfer() override;
  HttpTransfer(const HttpTransfer&) = delete;
  HttpTransfer& operator=(const HttpTransfer&) = delete;

  Stage stage() const { return stage_; }
  // The last response's status and headers, from Receiving on, and as
  // much of its body as has come.
  std::int32_t status() const;
  const std::vector<std::string>& headers() const;
  Bytes bodySoFar() const;
  // The response, once Done; the transfer keeps none of it.
  HttpResponse take();
  std::int32_t failure() const { return failure_; }

  // Waits on this transfer alone until it is Done or Failed.
  void finish();

  void prepare(std::vector<pollfd>& waits, int& timeoutMs) override;
  void dispatch(std::span<const pollfd> ready) override;

  struct State; // what libcurl's callbacks fill in

private:
  void startHop();
  void hopEnded(int curlCode);
  void markFailed(std::int32_t number);

  std::unique_ptr<State> state_;
  Stage stage_ = Stage::Sent;
  std::int32_t failure_ = 0;
};

// Performs the request to its last response at once, as a synchronous Send
// does; any failure throws TransferFailed.
HttpResponse transfer(const Machine& machine, const Limits& limits, const HttpRequest& request);

} // namespace vk::posix
