// The transfer keeps the Windows object's defaults: certificate
// and host-name checks always on, redirects followed, the system's proxy
// settings (here the usual proxy variables, which libcurl reads itself),
// 60 s to connect and a transfer abandoned once it has stayed slower than
// 1 KB/s for 30 s (the objects' Limits, which a test may shorten). A
// redirect from https to plain http is refused, as Windows refuses it.
//
// Host names go through the machine's own hosts file before the host's
// resolver, as Windows' resolver does, and connections to an address and
// port the machine forwards with a port proxy ("netsh interface portproxy",
// kept under HKLM\SYSTEM\CurrentControlSet\Services\PortProxy\v4tov4\tcp
// as "address/port" = "address/port") go where it says. The machine may
// trust extra certificate authorities (<machine>/ca-certificates.pem) besides
// the host's. The certificate is always checked against the address's host.
//
// How a failure of the transfer is reported:
//
//   libcurl result                       number        WinINet / URL moniker name
//   -----------------------------------  ------------  ------------------------------------
//   COULDNT_RESOLVE_HOST / _PROXY        0x80072EE7    ERROR_INTERNET_NAME_NOT_RESOLVED
//   COULDNT_CONNECT                      0x80072EFD    ERROR_INTERNET_CANNOT_CONNECT
//   OPERATION_TIMEDOUT, also a transfer
//     that stays too slow                0x80072EE2    ERROR_INTERNET_TIMEOUT
//   PEER_FAILED_VERIFICATION:
//     certificate for another host       0x80072F06    ERROR_INTERNET_SEC_CERT_CN_INVALID
//     expired or not yet valid           0x80072F05    ERROR_INTERNET_SEC_CERT_DATE_INVALID
//     unknown or untrusted authority     0x80072F0D    ERROR_INTERNET_INVALID_CA
//     revoked                            0x80072F8A    ERROR_INTERNET_SEC_CERT_REVOKED
//     anything else                      0x80072F17    ERROR_INTERNET_SEC_CERT_ERRORS
//   SSL_CONNECT_ERROR, other TLS errors  0x80072F7D    ERROR_INTERNET_SECURITY_CHANNEL_ERROR
//   PARTIAL_FILE (body cut short)        0x80072EFE    ERROR_INTERNET_CONNECTION_ABORTED
//   RECV_ERROR, SEND_ERROR               0x80072EFF    ERROR_INTERNET_CONNECTION_RESET
//   WEIRD_SERVER_REPLY, bad chunk,
//     BAD_CONTENT_ENCODING, HTTP2,
//     GOT_NOTHING, and a reply that ends
//     inside its status line or headers  0x80072F78    ERROR_HTTP_INVALID_SERVER_RESPONSE
//
// (Microsoft's knowledge base says as much of the request object: a server
// that takes the connection and closes it without delivering the response
// gives 12152, ERROR_HTTP_INVALID_SERVER_RESPONSE.)
//   too many redirects, redirect to a
//     scheme other than http(s)          0x80072F7C    ERROR_HTTP_REDIRECT_FAILED
//   redirect from https to http          0x80072F08    ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR
//   OUT_OF_MEMORY                        0x8007000E    E_OUTOFMEMORY
//   URL_MALFORMAT                        0x800C0002    INET_E_INVALID_URL
//   anything else                        0x800C0005    INET_E_RESOURCE_NOT_FOUND
//
#include "platform/posix/objects/http_transfer.h"

#include "platform/errors.h"
#include "platform/posix/host/certificates.h"
#include "platform/posix/host/curl.h"
#include "platform/posix/host/files.h"
#include "platform/posix/host/incoming_bytes.h"
#include "platform/posix/host/stop_signals.h"
#include "platform/posix/host/unique.h"
#include "platform/posix/machine/hosts_file.h"
#include "platform/posix/machine/port_proxy.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <openssl/x509_vfy.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <new>
#include <optional>
#include <string_view>

