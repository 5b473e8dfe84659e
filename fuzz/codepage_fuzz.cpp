// Code-page conversion both ways. A single-byte page gives every byte a
// character of its own, so bytes survive decoding and encoding again; text
// survives encoding as far as the page holds it, one "?" per character it
// lacks; UTF-8 keeps well-formed text exactly.
#include "fuzz/check.h"
#include "platform/posix/machine/codepage.h"

namespace {

using namespace vk;

bool isHigh(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool isLow(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// Characters, a surrogate pair counting one.
std::size_t characters(TextView t) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < t.size(); ++i, ++n)
    if (isHigh(t[i]) && i + 1 < t.size() && isLow(t[i + 1])) ++i;
  return n;
}

bool wellFormed(TextView t) {
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (isHigh(t[i]) && i + 1 < t.size() && isLow(t[i + 1]))
      ++i;
    else if (isHigh(t[i]) || isLow(t[i]))
      return false;
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = fuzz::bytes(data, size);
  // The same bytes taken as UTF-16 units, for the encoding direction.
  Text text;
  for (std::size_t i = 0; i + 1 < size; i += 2)
    text += static_cast<char16_t>(data[i] | data[i + 1] << 8);

  for (unsigned page : {posix::kCodePageWestern, posix::kCodePageTurkish, 437u}) {
    const Text decoded = posix::decodeAnsi(bytes, page);
    VK_FUZZ_CHECK(decoded.size() == bytes.size());
    VK_FUZZ_CHECK(posix::encodeAnsi(decoded, page) == bytes);

    const std::string encoded = posix::encodeAnsi(text, page);
    VK_FUZZ_CHECK(encoded.size() == characters(text));
    const Text back = posix::decodeAnsi(encoded, page);
    for (std::size_t i = 0, k = 0; k < back.size(); ++i, ++k) {
      VK_FUZZ_CHECK(back[k] == text[i] || back[k] == u'?');
      if (back[k] == u'?' && isHigh(text[i]) && i + 1 < text.size() && isLow(text[i + 1])) ++i;
    }
  }
  // An unknown page is the Western one.
  VK_FUZZ_CHECK(posix::decodeAnsi(bytes, 437) == posix::decodeAnsi(bytes, posix::kCodePageWestern));

  const std::string utf8 = posix::encodeAnsi(text, posix::kCodePageUtf8);
  if (wellFormed(text)) VK_FUZZ_CHECK(posix::decodeAnsi(utf8, posix::kCodePageUtf8) == text);
  const Text fromBytes = posix::decodeAnsi(bytes, posix::kCodePageUtf8);
  VK_FUZZ_CHECK(wellFormed(fromBytes));
  VK_FUZZ_CHECK(posix::decodeAnsi(posix::encodeAnsi(fromBytes, posix::kCodePageUtf8),
                                  posix::kCodePageUtf8) == fromBytes);
  return 0;
}
