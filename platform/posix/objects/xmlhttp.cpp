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
//   "Send" without a fresh "Open"        0x80004005    E_FAIL
//   "Status" or "statusText" before the
//     response is complete, a response
//     header before its headers are in   0x80004005    E_FAIL
//   "responseBody" or "responseText"
//     before the response has begun     0x8000000A    E_PENDING (data not yet available)
//
// Opened synchronously, "Send" returns with the whole response or fails.
// Opened asynchronously ("Open" with True), "Send" returns at once and the
// request goes on in the turns of the run-time's DoEvents; "readyState"
// says how far it is: 1 opened, 2 sent, 3 the response's status and
// headers in, 4 complete. From 3 on, "responseBody" and "responseText" give
// what has come so far, as MSXML's reference describes the state (its
// desktop pages and Wine raise E_PENDING there instead; the program copes
// with either). A request that fails that way completes too, as
// Windows' object does: "Status" then gives WinINet's own number (12029
// for ERROR_INTERNET_CANNOT_CONNECT), or, for a failure WinINet has no
// number for, raises the failure's number.
#include "platform/posix/host/curl.h"
#include "platform/posix/host/event_loop.h"
#include "platform/posix/objects/http_transfer.h"
#include "platform/posix/objects/members.h"
#include "platform/posix/objects/objects.h"

#include <memory>
#include <optional>
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
    {hr::Fail, u"Belirtilmemiş hata"},
    {hr::Pending, u"Bu işlemi tamamlamak için gereken veriler henüz kullanılamıyor."},
    {hr::InetResourceNotFound, u"Sistem belirtilen kaynağı bulamıyor."},
};

[[noreturn]] void fail(std::int32_t number) {
  raiseFrom(kRows, number);
}

class XmlHttp final : public TableObject<XmlHttp> {
public:
  explicit XmlHttp(ObjectContext ctx)
      : machine_(ctx.machine), events_(ctx.events), limits_(ctx.limits) {}

private:
  void open(const Args& args) {
    const std::string method = toUtf8(args[0].toText());
    const std::string url = toUtf8(args[1].toText());
    const bool async = args.size() > 2 && !args[2].isEmpty() && args[2].toBool();
    if (method.empty() || method.find_first_of(" \t\r\n") != std::string::npos)
      throw RuntimeError(hr::InvalidArg, u"Parametre yanlış.");
    Target target;
    if (const std::int32_t why = parseTarget(url, target); why != 0) fail(why);
    method_ = asciiUpper(method);
    url_ = url;
    async_ = async;
    requestHeaders_.clear();
    resetResponse();
    readyState_ = 1;
  }

  // Drops the response, and a request still on its way.
  void resetResponse() {
    waiting_.reset();
    inFlight_.reset();
    sent_ = false;
    status_ = 0;
    failure_ = 0;
    statusText_.clear();
    body_ = std::make_shared<const Bytes>();
    responseHeaders_.clear();
  }

  void send(const Args& args) { sendPayload(args.empty() ? Variant() : args[0]); }

  void setRequestHeader(const Args& args) {
    if (readyState_ != 1 || sent_) fail(hr::Fail);
    requestHeaders_.push_back(toUtf8(args[0].toText()) + ": " + toUtf8(args[1].toText()));
  }

  std::int32_t readyState() {
    update();
    return readyState_;
  }

  std::int32_t status() {
    requireStatus();
    return status_;
  }

  const Text& statusText() {
    requireStatus();
    return statusText_;
  }

  // Shared, not copied, once complete: it never changes then.
  SharedBytes responseBody() {
    requireBody();
    if (inFlight_) return std::make_shared<const Bytes>(inFlight_->bodySoFar());
    return body_;
  }

  Text responseText() {
    const SharedBytes body = responseBody();
    return fromUtf8(std::string_view(reinterpret_cast<const char*>(body->data()), body->size()));
  }

  Text getResponseHeader(const Args& args) {
    update();
    if (readyState_ < 3) fail(hr::Fail);
    return responseHeader(inFlight_ ? inFlight_->headers() : responseHeaders_,
                          toUtf8(args[0].toText()));
  }

  // A failed asynchronous request answers with WinINet's own number as its
  // status; a failure without one is raised.
  void requireStatus() {
    update();
    if (readyState_ != 4) fail(hr::Fail);
    if (failure_ != 0 && !hr::isInternetError(failure_)) fail(failure_);
  }

  void requireBody() {
    update();
    if (readyState_ < 3) fail(hr::Pending);
  }

  // How far an asynchronous request has come in the waits since the last look.
  void update() {
    if (!inFlight_) return;
    switch (inFlight_->stage()) {
    case HttpTransfer::Stage::Sent:
      return;
    case HttpTransfer::Stage::Receiving:
      readyState_ = 3;
      return;
    case HttpTransfer::Stage::Done:
      try {
        complete(inFlight_->take());
      } catch (const TransferFailed& f) {
        completeWithFailure(f.number);
      }
      break;
    case HttpTransfer::Stage::Failed:
      completeWithFailure(inFlight_->failure());
      break;
    }
    waiting_.reset();
    inFlight_.reset();
  }

  void complete(HttpResponse response) {
    status_ = response.status;
    statusText_ = statusTextOf(response.statusLine);
    body_ = std::make_shared<const Bytes>(std::move(response.body));
    responseHeaders_ = std::move(response.headers);
    readyState_ = 4;
  }

  void completeWithFailure(std::int32_t number) {
    failure_ = number;
    status_ = hr::isInternetError(number) ? hr::win32Code(number) : 0;
    readyState_ = 4;
  }

  static Text responseHeader(const std::vector<std::string>& headers, const std::string& name) {
    for (const auto& h : headers) {
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
    if (readyState_ != 1 || sent_) fail(hr::Fail);
    setUpCurl();
    std::string requestBody;
    if (payload.isBytes())
      requestBody.assign(payload.toBytes().begin(), payload.toBytes().end());
    else if (!payload.isEmpty())
      requestBody = toUtf8(payload.toText());

    resetResponse();
    sent_ = true;
    HttpRequest request{method_, url_, requestHeaders_, std::move(requestBody)};
    if (async_) {
      try {
        inFlight_ = std::make_unique<HttpTransfer>(machine_, limits_, std::move(request));
      } catch (const TransferFailed& f) {
        resetResponse();
        fail(f.number);
      }
      waiting_.emplace(events_, *inFlight_);
      readyState_ = 2;
      return;
    }
    HttpResponse response;
    try {
      response = transfer(machine_, limits_, request);
    } catch (const TransferFailed& f) {
      resetResponse(); // a failed request leaves the object opened, as before the attempt
      fail(f.number);
    } catch (...) {
      resetResponse();
      throw;
    }
    complete(std::move(response));
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
  EventLoop& events_;
  Limits limits_;
  std::int32_t readyState_ = 0; // 0 new, 1 opened, 2 sent, 3 headers in, 4 complete
  bool sent_ = false;
  bool async_ = false;
  std::string method_;
  std::string url_;
  std::vector<std::string> requestHeaders_;
  // An asynchronous request on its way, and its turn in the waits (which
  // ends first).
  std::unique_ptr<HttpTransfer> inFlight_;
  std::optional<EventRegistration> waiting_;
  std::int32_t failure_ = 0; // why a completed asynchronous request failed
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