namespace vk::posix {

namespace {

[[noreturn]] void fail(std::int32_t number) {
  throw TransferFailed{number};
}

} // namespace

std::int32_t parseTarget(const std::string& url, Target& out) {
  if (url.empty()) return hr::InternetUnrecognizedScheme;
  const unique_curl_url u(curl_url());
  if (!u) return hr::OutOfMemory;
  const CURLUcode rc = curl_url_set(u.get(), CURLUPART_URL, url.c_str(), 0);
  if (rc == CURLUE_UNSUPPORTED_SCHEME || rc == CURLUE_BAD_SCHEME)
    return hr::InternetUnrecognizedScheme;
  if (rc == CURLUE_OUT_OF_MEMORY) return hr::OutOfMemory;
  if (rc != CURLUE_OK) {
    // A text without any "scheme:" is no address of a known protocol either.
    return url.find("://") == std::string::npos ? hr::InternetUnrecognizedScheme
                                                : hr::InetInvalidUrl;
  }
  unique_curl_string scheme, host, port;
  if (curl_url_get(u.get(), CURLUPART_SCHEME, scheme.put(), 0) != CURLUE_OK)
    return hr::InternetUnrecognizedScheme;
  if (asciiLower(scheme.get()) != "http" && asciiLower(scheme.get()) != "https")
    return hr::InternetUnrecognizedScheme;
  if (curl_url_get(u.get(), CURLUPART_HOST, host.put(), 0) != CURLUE_OK || !*host.get() ||
      curl_url_get(u.get(), CURLUPART_PORT, port.put(), CURLU_DEFAULT_PORT) != CURLUE_OK)
    return hr::InetInvalidUrl;
  out.scheme = asciiLower(scheme.get());
  out.host = asciiLower(host.get());
  out.port = std::strtol(port.get(), nullptr, 10);
  return 0;
}

namespace {

// The machine's hosts file; none when the machine has no drive C:.
std::vector<HostsEntry> readHostsFile(const Machine& machine) {
  const auto path = machine.hostsFile();
  if (!path) return {};
  return parseHostsFile(readMachineFile(*path, 64u << 20).value_or(std::string()));
}

bool isAddressLiteral(const std::string& host) {
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1;
}

unique_curl_slist append(unique_curl_slist list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (!grown) fail(hr::OutOfMemory);
  (void)list.release(); // now owned through grown
  return unique_curl_slist(grown);
}

// What the callbacks of one hop collect.
struct Received {
  IncomingBytes body;
  std::string statusLine; // of the last response seen
  std::vector<std::string> headers;
  bool sawLocation = false;   // among the headers of the response being read
  bool headersEnded = false;  // the response being read has all its headers
  bool lastHeadersIn = false; // a response that ends the request has its headers in
  std::size_t thisTurn = 0;   // body bytes taken in the current turn
  bool paused = false;        // the turn's share is taken: the rest waits for the next
  CURL* easy = nullptr;
};

// The most of a body one turn of the waits takes: whoever waits looks at
// what has come between turns (and may give it up) before more comes.
constexpr std::size_t kTurnShare = 1u << 20;

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& r = *static_cast<Received*>(user);
  const std::size_t n = size * count;
  if (r.thisTurn >= kTurnShare) {
    r.paused = true;
    return CURL_WRITEFUNC_PAUSE; // libcurl keeps the piece and gives it again
  }
  r.thisTurn += n;
  if (r.body.size() == 0) {
    curl_off_t length = -1;
    if (curl_easy_getinfo(r.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
        length > 0)
      r.body.expect(static_cast<std::size_t>(length));
  }
  // Returning less stops the transfer with CURLE_WRITE_ERROR.
  return r.body.append(data, n) ? n : 0;
}

bool isRedirect(long code) {
  return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& r = *static_cast<Received*>(user);
  const std::size_t n = size * count;
  std::string line(data, n);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
    line.pop_back();
  if (line.rfind("HTTP/", 0) == 0) {
    // A new response starts (after a 100 Continue or a redirect).
    r.statusLine = line;
    r.headers.clear();
    r.sawLocation = false;
    r.headersEnded = false;
  } else if (!line.empty()) {
    if (asciiLower(line.substr(0, line.find(':'))) == "location") r.sawLocation = true;
    r.headers.push_back(line);
  } else {
    // The end of a response's headers: the last response's, unless it is
    // an interim one or a redirect that is followed.
    r.headersEnded = true;
    long code = 0;
    curl_easy_getinfo(r.easy, CURLINFO_RESPONSE_CODE, &code);
    if (code >= 200 && !(isRedirect(code) && r.sawLocation)) r.lastHeadersIn = true;
  }
  return n;
}

std::int32_t certificateFailure(CURL* easy) {
  long verify = X509_V_OK;
  curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verify);
  switch (verify) {
  case X509_V_OK:
  case X509_V_ERR_UNSPECIFIED:
    // The chain was good and libcurl's own check refused the host name the
    // certificate carries (it marks the result "unspecified" when it does).
    return hr::InternetSecCertCnInvalid;
  case X509_V_ERR_HOSTNAME_MISMATCH:
  case X509_V_ERR_IP_ADDRESS_MISMATCH:
    return hr::InternetSecCertCnInvalid;
  case X509_V_ERR_CERT_HAS_EXPIRED:
  case X509_V_ERR_CERT_NOT_YET_VALID:
    return hr::InternetSecCertDateInvalid;
  case X509_V_ERR_CERT_REVOKED:
    return hr::InternetSecCertRevoked;
  case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
  case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
  case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
  case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
  case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
  case X509_V_ERR_CERT_UNTRUSTED:
  case X509_V_ERR_INVALID_CA:
    return hr::InternetInvalidCa;
  default:
    return hr::InternetSecCertErrors;
  }
}

std::int32_t transferFailure(CURLcode code, CURL* easy, const char* message) {
  switch (code) {
  case CURLE_COULDNT_RESOLVE_HOST:
  case CURLE_COULDNT_RESOLVE_PROXY:
    return hr::InternetNameNotResolved;
  case CURLE_COULDNT_CONNECT:
    return hr::InternetCannotConnect;
  case CURLE_OPERATION_TIMEDOUT:
    return hr::InternetTimeout;
  case CURLE_PEER_FAILED_VERIFICATION:
    return certificateFailure(easy);
  case CURLE_SSL_CACERT_BADFILE:
    // No authority could be read (a host without its certificate store):
    // as with a Windows root store that trusts nobody, the server's
    // certificate has no trusted issuer.
    return hr::InternetInvalidCa;
  case CURLE_SSL_CONNECT_ERROR:
  case CURLE_SSL_ENGINE_NOTFOUND:
  case CURLE_SSL_ENGINE_SETFAILED:
  case CURLE_SSL_CERTPROBLEM:
  case CURLE_SSL_CIPHER:
  case CURLE_SSL_SHUTDOWN_FAILED:
  case CURLE_SSL_CRL_BADFILE:
  case CURLE_SSL_ISSUER_ERROR:
  case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
  case CURLE_SSL_INVALIDCERTSTATUS:
  case CURLE_SSL_CLIENTCERT:
    return hr::InternetSecurityChannelError;
  case CURLE_PARTIAL_FILE:
    return hr::InternetConnectionAborted;
  case CURLE_RECV_ERROR:
    // libcurl reports a malformed chunked body as a receive error too; that
    // one is the server's fault, not the connection's.
    if (message && asciiLower(message).find("chunk") != std::string::npos)
      return hr::HttpInvalidServerResponse;
    return hr::InternetConnectionReset;
  case CURLE_SEND_ERROR:
    return hr::InternetConnectionReset;
  case CURLE_GOT_NOTHING:
  case CURLE_WEIRD_SERVER_REPLY:
  case CURLE_BAD_CONTENT_ENCODING:
  case CURLE_HTTP2:
  case CURLE_HTTP2_STREAM:
  case CURLE_HTTP3:
    return hr::HttpInvalidServerResponse;
  case CURLE_UNSUPPORTED_PROTOCOL:
    // A reply with no status line, which libcurl takes for HTTP/0.9, is no
    // HTTP at all, as Windows' object sees it.
    if (message && std::string_view(message).find("HTTP/0.9") != std::string_view::npos)
      return hr::HttpInvalidServerResponse;
    return hr::HttpRedirectFailed;
  case CURLE_TOO_MANY_REDIRECTS:
    return hr::HttpRedirectFailed;
  case CURLE_OUT_OF_MEMORY: {
    // Between the status line and the body: headers past libcurl's limit,
    // the server's fault rather than memory's.
    long status = 0;
    curl_off_t body = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &body);
    return status > 0 && body == 0 ? hr::HttpInvalidServerResponse : hr::OutOfMemory;
  }
  case CURLE_WRITE_ERROR:
    return hr::OutOfMemory;
  case CURLE_URL_MALFORMAT:
    return hr::InetInvalidUrl;
  default:
    return hr::InetResourceNotFound;
  }
}

