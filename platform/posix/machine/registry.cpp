// Reads the hive files of a Wine prefix ("WINE REGISTRY Version 2").
//
// The format, as Wine writes it:
//   [Software\\Google\\Chrome\\BLBeacon] 1700000000     a key, path escaped
//   #time=1d9f0000000000                                 metadata, ignored
//   @="default value"                                    the key's default value
//   "name"="text"                                        REG_SZ
//   "name"=str(2):"%SystemRoot%"                         a string of another type
//   "name"=dword:00000001                                REG_DWORD
//   "name"=hex(2):25,00,53,00,...,00,00                  raw bytes of type 2, and so on
//   "name"=hex:01,02                                     REG_BINARY
// A line ending in "\" continues on the next one. Strings escape "\", the
// delimiter and control characters, and may hold non-ASCII characters either
// as \xNNNN or written out in UTF-8 (newer Wine versions).
#include "platform/posix/machine/registry_file.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace vk::posix {

namespace {

std::vector<Text> splitKey(TextView key) {
  std::vector<Text> parts;
  Text part;
  for (char16_t c : key) {
    if (c == u'\\') {
      if (!part.empty()) parts.push_back(std::move(part));
      part.clear();
    } else {
      part += upperChar(c);
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

Text joinKey(const std::vector<Text>& parts, std::size_t from = 0,
             std::size_t to = static_cast<std::size_t>(-1)) {
  Text out;
  for (std::size_t i = from; i < parts.size() && i < to; ++i) {
    if (!out.empty()) out += u'\\';
    out += parts[i];
  }
  return out;
}

// Keys are kept under their upper-case form without doubled or outer "\".
Text normalKey(TextView key) {
  return joinKey(splitKey(key));
}

Text upperName(TextView name) {
  Text out(name);
  for (auto& c : out)
    c = upperChar(c);
  return out;
}

int hexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// An escaped string from just after its opening delimiter up to the closing
// one; pos ends after the delimiter. nullopt when the string never closes.
std::optional<Text> parseEscaped(TextView s, std::size_t& pos, char16_t delimiter) {
  Text out;
  while (pos < s.size()) {
    const char16_t c = s[pos++];
    if (c == delimiter) return out;
    if (c != u'\\') {
      out += c;
      continue;
    }
    if (pos >= s.size()) return std::nullopt;
    const char16_t e = s[pos++];
    // The C escapes Wine writes for control characters.
    static constexpr std::pair<char16_t, char16_t> kEscapes[] = {
        {u'a', u'\a'}, {u'b', u'\b'}, {u'e', 0x1B},  {u'f', u'\f'},
        {u'n', u'\n'}, {u'r', u'\r'}, {u't', u'\t'}, {u'v', u'\v'},
    };
    const auto* escape = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                                      [e](const auto& x) { return x.first == e; });
    if (escape != std::end(kEscapes)) {
      out += escape->second;
      continue;
    }
    switch (e) {
    case u'x': {
      unsigned value = 0;
      int digits = 0;
      while (digits < 4 && pos < s.size() && hexDigit(s[pos]) >= 0) {
        value = value * 16 + static_cast<unsigned>(hexDigit(s[pos++]));
        ++digits;
      }
      out += digits ? static_cast<char16_t>(value) : u'x';
      break;
    }
    default:
      if (e >= u'0' && e <= u'7') {
        unsigned value = static_cast<unsigned>(e - u'0');
        for (int digits = 1; digits < 3 && pos < s.size() && s[pos] >= u'0' && s[pos] <= u'7';
             ++digits)
          value = value * 8 + static_cast<unsigned>(s[pos++] - u'0');
        out += static_cast<char16_t>(value);
      } else {
        out += e; // \\ \" \] and any other character stand for themselves
      }
    }
  }
  return std::nullopt;
}

bool consume(TextView s, std::size_t& pos, TextView word) {
  if (s.substr(pos, word.size()) != word) return false;
  pos += word.size();
  return true;
}

std::optional<std::uint64_t> parseHexNumber(TextView s, std::size_t& pos, int maxDigits) {
  std::uint64_t value = 0;
  int digits = 0;
  while (digits < maxDigits && pos < s.size() && hexDigit(s[pos]) >= 0) {
    value = value * 16 + static_cast<unsigned>(hexDigit(s[pos++]));
    ++digits;
  }
  if (!digits) return std::nullopt;
  return value;
}

std::optional<std::vector<std::uint8_t>> parseBytes(TextView s, std::size_t pos) {
  std::vector<std::uint8_t> bytes;
  auto skipBlanks = [&] {
    while (pos < s.size() && (s[pos] == u' ' || s[pos] == u'\t'))
      ++pos;
  };
  skipBlanks();
  if (pos >= s.size()) return bytes;
  for (;;) {
    skipBlanks();
    const auto byte = parseHexNumber(s, pos, 2);
    if (!byte) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(*byte));
    skipBlanks();
    if (pos >= s.size()) return bytes;
    if (s[pos++] != u',') return std::nullopt;
  }
}

Text utf16le(const std::vector<std::uint8_t>& bytes) {
  Text out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    out += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
  return out;
}

Text withoutTrailingNuls(Text text) {
  while (!text.empty() && text.back() == u'\0')
    text.pop_back();
  return text;
}

// REG_MULTI_SZ: strings ended by NUL, the list ended by an empty string.
std::vector<Text> splitMulti(const Text& text) {
  std::vector<Text> out;
  Text current;
  for (char16_t c : text) {
    if (c != u'\0') {
      current += c;
    } else if (current.empty()) {
      break;
    } else {
      out.push_back(std::move(current));
      current.clear();
    }
  }
  if (!current.empty()) out.push_back(std::move(current));
  return out;
}

void setTextOfType(RegValue& v, std::uint64_t type, Text text) {
  switch (type) {
  case 2:
    v.type = RegValue::Type::ExpandSz;
    v.text = withoutTrailingNuls(std::move(text));
    break;
  case 7:
    v.type = RegValue::Type::MultiSz;
    v.strings = splitMulti(text);
    break;
  default:
    v.type = RegValue::Type::Sz;
    v.text = withoutTrailingNuls(std::move(text));
  }
}

// The data after "=": nullopt when it is malformed.
std::optional<RegValue> parseData(TextView s, std::size_t pos) {
  RegValue v;
  if (pos < s.size() && s[pos] == u'"') {
    ++pos;
    auto text = parseEscaped(s, pos, u'"');
    if (!text) return std::nullopt;
    v.type = RegValue::Type::Sz;
    v.text = std::move(*text);
    return v;
  }
  if (consume(s, pos, u"str(")) {
    const auto type = parseHexNumber(s, pos, 8);
    if (!type || !consume(s, pos, u"):\"")) return std::nullopt;
    auto text = parseEscaped(s, pos, u'"');
    if (!text) return std::nullopt;
    setTextOfType(v, *type, std::move(*text));
    return v;
  }
  if (consume(s, pos, u"dword:")) {
    const auto number = parseHexNumber(s, pos, 8);
    if (!number) return std::nullopt;
    v.type = RegValue::Type::Dword;
    v.number = *number;
    return v;
  }
  std::uint64_t type = 3; // plain "hex:" is REG_BINARY
  if (consume(s, pos, u"hex(")) {
    const auto t = parseHexNumber(s, pos, 8);
    if (!t || !consume(s, pos, u"):")) return std::nullopt;
    type = *t;
  } else if (!consume(s, pos, u"hex:")) {
    return std::nullopt;
  }
  auto bytes = parseBytes(s, pos);
  if (!bytes) return std::nullopt;
  v.data = std::move(*bytes);
  switch (type) {
  case 1:
  case 2:
  case 7:
    setTextOfType(v, type, utf16le(v.data));
    break;
  case 4:
  case 0xB: {
    v.type = type == 4 ? RegValue::Type::Dword : RegValue::Type::Qword;
    const std::size_t width = type == 4 ? 4 : 8;
    for (std::size_t i = 0; i < width && i < v.data.size(); ++i)
      v.number |= static_cast<std::uint64_t>(v.data[i]) << (8 * i);
    break;
  }
  case 0:
    v.type = RegValue::Type::None;
    break;
  default:
    v.type = RegValue::Type::Binary;
  }
  return v;
}

struct KeyData {
  std::unordered_map<Text, RegValue> values; // by upper-case name
  std::optional<Text> linkTarget;            // a REG_LINK key's target within its hive
};

struct HiveData {
  std::unordered_map<Text, KeyData> keys;
  std::unordered_set<Text> known; // every key and each of its ancestors
};

// A link's target as a key path of its own hive: "\REGISTRY\Machine\X" is
// X of HKEY_LOCAL_MACHINE, "\REGISTRY\User\<sid>\X" is X of the user's hive.
std::optional<Text> linkTargetWithin(Hive hive, const Text& target) {
  const auto parts = splitKey(target);
  if (parts.size() < 2 || parts[0] != u"REGISTRY") return std::nullopt;
  if (hive == Hive::LocalMachine && parts[1] == u"MACHINE") return joinKey(parts, 2);
  if (hive == Hive::CurrentUser && parts[1] == u"USER" && parts.size() >= 3)
    return joinKey(parts, 3);
  return std::nullopt;
}

// Wine wraps a long value over many continued lines (a 1 MiB one over tens
// of thousands); each piece is appended to the line it continues, never the
// line copied again. Each whole line goes to f as it is complete.
template <class F> void forEachLogicalLine(TextView text, F&& f) {
  std::size_t start = 0;
  Text pending;
  bool continuing = false;
  while (start <= text.size()) {
    std::size_t end = text.find(u'\n', start);
    if (end == TextView::npos) end = text.size();
    TextView line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    if (continuing) {
      while (!line.empty() && (line.front() == u' ' || line.front() == u'\t'))
        line.remove_prefix(1);
    }
    // A line that neither continues nor is continued needs no copy.
    const bool whole = !continuing && (line.empty() || line.back() != u'\\');
    if (whole) {
      f(line);
    } else {
      pending += line;
      if (!pending.empty() && pending.back() == u'\\') {
        pending.pop_back();
        continuing = true;
      } else {
        f(TextView(pending));
        pending.clear();
        continuing = false;
      }
    }
    if (end == text.size()) break;
  }
  if (continuing) f(TextView(pending));
}

HiveData parseHive(Hive hive, const std::string& bytes) {
  HiveData data;
  KeyData* current = nullptr;
  forEachLogicalLine(fromUtf8(bytes), [&](TextView line) {
    if (line.empty()) return;
    std::size_t pos = 1;
    if (line[0] == u'[') {
      const auto key = parseEscaped(line, pos, u']');
      if (!key) {
        current = nullptr;
        return;
      }
      const auto parts = splitKey(*key);
      // A known key's ancestors are known too: a new one's are added deepest
      // first, up to the first of them already there.
      Text whole = joinKey(parts);
      if (!parts.empty() && data.known.insert(whole).second)
        for (std::size_t n = parts.size() - 1; n >= 1; --n)
          if (!data.known.insert(joinKey(parts, 0, n)).second) break;
      current = &data.keys[std::move(whole)];
      return;
    }
    if (!current || (line[0] != u'"' && line[0] != u'@')) return; // comments, #metadata
    Text name;
    if (line[0] == u'"') {
      auto parsed = parseEscaped(line, pos, u'"');
      if (!parsed) return;
      name = std::move(*parsed);
    }
    if (pos >= line.size() || line[pos] != u'=') return;
    auto value = parseData(line, pos + 1);
    if (!value) return;
    if (equalsIgnoreCase(name, u"SymbolicLinkValue") && line.find(u"=hex(6):") != Text::npos)
      current->linkTarget = linkTargetWithin(hive, utf16le(value->data));
    current->values[upperName(name)] = std::move(*value);
  });
  return data;
}

class FileRegistry final : public Registry {
public:
  FileRegistry(std::string userReg, std::string systemReg)
      : files_{std::move(userReg), std::move(systemReg)} {}

  std::optional<RegValue> read(Hive hive, const Text& key, const Text& name) const override {
    const auto* k = find(hive, key);
    if (!k) return std::nullopt;
    const auto it = k->values.find(upperName(name));
    if (it == k->values.end()) return std::nullopt;
    return it->second;
  }

  bool keyExists(Hive hive, const Text& key) const override {
    const Text path = resolve(hive, normalKey(key));
    return path.empty() || load(hive).known.count(path) > 0;
  }

private:
  const HiveData& load(Hive hive) const {
    const int i = hive == Hive::CurrentUser ? 0 : 1;
    if (!data_[i]) {
      std::ifstream in(files_[i], std::ios::binary);
      std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      data_[i] = parseHive(hive, bytes);
    }
    return *data_[i];
  }

  // Follows links (System\CurrentControlSet -> ControlSet001) on the way down.
  Text resolve(Hive hive, Text path) const {
    const HiveData& data = load(hive);
    for (int hops = 0; hops < 16; ++hops) {
      const auto parts = splitKey(path);
      bool followed = false;
      for (std::size_t n = 1; n <= parts.size() && !followed; ++n) {
        const auto it = data.keys.find(joinKey(parts, 0, n));
        if (it == data.keys.end() || !it->second.linkTarget) continue;
        Text target = *it->second.linkTarget;
        const Text rest = joinKey(parts, n);
        if (!rest.empty()) target += u'\\' + rest;
        path = target;
        followed = true;
      }
      if (!followed) break;
    }
    return path;
  }

  const KeyData* find(Hive hive, const Text& key) const {
    const HiveData& data = load(hive);
    const auto it = data.keys.find(resolve(hive, normalKey(key)));
    return it == data.keys.end() ? nullptr : &it->second;
  }

  std::array<std::string, 2> files_;
  mutable std::array<std::optional<HiveData>, 2> data_;
};

} // namespace

std::unique_ptr<Registry> openRegistryFiles(std::string userReg, std::string systemReg) {
  return std::make_unique<FileRegistry>(std::move(userReg), std::move(systemReg));
}

} // namespace vk::posix
