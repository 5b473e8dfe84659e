// "MSXML2.XMLHTTP": the request object, over libcurl.
//
// Windows' request object answers every member through WinINet, so its
// failures carry WinINet's numbers, which the transfer gives
// (http_transfer.cpp says which for what); the program shows them to the
// user as they come, with the texts below.
//
// Misuse of the object itself:
//
//   "Open" with an empty address or one
//     whose scheme is not http or https  0x80072EE6    ERROR_INTERNET_UNRECOGNIZED_SCHEME
//   "Open" with a malformed http(s) one  0x800C0002    INET_E_INVALID_URL
//   "Send" without a fresh "Open"        0x8000FFFF    E_UNEXPECTED
//   response read before a completed
//     "Send"                             0x8000000A    E_PENDING (data not yet available)
//
// The request always runs synchronously: an asynchronous "Open" is performed
// the same way, and its results are there when "Send" returns.
#include "platform/posix/host/curl.h"
#include "platform/posix/objects/http_transfer.h"
#include "platform/posix/objects/members.h"
#include "platform/posix/objects/objects.h"

#include <string>
#include <vector>

namespace vk::posix {

namespace {

// The WinINet numbers and the others the object raises, with Windows' own
// Turkish texts.
constexpr err::Row kRows[] = {
    {hr::InternetNameNotResolved, u"Sunucu adı veya adresi çözümlenemedi"},
    {hr::InternetCannotConnect, u"Sunucuyla bağlantı kurulamadı"},
    {hr::InternetTimeout, u"İşlem zaman aşımına uğradı"},
    {hr::InternetSecCertCnInvalid, u"Sertifikadaki ana bilgisayar adı geçersiz veya eşleşmiyor"},
    {hr::InternetSecCertDateInvalid, u"Sertifikanın tarihi geçersiz veya süresi dolmuş"},
    {hr::InternetInvalidCa, u"Sertifika yetkilisi geçersiz veya yanlış"},
    {hr::InternetSecCertRevoked, u"Sertifika iptal edilmiş"},
    {hr::InternetSecCertErrors, u"Sunucu sertifikasında hatalar var"},
    {hr::InternetSecurityChannelError, u"Güvenli kanal desteğinde bir hata oluştu"},
    {hr::InternetConnectionAborted, u"Sunucuyla bağlantı olağan dışı sonlandırıldı"},
    {hr::InternetConnectionReset, u"Sunucuyla bağlantı sıfırlandı"},
    {hr::HttpInvalidServerResponse, u"Sunucu yanıtı geçersiz"},
    {hr::HttpRedirectFailed, u"Yeniden yönlendirme başarısız oldu"},
    {hr::InternetHttpsToHttpOnRedir,
     u"Güvenli bir bağlantıdan güvenli olmayan bir bağlantıya yönlendiriliyor"},
    {hr::OutOfMemory, u"Bu işlemi tamamlamak için yeterli bellek yok"},
    {hr::InetInvalidUrl, u"URL geçersiz"},
    {hr::InternetUnrecognizedScheme, u"URL tanınan bir protokol kullanmıyor"},
    {hr::Unexpected, u"Beklenmeyen hata"},
    {hr::Pending, u"Bu işlemi tamamlamak için gereken veriler henüz kullanılamıyor."},
    {hr::InetResourceNotFound, u"Sistem belirtilen kaynağı bulamıyor."},
};

[[noreturn]] void fail(std::int32_t number) {
  raiseFrom(kRows, number);
}

class XmlHttp final : public TableObject<XmlHttp> {
public:
  explicit XmlHttp(ObjectContext ctx) : machine_(ctx.machine), limits_(ctx.limits) {}

private:
  void open(const Args& args) {
    const std::string method = toUtf8(args[0].toText());
    const std::string url = toUtf8(args[1].toText());
    if (args.size() > 2 && !args[2].isEmpty()) (void)args[2].toBool(); // must be a flag
    if (method.empty() || method.find_first_of(" \t\r\n") != std::string::npos)
      throw RuntimeError(hr::InvalidArg, u"Parametre yanlış.");
    Target target;
    if (const std::int32_t why = parseTarget(url, target); why != 0) fail(why);
    method_ = asciiUpper(method);
    url_ = url;
    requestHeaders_.clear();
    resetResponse();
    readyState_ = 1;
  }