// A longer chain of redirects is taken for a loop (WinHTTP stops at 10 too).
constexpr int kMaxRedirects = 10;

// A transfer slower than this many bytes a second for the window below is
// abandoned as timed out, so that a server that drips the body never holds
// the setup for ever.
constexpr long kLowSpeedBytes = 1024;

// What one hop of a request asks for; redirects change it.
struct Request {
  std::string method;
  std::string url;
  bool withBody = false;
};

// What every transfer of the object keeps: the Windows object's checks,
// limits and name, and the callbacks that collect the response.
void setTransferOptions(CURL* c, Received& received, char* message, const Limits& limits) {
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, message);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 60L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytes);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
  curl_easy_setopt(c, CURLOPT_BUFFERSIZE, 512L * 1024);
  curl_easy_setopt(c, CURLOPT_USERAGENT,
                   "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 10.0; Win64; x64)");
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &received);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &received);
  // A proxy's answer to CONNECT is no response of the request's.
  curl_easy_setopt(c, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  // Redirects are followed here rather than by libcurl, so that each new
  // host goes through the hosts file too.
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  // A stop signal ends the transfer within about a second, as it ends the
  // other waits, however slowly the server sends.
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(
      c, CURLOPT_XFERINFOFUNCTION, +[](void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return stopRequested() ? 1 : 0;
      });
}

