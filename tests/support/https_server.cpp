#include "support/https_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace vk::test {

namespace {

[[noreturn]] void sslFailure(const char* what) {
  char buf[256] = {};
  ERR_error_string_n(ERR_get_error(), buf, sizeof buf);
  throw std::runtime_error(std::string(what) + ": " + buf);
}

struct KeyDeleter {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertDeleter {
  void operator()(X509* c) const { X509_free(c); }
};
struct BioDeleter {
  void operator()(BIO* b) const { BIO_free(b); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using CertPtr = std::unique_ptr<X509, CertDeleter>;
using BioPtr = std::unique_ptr<BIO, BioDeleter>;

KeyPtr newKey() {
  KeyPtr key(EVP_EC_gen("P-256"));
  if (!key) sslFailure("EVP_EC_gen");
  return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
  if (!ext) sslFailure("X509V3_EXT_conf_nid");
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

CertPtr newCertificate(EVP_PKEY* key, const std::string& commonName, long fromSeconds,
                       long toSeconds) {
  CertPtr cert(X509_new());
  if (!cert) sslFailure("X509_new");
  X509_set_version(cert.get(), 2);
  unsigned char serial[16];
  RAND_bytes(serial, sizeof serial);
  serial[0] &= 0x7f;
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
  BN_free(bn);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), fromSeconds);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), toSeconds);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  return cert;
}

std::string certificatePem(X509* cert) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  PEM_write_bio_X509(bio.get(), cert);
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(n));
}

std::string keyPem(EVP_PKEY* key) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(n));
}

constexpr long kDay = 24 * 3600;

const char* reason(int status) {
  switch (status) {
  case 200:
    return "OK";
  case 301:
    return "Moved Permanently";
  case 302:
    return "Found";
  case 303:
    return "See Other";
  case 307:
    return "Temporary Redirect";
  case 308:
    return "Permanent Redirect";
  case 404:
    return "Not Found";
  case 500:
    return "Internal Server Error";
  default:
    return "Status";
  }
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

} // namespace

struct TestCa::Impl {
  KeyPtr key;
  CertPtr cert;
};

TestCa::TestCa(const std::string& commonName) : impl_(std::make_unique<Impl>()) {
  impl_->key = newKey();
  impl_->cert = newCertificate(impl_->key.get(), commonName, -kDay, 30 * kDay);
  X509* c = impl_->cert.get();
  X509_set_issuer_name(c, X509_get_subject_name(c));
  addExtension(c, c, NID_basic_constraints, "critical,CA:TRUE");
  addExtension(c, c, NID_key_usage, "critical,keyCertSign,cRLSign");
  addExtension(c, c, NID_subject_key_identifier, "hash");
  addExtension(c, c, NID_authority_key_identifier, "keyid:always");
  if (!X509_sign(c, impl_->key.get(), EVP_sha256())) sslFailure("X509_sign");
  pem_ = certificatePem(c);
}

TestCa::~TestCa() = default;

Credentials TestCa::issue(const std::vector<std::string>& hostNames, bool withLoopback,
                          bool expired) const {
  if (hostNames.empty()) throw std::invalid_argument("a certificate needs a host name");
  KeyPtr key = newKey();
  CertPtr cert = expired ? newCertificate(key.get(), hostNames[0], -10 * kDay, -kDay)
                         : newCertificate(key.get(), hostNames[0], -kDay, 10 * kDay);
  X509* c = cert.get();
  X509_set_issuer_name(c, X509_get_subject_name(impl_->cert.get()));
  std::string san;
  for (const auto& h : hostNames)
    san += (san.empty() ? "DNS:" : ",DNS:") + h;
  if (withLoopback) san += ",IP:127.0.0.1";
  addExtension(c, impl_->cert.get(), NID_basic_constraints, "critical,CA:FALSE");
  addExtension(c, impl_->cert.get(), NID_key_usage, "critical,digitalSignature");
  addExtension(c, impl_->cert.get(), NID_ext_key_usage, "serverAuth");
  addExtension(c, impl_->cert.get(), NID_subject_alt_name, san);
  addExtension(c, impl_->cert.get(), NID_subject_key_identifier, "hash");
  addExtension(c, impl_->cert.get(), NID_authority_key_identifier, "keyid:always");
  if (!X509_sign(c, impl_->key.get(), EVP_sha256())) sslFailure("X509_sign");
  return {certificatePem(c), keyPem(key.get())};
}

// One accepted connection, with or without TLS.
struct HttpsServer::Connection {
  int fd = -1;
  SSL* ssl = nullptr;

  ~Connection() {
    if (ssl) SSL_free(ssl);
    if (fd >= 0) ::close(fd);
  }

  long read(char* buf, std::size_t size) {
    if (ssl) {
      const int n = SSL_read(ssl, buf, static_cast<int>(size));
      return n > 0 ? n : -1;
    }
    for (;;) {
      const ssize_t n = ::recv(fd, buf, size, 0);
      if (n < 0 && errno == EINTR) continue;
      return n > 0 ? n : -1;
    }
  }

