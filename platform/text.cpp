#include "platform/text.h"

#include <algorithm>

namespace vk {

std::string toUtf8(TextView text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

Text fromUtf8(std::string_view s) {
  // Never more units than bytes: written in place, then cut to length, since
  // hive and hosts files of megabytes pass through here.
  Text out(s.size(), u'\0');
  std::size_t o = 0;
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      out[o++] = b;
      ++i;
      continue;
    }
    char32_t c = 0xFFFD;
    std::size_t len = 1;
    if (b >= 0xC2 && b < 0xF5) {
      const std::size_t need = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
      if (i + need <= s.size()) {
        char32_t v = b & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
        bool ok = true;
        for (std::size_t k = 1; k < need; ++k) {
          const auto cont = static_cast<unsigned char>(s[i + k]);
          if ((cont & 0xC0) != 0x80) {
            ok = false;
            break;
          }
          v = (v << 6) | (cont & 0x3F);
        }
        const char32_t minimum = need == 2 ? 0x80 : need == 3 ? 0x800 : 0x10000;
        if (ok && v >= minimum && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
          c = v;
          len = need;
        }
      }
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out[o++] = static_cast<char16_t>(0xD800 + (c >> 10));
      out[o++] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out[o++] = static_cast<char16_t>(c);
    }
    i += len;
  }
  out.resize(o);
  return out;
}

char16_t upperChar(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  // Latin-1: à..þ except ÷, and ÿ.
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  // Latin Extended-A pairs (ğ, ş, ç's neighbours...). The dotless i (U+0131)
  // has no upper case in Windows' file-name table, nor the long s.
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
    return (c & 1) ? static_cast<char16_t>(c - 1) : c;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
    return (c & 1) ? c : static_cast<char16_t>(c - 1);
  // Greek and Cyrillic basic letters.
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

bool equalsIgnoreCase(TextView a, TextView b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return upperChar(x) == upperChar(y); });
}

std::string asciiLower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string asciiUpper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

Text rtcLeftCharVar(const Text& text, std::size_t count) {
  return text.substr(0, count);
}

Text rtcRightCharVar(const Text& text, std::size_t count) {
  return count >= text.size() ? text : text.substr(text.size() - count);
}

Text rtcUpperCaseVar(const Text& text) {
  Text out(text);
  for (auto& c : out)
    c = upperChar(c);
  return out;
}

Text vbaStrI4(std::int32_t number) {
  const std::string s = std::to_string(number);
  return Text(s.begin(), s.end());
}

int vbaStrCmp(TextView a, TextView b) {
  return a.compare(b) < 0 ? -1 : a == b ? 0 : 1;
}

} // namespace vk