// The machine's own authorities join the host's. The host's certificate
// folder (hashed, read only for the issuer a chain needs) stays in use
// and holds the same authorities as its bundle; the bundle itself is
// added only on hosts without that folder, since parsing it costs some
// 50 ms on every connection. Only the machine's well-formed certificates
// are given: libcurl refuses a whole bundle for one bad entry.
void addMachineAuthorities(const Machine& machine_, CURL* c, std::string& authorities) {
  std::string extra;
  for (const std::string& certificate : pemCertificates(
           readMachineFile(machine_.authoritiesFile(), 16u << 20).value_or(std::string())))
    extra += certificate;
  if (!extra.empty()) {
    char* folder = nullptr;
    struct stat st {};
    const bool hasFolder = curl_easy_getinfo(c, CURLINFO_CAPATH, &folder) == CURLE_OK && folder &&
                           ::stat(folder, &st) == 0 && S_ISDIR(st.st_mode);
    char* bundle = nullptr;
    if (!hasFolder && curl_easy_getinfo(c, CURLINFO_CAINFO, &bundle) == CURLE_OK && bundle)
      authorities = readHostFile(bundle).value_or(std::string());
    if (!authorities.empty() && authorities.back() != '\n') authorities += '\n';
    authorities += extra;
    curl_blob blob{authorities.data(), authorities.size(), CURL_BLOB_NOCOPY};
    curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, &blob);
  }
}

