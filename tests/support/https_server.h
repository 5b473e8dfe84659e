// A small HTTP(S) server on 127.0.0.1 for tests, with a certificate
// authority made in the test. It serves scripted answers, including the
// faulty ones a real server can give (a body cut short, a broken chunked
// body), and stops when it is destroyed.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vk::test {

// A certificate and its private key, both PEM.
struct Credentials {
  std::string certificatePem;
  std::string keyPem;
};

// A certificate authority that lives only as long as the test.
class TestCa {
public:
  explicit TestCa(const std::string& commonName = "VorlanKur Test CA");
  ~TestCa();
  TestCa(const TestCa&) = delete;
  TestCa& operator=(const TestCa&) = delete;

  const std::string& pem() const { return pem_; }

  // A server certificate for the given host names (the first is also the
  // subject's common name) and, when withLoopback, the address 127.0.0.1.
  // expired: its validity ended yesterday.
  Credentials issue(const std::vector<std::string>& hostNames, bool withLoopback = true,
                    bool expired = false) const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string pem_;
};

struct ReceivedRequest {
  std::string method;
  std::string target;                         // path and query as sent
  std::string host;                           // the Host header
  std::map<std::string, std::string> headers; // names in lower case
  std::string body;
};

class HttpsServer {
public:
  // TLS with the given certificate; without one, plain HTTP.
  explicit HttpsServer(const Credentials& credentials);
  HttpsServer();
  // TLS on a chosen IPv4 address and port (0: any free one); a port below
  // 1024 needs the right to bind it. Throws when the address is taken.
  HttpsServer(const Credentials& credentials, const std::string& address, int port);
  ~HttpsServer();
  HttpsServer(const HttpsServer&) = delete;
  HttpsServer& operator=(const HttpsServer&) = delete;

  int port() const { return port_; }
  bool tls() const { return tls_; }
  // "https://host:port" + path (http for a plain server).
  std::string url(const std::string& host, const std::string& path) const;

  // Answers for a path (the target without its query); anything else gets 404.
  void serve(const std::string& path, int status, std::string body,
             std::vector<std::string> headers = {});
  void serveChunked(const std::string& path, std::string body, std::size_t chunkSize = 1000);
  void redirect(const std::string& path, const std::string& location, int status = 302);
  // Announces declaredLength bytes, sends body (shorter) and closes.
  void cutShort(const std::string& path, std::string body, std::size_t declaredLength);
  // A chunked body with a size line that is not hexadecimal after a good chunk.
  void badChunkSize(const std::string& path, std::string firstChunk);
  // A chunked body that stops after a good chunk, without the last chunk.
  void unfinishedChunked(const std::string& path, std::string firstChunk);
  // Announces the whole body and sends it a few bytes a second, `piece`
  // bytes at a time (until the client hangs up or the server stops).
  void drip(const std::string& path, std::string body, std::size_t bytesPerSecond,
            std::size_t piece = 1);
  // Sends the bytes as they are, no status line or headers, and closes.
  void raw(const std::string& path, std::string bytes);

  std::vector<ReceivedRequest> requests() const;

private:
  struct Route {
    enum class Kind { Normal, Chunked, CutShort, BadChunkSize, UnfinishedChunked, Drip, Raw } kind;
    int status = 200;
    std::string body;
    std::vector<std::string> headers;
    std::size_t number = 0; // declared length, chunk size or bytes a second
    std::size_t piece = 1;  // bytes sent at once, dripping
  };
  struct Connection;

  void load(const Credentials& credentials);
  void start(const std::string& address = "127.0.0.1", int port = 0);
  void loop();
  void handle(int fd);
  void respond(Connection& c, const ReceivedRequest& request);
  void setRoute(const std::string& path, Route route);

  bool tls_ = false;
  void* ctx_ = nullptr; // SSL_CTX
  int listenFd_ = -1;
  int wakeRead_ = -1, wakeWrite_ = -1;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::map<std::string, Route> routes_;
  std::vector<ReceivedRequest> requests_;
};

// A port on 127.0.0.1 on which nothing listens (it was free a moment ago).
int unusedPort();

} // namespace vk::test