  bool write(const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
      if (ssl) {
        const int n =
            SSL_write(ssl, data.data() + done,
                      static_cast<int>(std::min<std::size_t>(data.size() - done, 1 << 30)));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
      } else {
        const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
      }
    }
    return true;
  }

  // Ends the connection the orderly way (TLS close_notify, then FIN).
  void finish() {
    if (ssl) SSL_shutdown(ssl);
    ::shutdown(fd, SHUT_WR);
    // Let the client read everything before the socket goes away.
    char buf[256];
    for (int i = 0; i < 100 && ::recv(fd, buf, sizeof buf, 0) > 0; ++i) {
    }
  }
};

HttpsServer::HttpsServer(const Credentials& credentials) : tls_(true) {
  load(credentials);
  start();
}

HttpsServer::HttpsServer(const Credentials& credentials, const std::string& address, int port)
    : tls_(true) {
  load(credentials);
  start(address, port);
}

void HttpsServer::load(const Credentials& credentials) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (!ctx) sslFailure("SSL_CTX_new");
  ctx_ = ctx;
  BioPtr certBio(BIO_new_mem_buf(credentials.certificatePem.data(),
                                 static_cast<int>(credentials.certificatePem.size())));
  CertPtr cert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
  BioPtr keyBio(
      BIO_new_mem_buf(credentials.keyPem.data(), static_cast<int>(credentials.keyPem.size())));
  KeyPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
  if (!cert || !key || SSL_CTX_use_certificate(ctx, cert.get()) != 1 ||
      SSL_CTX_use_PrivateKey(ctx, key.get()) != 1) {
    SSL_CTX_free(ctx);
    ctx_ = nullptr;
    sslFailure("loading the server certificate");
  }
}

HttpsServer::HttpsServer() {
  start();
}

void HttpsServer::start(const std::string& address, int port) {
  // A constructor that throws gets no destructor: give back what was taken.
  auto abandon = [this](const std::string& why) {
    for (int* fd : {&listenFd_, &wakeRead_, &wakeWrite_}) {
      if (*fd >= 0) ::close(*fd);
      *fd = -1;
    }
    if (ctx_) SSL_CTX_free(static_cast<SSL_CTX*>(ctx_));
    ctx_ = nullptr;
    throw std::runtime_error(why);
  };
  // A client that hangs up early must not end the test process.
  std::signal(SIGPIPE, SIG_IGN);
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) abandon("socket failed");
  // A fixed address and port are used again by the next test at once.
  const int yes = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1 ||
      ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 16) != 0) {
    abandon("cannot listen on " + address + ":" + std::to_string(port) + ": " +
            std::strerror(errno));
  }
  socklen_t len = sizeof addr;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC) != 0) abandon("pipe failed");
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  thread_ = std::thread([this] { loop(); });
}

HttpsServer::~HttpsServer() {
  if (wakeWrite_ >= 0) {
    const char stop = 's';
    (void)!::write(wakeWrite_, &stop, 1);
  }
  if (thread_.joinable()) thread_.join();
  for (int fd : {listenFd_, wakeRead_, wakeWrite_})
    if (fd >= 0) ::close(fd);
  if (ctx_) SSL_CTX_free(static_cast<SSL_CTX*>(ctx_));
}

std::string HttpsServer::url(const std::string& host, const std::string& path) const {
  return std::string(tls_ ? "https://" : "http://") + host + ":" + std::to_string(port_) + path;
}

void HttpsServer::setRoute(const std::string& path, Route route) {
  std::lock_guard lock(mutex_);
  routes_[path] = std::move(route);
}

void HttpsServer::serve(const std::string& path, int status, std::string body,
                        std::vector<std::string> headers) {
  setRoute(path, {Route::Kind::Normal, status, std::move(body), std::move(headers), 0});
}

void HttpsServer::serveChunked(const std::string& path, std::string body, std::size_t chunkSize) {
  setRoute(path, {Route::Kind::Chunked, 200, std::move(body), {}, chunkSize ? chunkSize : 1});
}

void HttpsServer::redirect(const std::string& path, const std::string& location, int status) {
  setRoute(path, {Route::Kind::Normal, status, "moved", {"Location: " + location}, 0});
}

void HttpsServer::cutShort(const std::string& path, std::string body, std::size_t declaredLength) {
  setRoute(path, {Route::Kind::CutShort, 200, std::move(body), {}, declaredLength});
}

void HttpsServer::badChunkSize(const std::string& path, std::string firstChunk) {
  setRoute(path, {Route::Kind::BadChunkSize, 200, std::move(firstChunk), {}, 0});
}

void HttpsServer::unfinishedChunked(const std::string& path, std::string firstChunk) {
  setRoute(path, {Route::Kind::UnfinishedChunked, 200, std::move(firstChunk), {}, 0});
}