// Sends the hop's connection where the machine would send it: a name in
// its hosts file to the address listed there, and an address and port its
// port proxy forwards on to where they are forwarded.
void routeThroughMachine(const Machine& machine_, CURL* c, const std::string& url, int hop,
                         const std::vector<HostsEntry>& hosts,
                         std::vector<unique_curl_slist>& resolves) {
  Target target;
  if (const std::int32_t why = parseTarget(url, target); why != 0)
    fail(hop == 0 ? why : hr::HttpRedirectFailed);
  std::string address = isAddressLiteral(target.host) ? target.host : std::string();
  for (const auto& e : hosts) {
    if (e.name != target.host) continue;
    address = e.address;
    resolves.push_back(append({}, e.name + ":" + std::to_string(target.port) + ":" + e.address));
    curl_easy_setopt(c, CURLOPT_RESOLVE, resolves.back().get());
  }
  const std::string forward = portProxy(machine_, address, target.port);
  if (!forward.empty()) {
    resolves.push_back(append({}, target.host + ":" + std::to_string(target.port) + ":" + forward));
    curl_easy_setopt(c, CURLOPT_CONNECT_TO, resolves.back().get());
  } else {
    curl_easy_setopt(c, CURLOPT_CONNECT_TO, nullptr);
  }
}

void setRequest(CURL* c, const Request& request, const std::string& body) {
  curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(c, CURLOPT_NOBODY, request.method == "HEAD" ? 1L : 0L);
  if (request.method == "GET") {
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, nullptr);
  } else if (request.method != "HEAD") {
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }
  if (request.withBody) {
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
  }
}

// After a response that redirects, turns the request into the next hop's
// and says so; false for a response that is the last.
bool followRedirect(CURL* c, Request& request, int hop) {
  long code = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &code);
  char* location = nullptr;
  curl_easy_getinfo(c, CURLINFO_REDIRECT_URL, &location);
  const bool redirect =
      (code == 301 || code == 302 || code == 303 || code == 307 || code == 308) && location;
  if (!redirect) return false;
  if (hop == kMaxRedirects) fail(hr::HttpRedirectFailed);
  const std::string next = location;
  Target nextTarget;
  if (parseTarget(next, nextTarget) != 0) fail(hr::HttpRedirectFailed);
  // What came over TLS must not be exchanged for what anyone on the way
  // could change.
  Target target;
  if (parseTarget(request.url, target) == 0 && target.scheme == "https" &&
      nextTarget.scheme == "http")
    fail(hr::InternetHttpsToHttpOnRedir);
  // As browsers do: 303 always, and 301/302 after a POST, turn into GET.
  if ((code == 303 && request.method != "HEAD") ||
      ((code == 301 || code == 302) && request.method == "POST")) {
    request.method = "GET";
    request.withBody = false;
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(-1));
  }
  request.url = next;
  return true;
}

} // namespace

using Clock = std::chrono::steady_clock;

struct HttpTransfer::State {
  State(const Machine& m, HttpRequest r) : machine(m), ask(std::move(r)) {}
  const Machine& machine;
  HttpRequest ask;
  Request hop;
  unique_curl easy;
  unique_curl_multi multi;
  bool attached = false; // the easy handle is in the multi one
  int hops = 0;
  Received received;
  char message[CURL_ERROR_SIZE] = {};
  std::string authorities; // read in place by the transfer
  unique_curl_slist headers;
  std::vector<HostsEntry> hosts;
  std::vector<unique_curl_slist> resolves; // each must live until the transfer ends
  // What libcurl waits for on each of its sockets, and when it wants to be
  // called again whatever happens.
  std::map<curl_socket_t, int> sockets;
  std::optional<Clock::time_point> deadline;
};

