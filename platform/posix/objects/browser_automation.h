// The browser-automation object of the stand-in machine: a real browser
// session through a W3C WebDriver server (the host's chromedriver driving a
// headless Chromium).
#pragma once

#include "platform/posix/machine/hosts_file.h"
#include "platform/posix/objects/members.h"
#include "platform/posix/objects/objects.h"
#include "platform/posix/objects/webdriver_client.h"

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vk::posix {

// The library's own failures. Automation libraries report their errors as
// vbObjectError (0x80040000) + n, with n from 512 up (the lower ones belong
// to Windows); the description is Turkish and carries the driver's or the
// browser's own message.
namespace browser_err {
inline constexpr std::int32_t UnsupportedBrowser = hr::make(0x80040201); // not "Chrome"
inline constexpr std::int32_t DriverNotFound = hr::make(0x80040202);     // no chromedriver
inline constexpr std::int32_t BrowserNotFound = hr::make(0x80040203);    // no chromium
inline constexpr std::int32_t DriverNotStarted = hr::make(0x80040204);   // died or never ready
inline constexpr std::int32_t SessionNotCreated = hr::make(0x80040205);  // "session not created"
inline constexpr std::int32_t NoSession = hr::make(0x80040206);          // member 32 before 12
inline constexpr std::int32_t CertificateStore = hr::make(0x80040207);   // extra authorities failed
inline constexpr std::int32_t InsecureCertificate = hr::make(0x80040210); // net::ERR_CERT_*
inline constexpr std::int32_t NameNotResolved = hr::make(0x80040211); // net::ERR_NAME_NOT_RESOLVED
inline constexpr std::int32_t PageNotOpened = hr::make(0x80040212);   // any other net::ERR_*
inline constexpr std::int32_t Timeout = hr::make(0x80040213);         // "timeout"
inline constexpr std::int32_t InvalidAddress = hr::make(0x80040214);  // "invalid argument"
inline constexpr std::int32_t BrowserError = hr::make(0x8004021F);    // any other WebDriver error

// Their texts, which the driver's or the browser's message follows.
inline constexpr err::Row kRows[] = {
    {UnsupportedBrowser, u"Desteklenmeyen tarayıcı"},
    {DriverNotFound, u"Tarayıcı sürücüsü (chromedriver) bulunamadı"},
    {BrowserNotFound, u"Tarayıcı (chromium) bulunamadı"},
    {DriverNotStarted, u"Tarayıcı sürücüsü başlatılamadı ya da yanıt vermiyor"},
    {SessionNotCreated, u"Tarayıcı oturumu açılamadı"},
    {NoSession, u"Tarayıcı oturumu başlatılmamış (önce oturum açılmalı)"},
    {CertificateStore, u"Güvenilen sertifikalar tarayıcıya eklenemedi"},
    {InsecureCertificate, u"Güvenli olmayan sertifika"},
    {NameNotResolved, u"Sunucu adı çözümlenemedi"},
    {PageNotOpened, u"Sayfa açılamadı"},
    {Timeout, u"Tarayıcı zaman aşımına uğradı"},
    {InvalidAddress, u"Geçersiz web adresi"},
    {BrowserError, u"Tarayıcı hatası"},
};
} // namespace browser_err

// Where the host's programs are; empty members are looked up (the usual
// place in /usr/bin, then PATH).

class BrowserAutomation final : public Object {
public:
  static constexpr std::int32_t kStart = 12; // (browser name): starts a session
  static constexpr std::int32_t kGet = 32;   // (address): opens it in the session
  // The two above, called by identifier only: the object has no names.
  static const Member<BrowserAutomation> kMembers[];

  BrowserAutomation(ObjectContext ctx, BrowserPrograms programs = {});
  ~BrowserAutomation() override;
  BrowserAutomation(const BrowserAutomation&) = delete;
  BrowserAutomation& operator=(const BrowserAutomation&) = delete;

  Variant call(TextView member, const Args& args) override;
  void put(TextView member, const Variant& value) override;
  void callId(std::int32_t dispId, const Args& args) override;

  // The temporary folder the running session's files and processes live in
  // and the driver's process id; "" and 0 while no session runs.
  std::string workFolder() const { return session_ ? session_->folder() : std::string(); }
  pid_t driverProcess() const { return session_ ? session_->driver() : 0; }

private:
  void start(const Text& browser);
  void open(const Text& address);

  const Machine& machine_;
  BrowserPrograms programs_;
  std::unique_ptr<WebDriverSession> session_;
};

} // namespace vk::posix
