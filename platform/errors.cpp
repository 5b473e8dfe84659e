#include "platform/errors.h"

#include "platform/runtime.h"

namespace vk {

Text describeError(std::int32_t number) {
  switch (number) {
  case err::InvalidCall:
    return u"Geçersiz yordam çağrısı veya bağımsız değişken";
  case err::TypeMismatch:
    return u"Tür uyuşmazlığı";
  case err::BadFileName:
    return u"Hatalı dosya adı veya numarası";
  case err::FileNotFound:
    return u"Dosya bulunamadı";
  case err::PermissionDenied:
    return u"İzin reddedildi";
  case err::PathFileAccess:
    return u"Yol/Dosya erişim hatası";
  case err::PathNotFound:
    return u"Yol bulunamadı";
  case err::ObjectNotSet:
    return u"Nesne değişkeni veya With blok değişkeni ayarlanmamış";
  case err::CannotCreateObject:
    return u"ActiveX bileşeni nesne oluşturamıyor";
  case err::NoSuchMember:
    return u"Nesne bu özelliği veya yöntemi desteklemiyor";
  case err::WrongArgumentCount:
    return u"Bağımsız değişken sayısı yanlış veya özellik ataması geçersiz";
  default:
    return u"Uygulama tanımlı veya nesne tanımlı hata";
  }
}

RuntimeError::RuntimeError(std::int32_t number, Text description)
    : number_(number), description_(std::move(description)),
      what_(std::to_string(number) + ": " + toUtf8(description_)) {}

RuntimeError::RuntimeError(std::int32_t number) : RuntimeError(number, describeError(number)) {}

void showRuntimeErrorBox(Runtime& rt, const RuntimeError& error) {
  rt.rtcMsgBox(u"Çalışma zamanı hatası '" + vbaStrI4(error.number()) + u"':\r\n\r\n" +
                   error.description(),
               vbCritical, u"VorlanKur");
}

} // namespace vk