namespace {

int onSocket(CURL*, curl_socket_t socket, int what, void* user, void*) {
  auto& sockets = static_cast<HttpTransfer::State*>(user)->sockets;
  if (what == CURL_POLL_REMOVE)
    sockets.erase(socket);
  else
    sockets[socket] = what;
  return 0;
}

int onTimer(CURLM*, long timeoutMs, void* user) {
  auto& s = *static_cast<HttpTransfer::State*>(user);
  if (timeoutMs < 0)
    s.deadline.reset();
  else
    s.deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  return 0;
}

} // namespace

HttpTransfer::HttpTransfer(const Machine& machine, const Limits& limits, HttpRequest request)
    : state_(std::make_unique<State>(machine, std::move(request))) {
  setUpCurl();
  State& s = *state_;
  s.easy.reset(curl_easy_init());
  s.multi.reset(curl_multi_init());
  if (!s.easy || !s.multi) fail(hr::OutOfMemory);
  CURL* c = s.easy.get();
  s.received.easy = c;
  setTransferOptions(c, s.received, s.message, limits);
  addMachineAuthorities(machine, c, s.authorities);
  for (const auto& h : s.ask.headers)
    s.headers = append(std::move(s.headers), h);
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, s.headers.get());
  curl_multi_setopt(s.multi.get(), CURLMOPT_SOCKETFUNCTION, onSocket);
  curl_multi_setopt(s.multi.get(), CURLMOPT_SOCKETDATA, &s);
  curl_multi_setopt(s.multi.get(), CURLMOPT_TIMERFUNCTION, onTimer);
  curl_multi_setopt(s.multi.get(), CURLMOPT_TIMERDATA, &s);
  s.hosts = readHostsFile(machine);
  // A GET or HEAD carries no body, whatever "Send" was given.
  s.hop = Request{s.ask.method, s.ask.url,
                  !s.ask.body.empty() && s.ask.method != "GET" && s.ask.method != "HEAD"};
  startHop();
}

HttpTransfer::~HttpTransfer() {
  if (state_->attached) curl_multi_remove_handle(state_->multi.get(), state_->easy.get());
}

void HttpTransfer::startHop() {
  State& s = *state_;
  routeThroughMachine(s.machine, s.easy.get(), s.hop.url, s.hops, s.hosts, s.resolves);
  setRequest(s.easy.get(), s.hop, s.ask.body);
  s.received.body.clear();
  s.received.headersEnded = false;
  s.received.lastHeadersIn = false;
  s.message[0] = '\0';
  if (curl_multi_add_handle(s.multi.get(), s.easy.get()) != CURLM_OK) fail(hr::OutOfMemory);
  s.attached = true;
}

void HttpTransfer::markFailed(std::int32_t number) {
  failure_ = number;
  stage_ = Stage::Failed;
}

// One hop is over: the request ends, or goes on to where it was redirected.
void HttpTransfer::hopEnded(int curlCode) {
  State& s = *state_;
  curl_multi_remove_handle(s.multi.get(), s.easy.get());
  s.attached = false;
  s.sockets.clear();
  endIfStopRequested(); // the body so far is dropped; nothing was written
  const auto rc = static_cast<CURLcode>(curlCode);
  // libcurl takes a reply that ends inside its headers for a whole one, or
  // for a body cut short; it is no answer, and nothing of it may be written.
  if ((rc == CURLE_OK || rc == CURLE_PARTIAL_FILE) && !s.received.headersEnded)
    return markFailed(hr::HttpInvalidServerResponse);
  if (rc != CURLE_OK) return markFailed(transferFailure(rc, s.easy.get(), s.message));
  try {
    if (followRedirect(s.easy.get(), s.hop, s.hops)) {
      ++s.hops;
      return startHop();
    }
  } catch (const TransferFailed& f) {
    return markFailed(f.number);
  }
  stage_ = Stage::Done;
}

