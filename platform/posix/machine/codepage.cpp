#include "platform/posix/machine/codepage.h"

#include <array>
#include <utility>

namespace vk::posix {

namespace {

using HighHalf = std::array<char16_t, 128>; // bytes 0x80-0xFF

// Windows-1252. The five bytes Windows leaves undefined (81, 8D, 8F, 90, 9D)
// carry the control character of the same number, as MultiByteToWideChar
// gives them.
constexpr HighHalf kWestern = {
    // 0x80
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, //
    // 0x90
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, //
    // 0xA0
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7, //
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF, //
    // 0xB0
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7, //
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF, //
    // 0xC0
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7, //
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, //
    // 0xD0
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7, //
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF, //
    // 0xE0
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, //
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF, //
    // 0xF0
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7, //
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF, //
};

// Windows-1254, Turkish: 1252 with Ğ İ Ş ğ ı ş in place of Ð Ý Þ ð ý þ, and
// without Ž ž (8E, 9E undefined, so they carry their control characters).
constexpr HighHalf kTurkish = [] {
  HighHalf t = kWestern;
  constexpr std::pair<unsigned char, char16_t> kDifferences[] = {
      {0x8E, 0x008E}, {0x9E, 0x009E}, {0xD0, 0x011E}, {0xDD, 0x0130},
      {0xDE, 0x015E}, {0xF0, 0x011F}, {0xFD, 0x0131}, {0xFE, 0x015F},
  };
  for (const auto& [byte, c] : kDifferences)
    t[byte - 0x80] = c;
  return t;
}();

// An unknown code page is written as Western European: the text of this
// program is Turkish, and 1252 keeps every character both tables share,
// which is all of ASCII and most Latin letters.
const HighHalf& tableFor(unsigned codePage) {
  return codePage == kCodePageTurkish ? kTurkish : kWestern;
}

} // namespace

bool knownCodePage(unsigned codePage) {
  return codePage == kCodePageWestern || codePage == kCodePageTurkish || codePage == kCodePageUtf8;
}

std::string encodeAnsi(TextView text, unsigned codePage) {
  if (codePage == kCodePageUtf8) return toUtf8(text);
  const HighHalf& table = tableFor(codePage);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    char byte = '?';
    for (std::size_t k = 0; k < table.size(); ++k) {
      if (table[k] == c) {
        byte = static_cast<char>(0x80 + k);
        break;
      }
    }
    // A surrogate pair is one character the table cannot hold: one "?".
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF)
      ++i;
    out += byte;
  }
  return out;
}

Text decodeAnsi(std::string_view bytes, unsigned codePage) {
  if (codePage == kCodePageUtf8) return fromUtf8(bytes);
  const HighHalf& table = tableFor(codePage);
  Text out;
  out.reserve(bytes.size());
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    out += b < 0x80 ? static_cast<char16_t>(b) : table[b - 0x80];
  }
  return out;
}

} // namespace vk::posix