  void resetResponse() {
    sent_ = false;
    status_ = 0;
    statusText_.clear();
    body_ = std::make_shared<const Bytes>();
    responseHeaders_.clear();
  }

  void send(const Args& args) { sendPayload(args.empty() ? Variant() : args[0]); }

  void setRequestHeader(const Args& args) {
    if (readyState_ != 1 || sent_) fail(hr::Unexpected);
    requestHeaders_.push_back(toUtf8(args[0].toText()) + ": " + toUtf8(args[1].toText()));
  }

  std::int32_t readyState() const { return readyState_; }

  std::int32_t status() const {
    requireResponse();
    return status_;
  }

  const Text& statusText() const {
    requireResponse();
    return statusText_;
  }

  // Shared, not copied: it never changes once received.
  const SharedBytes& responseBody() const {
    requireResponse();
    return body_;
  }

  Text responseText() const {
    requireResponse();
    return fromUtf8(std::string_view(reinterpret_cast<const char*>(body_->data()), body_->size()));
  }

  Text getResponseHeader(const Args& args) const {
    requireResponse();
    return responseHeader(toUtf8(args[0].toText()));
  }

  void requireResponse() const {
    if (readyState_ != 4) fail(hr::Pending);
  }

  Text responseHeader(const std::string& name) const {
    for (const auto& h : responseHeaders_) {
      const auto colon = h.find(':');
      if (colon == std::string::npos || asciiLower(h.substr(0, colon)) != asciiLower(name))
        continue;
      std::size_t start = colon + 1;
      while (start < h.size() && (h[start] == ' ' || h[start] == '\t'))
        ++start;
      return fromUtf8(h.substr(start));
    }
    return Text();
  }

  void sendPayload(const Variant& payload) {
    if (readyState_ != 1 || sent_) fail(hr::Unexpected);
    setUpCurl();
    std::string requestBody;
    if (payload.isBytes())
      requestBody.assign(payload.toBytes().begin(), payload.toBytes().end());
    else if (!payload.isEmpty())
      requestBody = toUtf8(payload.toText());

    resetResponse();
    sent_ = true;
    HttpResponse response;
    try {
      response = transfer(machine_, limits_, {method_, url_, requestHeaders_, requestBody});
    } catch (const TransferFailed& f) {
      resetResponse(); // a failed request leaves the object opened, as before the attempt
      fail(f.number);
    } catch (...) {
      resetResponse();
      throw;
    }
    status_ = response.status;
    statusText_ = statusTextOf(response.statusLine);
    body_ = std::make_shared<const Bytes>(std::move(response.body));
    responseHeaders_ = std::move(response.headers);
    readyState_ = 4;
  }

  static Text statusTextOf(const std::string& statusLine) {
    // "HTTP/1.1 200 OK": the words after the code.
    const auto first = statusLine.find(' ');
    if (first == std::string::npos) return Text();
    const auto second = statusLine.find(' ', first + 1);
    if (second == std::string::npos) return Text();
    return fromUtf8(statusLine.substr(second + 1));
  }

public:
  static constexpr Member<XmlHttp> kMembers[] = {
      method<&XmlHttp::open>(u"Open", 2, 5),
      method<&XmlHttp::send>(u"Send", 0, 1),
      method<&XmlHttp::setRequestHeader>(u"setRequestHeader", 2, 2),
      readOnlyProperty<&XmlHttp::readyState>(u"readyState"),
      readOnlyProperty<&XmlHttp::status>(u"Status"),
      readOnlyProperty<&XmlHttp::statusText>(u"statusText"),
      readOnlyProperty<&XmlHttp::responseBody>(u"responseBody"),
      readOnlyProperty<&XmlHttp::responseText>(u"responseText"),
      method<&XmlHttp::getResponseHeader>(u"getResponseHeader", 1, 1),
  };

private:
  const Machine& machine_;
  Limits limits_;
  std::int32_t readyState_ = 0; // 0 new, 1 opened, 4 response complete
  bool sent_ = false;
  std::string method_;
  std::string url_;
  std::vector<std::string> requestHeaders_;
  std::int32_t status_ = 0;
  Text statusText_;
  SharedBytes body_ = std::make_shared<const Bytes>();
  std::vector<std::string> responseHeaders_;
};

} // namespace

ObjectRef makeXmlHttp(ObjectContext ctx) {
  return std::make_shared<XmlHttp>(ctx);
}

} // namespace vk::posix