std::int32_t HttpTransfer::status() const {
  long code = 0;
  curl_easy_getinfo(state_->easy.get(), CURLINFO_RESPONSE_CODE, &code);
  return static_cast<std::int32_t>(code);
}

const std::vector<std::string>& HttpTransfer::headers() const {
  return state_->received.headers;
}

Bytes HttpTransfer::bodySoFar() const {
  return state_->received.body.copy();
}

HttpResponse HttpTransfer::take() {
  HttpResponse out;
  out.status = status();
  out.statusLine = std::move(state_->received.statusLine);
  out.headers = std::move(state_->received.headers);
  try {
    out.body = state_->received.body.take();
  } catch (const std::bad_alloc&) {
    throw TransferFailed{hr::OutOfMemory};
  }
  return out;
}

void HttpTransfer::prepare(std::vector<pollfd>& waits, int& timeoutMs) {
  if (stage_ == Stage::Done || stage_ == Stage::Failed) return;
  // A paused transfer goes on at once in the next turn.
  if (state_->received.paused) timeoutMs = 0;
  for (const auto& [socket, what] : state_->sockets) {
    short events = 0;
    if (what & CURL_POLL_IN) events |= POLLIN;
    if (what & CURL_POLL_OUT) events |= POLLOUT;
    waits.push_back({socket, events, 0});
  }
  if (state_->deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*state_->deadline - Clock::now());
    timeoutMs = static_cast<int>(std::clamp<long long>(left.count(), 0, timeoutMs));
  }
}

void HttpTransfer::dispatch(std::span<const pollfd> ready) {
  if (stage_ == Stage::Done || stage_ == Stage::Failed) return;
  State& s = *state_;
  int running = 0;
  s.received.thisTurn = 0;
  if (std::exchange(s.received.paused, false)) curl_easy_pause(s.easy.get(), CURLPAUSE_CONT);
  for (const pollfd& p : ready) {
    if (!p.revents) continue;
    int mask = 0;
    if (p.revents & (POLLIN | POLLHUP)) mask |= CURL_CSELECT_IN;
    if (p.revents & POLLOUT) mask |= CURL_CSELECT_OUT;
    if (p.revents & (POLLERR | POLLNVAL)) mask |= CURL_CSELECT_ERR;
    curl_multi_socket_action(s.multi.get(), p.fd, mask, &running);
  }
  if (s.deadline && Clock::now() >= *s.deadline) {
    s.deadline.reset();
    curl_multi_socket_action(s.multi.get(), CURL_SOCKET_TIMEOUT, 0, &running);
  }
  int left = 0;
  while (const CURLMsg* m = curl_multi_info_read(s.multi.get(), &left)) {
    if (m->msg == CURLMSG_DONE && m->easy_handle == s.easy.get()) {
      hopEnded(m->data.result);
      break; // the handle was taken out: its other messages are gone with it
    }
  }
  if (stage_ == Stage::Sent && s.received.lastHeadersIn) stage_ = Stage::Receiving;
}

void HttpTransfer::finish() {
  std::vector<pollfd> waits;
  while (stage_ != Stage::Done && stage_ != Stage::Failed) {
    waits.clear();
    int timeoutMs = 1000;
    prepare(waits, timeoutMs);
    const std::size_t own = waits.size();
    if (stopDescriptor() >= 0) waits.push_back({stopDescriptor(), POLLIN, 0});
    if (::poll(waits.data(), waits.size(), timeoutMs) < 0)
      for (pollfd& w : waits)
        w.revents = 0;
    endIfStopRequested();
    dispatch(std::span<const pollfd>(waits).first(own));
  }
}

HttpResponse transfer(const Machine& machine, const Limits& limits, const HttpRequest& request) {
  HttpTransfer t(machine, limits, request);
  t.finish();
  if (t.stage() == HttpTransfer::Stage::Failed) fail(t.failure());
  return t.take();
}

} // namespace vk::posix