void HttpsServer::drip(const std::string& path, std::string body, std::size_t bytesPerSecond,
                       std::size_t piece) {
  Route route{Route::Kind::Drip, 200, std::move(body), {}, bytesPerSecond ? bytesPerSecond : 1};
  route.piece = piece ? piece : 1;
  setRoute(path, std::move(route));
}

void HttpsServer::raw(const std::string& path, std::string bytes) {
  setRoute(path, {Route::Kind::Raw, 200, std::move(bytes), {}, 0});
}

std::vector<ReceivedRequest> HttpsServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void HttpsServer::loop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (fds[0].revents & POLLIN) {
      const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) handle(fd);
    }
  }
}

void HttpsServer::handle(int fd) {
  Connection c;
  c.fd = fd;
  // A client that stalls cannot hold the server (and the test's end) for long.
  timeval timeout{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  if (tls_) {
    c.ssl = SSL_new(static_cast<SSL_CTX*>(ctx_));
    SSL_set_fd(c.ssl, fd);
    if (SSL_accept(c.ssl) != 1) {
      ERR_clear_error();
      return; // the client refused our certificate, or hung up
    }
  }

  std::string data;
  char buf[16384];
  std::size_t headerEnd;
  while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
    const long n = c.read(buf, sizeof buf);
    if (n <= 0 || data.size() > 1 << 20) return;
    data.append(buf, static_cast<std::size_t>(n));
  }
  ReceivedRequest request;
  std::istringstream head(data.substr(0, headerEnd));
  std::string line;
  std::getline(head, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::istringstream requestLine(line);
  requestLine >> request.method >> request.target;
  while (std::getline(head, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ')
      value.erase(0, 1);
    request.headers[lower(line.substr(0, colon))] = value;
  }
  request.host = request.headers["host"];
  request.body = data.substr(headerEnd + 4);
  if (const auto it = request.headers.find("content-length"); it != request.headers.end()) {
    const std::size_t want = std::stoul(it->second);
    while (request.body.size() < want) {
      const long n = c.read(buf, sizeof buf);
      if (n <= 0) return;
      request.body.append(buf, static_cast<std::size_t>(n));
    }
  }
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  respond(c, request);
}

void HttpsServer::respond(Connection& c, const ReceivedRequest& request) {
  Route route{Route::Kind::Normal, 404, "not here", {}, 0};
  {
    std::lock_guard lock(mutex_);
    const std::string path = request.target.substr(0, request.target.find('?'));
    if (const auto it = routes_.find(path); it != routes_.end()) route = it->second;
  }
  std::string head = "HTTP/1.1 " + std::to_string(route.status) + " " + reason(route.status) +
                     "\r\nConnection: close\r\n";
  for (const auto& h : route.headers)
    head += h + "\r\n";
  const bool headOnly = request.method == "HEAD";

  switch (route.kind) {
  case Route::Kind::Raw:
    if (!c.write(route.body)) return;
    break;
  case Route::Kind::Normal:
    head += "Content-Length: " + std::to_string(route.body.size()) + "\r\n\r\n";
    if (!c.write(head) || (!headOnly && !c.write(route.body))) return;
    break;
  case Route::Kind::CutShort:
    head += "Content-Length: " + std::to_string(route.number) + "\r\n\r\n";
    if (!c.write(head) || !c.write(route.body)) return;
    break;
  case Route::Kind::Chunked: {
    head += "Transfer-Encoding: chunked\r\n\r\n";
    if (!c.write(head)) return;
    for (std::size_t at = 0; at < route.body.size(); at += route.number) {
      const std::string part = route.body.substr(at, route.number);
      std::ostringstream size;
      size << std::hex << part.size();
      if (!c.write(size.str() + "\r\n" + part + "\r\n")) return;
    }
    if (!c.write("0\r\n\r\n")) return;
    break;
  }
  case Route::Kind::BadChunkSize:
  case Route::Kind::UnfinishedChunked: {
    head += "Transfer-Encoding: chunked\r\n\r\n";
    std::ostringstream size;
    size << std::hex << route.body.size();
    std::string body = size.str() + "\r\n" + route.body + "\r\n";
    if (route.kind == Route::Kind::BadChunkSize) body += "zz\r\nmore\r\n0\r\n\r\n";
    if (!c.write(head) || !c.write(body)) return;
    break;
  }
  case Route::Kind::Drip: {
    head += "Content-Length: " + std::to_string(route.body.size()) + "\r\n\r\n";
    if (!c.write(head)) return;
    const int pause = static_cast<int>(1000 * route.piece / route.number);
    for (std::size_t at = 0; at < route.body.size(); at += route.piece) {
      // The wait ends early when the server is stopped.
      pollfd wake{wakeRead_, POLLIN, 0};
      if (::poll(&wake, 1, pause) != 0 || !c.write(route.body.substr(at, route.piece))) return;
    }
    break;
  }
  }
  c.finish();
}

int unusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd); // nothing listens there now
  return ntohs(addr.sin_port);
}

} // namespace vk::test
