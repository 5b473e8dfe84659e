#include "platform/posix/host/certificates.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <climits>

namespace vk::posix {

namespace {

bool wellFormed(std::string_view block) {
  if (block.size() > INT_MAX) return false;
  BIO* in = BIO_new_mem_buf(block.data(), static_cast<int>(block.size()));
  if (!in) return false;
  X509* certificate = PEM_read_bio_X509(in, nullptr, nullptr, nullptr);
  BIO_free(in);
  // A refusal leaves its reasons queued; later TLS calls of this thread
  // would take them for their own.
  ERR_clear_error();
  X509_free(certificate);
  return certificate != nullptr;
}

} // namespace

std::vector<std::string> pemCertificates(std::string_view text) {
  static constexpr std::string_view begin = "-----BEGIN CERTIFICATE-----";
  static constexpr std::string_view end = "-----END CERTIFICATE-----";
  std::vector<std::string> found;
  std::size_t at = 0;
  while ((at = text.find(begin, at)) != std::string_view::npos) {
    const std::size_t stop = text.find(end, at);
    if (stop == std::string_view::npos) break;
    // A block that lost its end line ends where the next one begins.
    const std::size_t next = text.find(begin, at + begin.size());
    if (next != std::string_view::npos && next < stop) {
      at = next;
      continue;
    }
    const std::string_view block = text.substr(at, stop + end.size() - at);
    if (wellFormed(block)) found.push_back(std::string(block) + "\n");
    at = stop + end.size();
  }
  return found;
}

} // namespace vk::posix
