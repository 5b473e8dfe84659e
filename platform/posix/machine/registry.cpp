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

#include "platform/posix/host/files.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <unordered_map>
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
  Text out;
  out.reserve(key.size());
  for (char16_t c : key) {
    if (c != u'\\')
      out += upperChar(c);
    else if (!out.empty() && out.back() != u'\\')
      out += c;
  }
  if (!out.empty() && out.back() == u'\\') out.pop_back();
  return out;
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

bool consume(std::string_view s, std::size_t& pos, std::string_view word) {
  if (s.substr(pos, word.size()) != word) return false;
  pos += word.size();
  return true;
}

std::optional<std::uint64_t> parseHexNumber(std::string_view s, std::size_t& pos, int maxDigits) {
  std::uint64_t value = 0;
  int digits = 0;
  while (digits < maxDigits && pos < s.size() &&
         hexDigit(static_cast<unsigned char>(s[pos])) >= 0) {
    value = value * 16 + static_cast<unsigned>(hexDigit(static_cast<unsigned char>(s[pos++])));
    ++digits;
  }
  if (!digits) return std::nullopt;
  return value;
}

std::optional<std::vector<std::uint8_t>> parseBytes(std::string_view s, std::size_t pos) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve((s.size() - std::min(pos, s.size())) / 3 + 1); // "xx," a byte
  auto skipBlanks = [&] {
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t'))
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
    if (s[pos++] != ',') return std::nullopt;
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

// An escaped string from just after its opening quote.
std::optional<Text> parseQuoted(std::string_view s, std::size_t pos) {
  const Text text = fromUtf8(s.substr(pos));
  std::size_t at = 0;
  return parseEscaped(text, at, u'"');
}

// The data after "=": nullopt when it is malformed. Only strings are made
// UTF-16; numbers and hex bytes, a megabyte of them at times, are read as
// they are.
std::optional<RegValue> parseData(std::string_view s, std::size_t pos) {
  RegValue v;
  if (pos < s.size() && s[pos] == '"') {
    auto text = parseQuoted(s, pos + 1);
    if (!text) return std::nullopt;
    v.type = RegValue::Type::Sz;
    v.text = std::move(*text);
    return v;
  }
  if (consume(s, pos, "str(")) {
    const auto type = parseHexNumber(s, pos, 8);
    if (!type || !consume(s, pos, "):\"")) return std::nullopt;
    auto text = parseQuoted(s, pos);
    if (!text) return std::nullopt;
    setTextOfType(v, *type, std::move(*text));
    return v;
  }
  if (consume(s, pos, "dword:")) {
    const auto number = parseHexNumber(s, pos, 8);
    if (!number) return std::nullopt;
    v.type = RegValue::Type::Dword;
    v.number = *number;
    return v;
  }
  std::uint64_t type = 3; // plain "hex:" is REG_BINARY
  if (consume(s, pos, "hex(")) {
    const auto t = parseHexNumber(s, pos, 8);
    if (!t || !consume(s, pos, "):")) return std::nullopt;
    type = *t;
  } else if (!consume(s, pos, "hex:")) {
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
// line copied again. Each whole line that starts with one of leads goes to f
// as it is complete, with the offsets of its first character and of the line
// after it. The others are only followed to their end, by the backslashes
// that end their pieces, so a megabyte value nobody asked for is not copied.
template <class F> void forEachLogicalLine(std::string_view text, std::string_view leads, F&& f) {
  std::size_t start = 0;
  std::size_t lineStart = 0;
  std::string pending;
  bool continuing = false;
  bool keep = false;
  std::size_t backslashes = 0; // at the end of a skipped line's pieces
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!continuing) lineStart = start;
    start = end + 1;
    const std::size_t next = std::min(start, text.size());
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (continuing) {
      while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    } else {
      keep = !line.empty() && leads.find(line.front()) != std::string_view::npos;
      backslashes = 0;
    }
    // A line that neither continues nor is continued needs no copy.
    const bool whole = !continuing && (line.empty() || line.back() != '\\');
    if (whole) {
      if (keep) f(line, lineStart, next);
    } else {
      if (keep) pending += line;
      const std::size_t last = line.find_last_not_of('\\');
      backslashes =
          last == std::string_view::npos ? backslashes + line.size() : line.size() - last - 1;
      if (backslashes > 0) {
        if (keep) pending.pop_back();
        --backslashes;
        continuing = true;
      } else {
        if (keep) f(std::string_view(pending), lineStart, next);
        pending.clear();
        continuing = false;
      }
    }
    if (end == text.size()) break;
  }
  if (continuing && keep) f(std::string_view(pending), lineStart, text.size());
}

// Where in the file a key's lines are. A key written more than once has a
// section for each; a key only named as an ancestor has none.
struct Section {
  std::size_t begin, end, next;
};
inline constexpr std::size_t kNoSection = static_cast<std::size_t>(-1);
struct KeyEntry {
  std::size_t first = kNoSection, last = kNoSection;
};

// Key paths kept in one arena and found through an open-addressing table: a
// user.reg holds a hundred thousand keys, and a string and a node apiece cost
// more than reading the file does.
class KeyTable {
public:
  const KeyEntry* find(TextView path) const {
    if (slots_.empty()) return nullptr;
    const Slot slot = slots_[locate(path, std::hash<TextView>{}(path))];
    return slot.key ? &keys_[slot.key - 1].entry : nullptr;
  }
  KeyEntry& entry(std::size_t key) { return keys_[key].entry; }

  // Room for about this many keys of this total length, made once.
  void reserve(std::size_t keys, std::size_t characters) {
    keys_.reserve(keys);
    arena_.reserve(characters);
    while (slots_.size() < keys * 2)
      grow();
  }

  // The number of path's entry, added when missing; true when it was added.
  std::pair<std::size_t, bool> add(TextView path) {
    if ((keys_.size() + 1) * 2 > slots_.size()) grow();
    const std::size_t hash = std::hash<TextView>{}(path);
    Slot& slot = slots_[locate(path, hash)];
    if (slot.key) return {slot.key - 1, false};
    keys_.push_back({arena_.size(), path.size(), {}});
    arena_ += path;
    slot = {static_cast<std::uint32_t>(hash), static_cast<std::uint32_t>(keys_.size())};
    return {keys_.size() - 1, true};
  }

private:
  // Small, so that the probes stay in the cache; the key is looked at only
  // when the hashes agree.
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t key = 0; // 1 + index into keys_, 0 when free
  };
  struct Key {
    std::size_t offset, length;
    KeyEntry entry;
  };

  // The slot holding path, or the free one where it would go.
  std::size_t locate(TextView path, std::size_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    const auto short_ = static_cast<std::uint32_t>(hash);
    for (std::size_t i = short_ & mask;; i = (i + 1) & mask) {
      const Slot slot = slots_[i];
      if (!slot.key) return i;
      const Key& key = keys_[slot.key - 1];
      if (slot.hash == short_ && TextView(arena_).substr(key.offset, key.length) == path) return i;
    }
  }

  void grow() {
    if (keys_.size() >= 0xFFFFFFFEu) throw std::length_error("too many registry keys");
    std::vector<Slot> old(std::max<std::size_t>(64, slots_.size() * 2));
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
      if (!slot.key) continue;
      std::size_t i = slot.hash & mask;
      while (slots_[i].key)
        i = (i + 1) & mask;
      slots_[i] = slot;
    }
  }

  std::vector<Slot> slots_; // a power of two, at most half full
  std::vector<Key> keys_;
  Text arena_;
};

// A hive is only indexed when read: its keys and where their lines are.
// Values are parsed when their key is first asked about; a user.reg holds
// a hundred thousand keys and this program reads a handful.
struct HiveData {
  std::string bytes;
  KeyTable keys; // every key and each of its ancestors
  std::vector<Section> sections;
};

// The normal form of a "[...]" line's key when it is ASCII with no escape but
// the doubled separator, as nearly all are; nullopt sends it the long way.
std::optional<Text> plainKey(std::string_view line) {
  Text out;
  for (std::size_t i = 1; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ']') {
      if (!out.empty() && out.back() == u'\\') out.pop_back();
      return out;
    }
    if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
    if (c != '\\') {
      out += upperChar(static_cast<char16_t>(c));
      continue;
    }
    if (i + 1 >= line.size() || line[++i] != '\\') return std::nullopt;
    if (!out.empty() && out.back() != u'\\') out += u'\\';
  }
  return std::nullopt;
}

HiveData indexHive(std::string bytes) {
  HiveData data;
  data.bytes = std::move(bytes);
  // Every key is a line starting with "[", its name shorter than the line,
  // ancestors aside. Sized once, the table is not copied as it fills.
  std::size_t lines = 1;
  for (auto at = data.bytes.find("\n["); at != std::string::npos;
       at = data.bytes.find("\n[", at + 2))
    ++lines;
  data.keys.reserve(lines + lines / 8, data.bytes.size() / 4);
  data.sections.reserve(lines);
  std::size_t open = kNoSection; // the section the lines belong to now
  auto close = [&](std::size_t at) {
    if (open != kNoSection) data.sections[open].end = at;
    open = kNoSection;
  };
  forEachLogicalLine(
      data.bytes, "[", [&](std::string_view line, std::size_t begin, std::size_t end) {
        close(begin);
        auto whole = plainKey(line);
        if (!whole) {
          const Text header = fromUtf8(line);
          std::size_t pos = 1;
          const auto key = parseEscaped(header, pos, u']');
          if (!key) return; // the lines up to the next key belong to none
          whole = normalKey(*key);
        }
        // A known key's ancestors are known too: a new one's are added deepest
        // first, up to the first of them already there.
        const auto [number, added] = data.keys.add(*whole);
        if (added)
          for (auto cut = whole->rfind(u'\\'); cut != Text::npos && cut > 0;
               cut = whole->rfind(u'\\', cut - 1))
            if (!data.keys.add(TextView(*whole).substr(0, cut)).second) break;
        KeyEntry& entry = data.keys.entry(number);
        open = data.sections.size();
        data.sections.push_back({end, data.bytes.size(), kNoSection});
        (entry.last == kNoSection ? entry.first : data.sections[entry.last].next) = open;
        entry.last = open;
      });
  close(data.bytes.size());
  return data;
}

// Just after the quote that closes a string starting at pos, found without
// decoding it: no byte of a multi-byte character is a quote or a backslash.
std::size_t endOfQuoted(std::string_view s, std::size_t pos) {
  while (pos < s.size()) {
    const char c = s[pos++];
    if (c == '"') break;
    if (c == '\\') ++pos;
  }
  return std::min(pos, s.size());
}

KeyData parseKey(Hive hive, const HiveData& data, const KeyEntry& entry) {
  KeyData key;
  for (std::size_t s = entry.first; s != kNoSection; s = data.sections[s].next) {
    const Section& section = data.sections[s];
    const auto lines =
        std::string_view(data.bytes).substr(section.begin, section.end - section.begin);
    // Comments and #metadata lines are passed over.
    forEachLogicalLine(lines, "\"@", [&](std::string_view line, std::size_t, std::size_t) {
      std::size_t pos = 1;
      Text name;
      if (line[0] == '"') {
        pos = endOfQuoted(line, pos);
        auto parsed = parseQuoted(line.substr(0, pos), 1);
        if (!parsed) return;
        name = std::move(*parsed);
      }
      if (pos >= line.size() || line[pos] != '=') return;
      auto value = parseData(line, pos + 1);
      if (!value) return;
      if (equalsIgnoreCase(name, u"SymbolicLinkValue") &&
          line.find("=hex(6):") != std::string_view::npos)
        key.linkTarget = linkTargetWithin(hive, utf16le(value->data));
      key.values[upperName(name)] = std::move(*value);
    });
  }
  return key;
}

class FileRegistry final : public Registry {
public:
  FileRegistry(std::string userReg, std::string systemReg)
      : files_{std::move(userReg), std::move(systemReg)} {}

  std::optional<RegValue> read(Hive hive, const Text& key, const Text& name) const override {
    const auto* k = find(hive, resolve(hive, normalKey(key)));
    if (!k) return std::nullopt;
    const auto it = k->values.find(upperName(name));
    if (it == k->values.end()) return std::nullopt;
    return it->second;
  }

  bool keyExists(Hive hive, const Text& key) const override {
    const Text path = resolve(hive, normalKey(key));
    return path.empty() || load(hive).index.keys.find(path);
  }

private:
  struct Loaded {
    HiveData index;
    std::unordered_map<Text, KeyData> parsed; // the keys asked about so far
  };

  Loaded& load(Hive hive) const {
    auto& slot = hives_[hive == Hive::CurrentUser ? 0 : 1];
    if (!slot) {
      slot.emplace();
      // Windows refuses hives past 2 GB; half a gigabyte is far past any real one.
      slot->index = indexHive(
          readMachineFile(files_[hive == Hive::CurrentUser ? 0 : 1], 512u << 20).value_or(""));
    }
    return *slot;
  }

  // The values of a key written in the file, parsed once.
  const KeyData* find(Hive hive, const Text& path) const {
    Loaded& hiveData = load(hive);
    const KeyEntry* entry = hiveData.index.keys.find(path);
    if (!entry || entry->first == kNoSection) return nullptr;
    auto parsed = hiveData.parsed.find(path);
    if (parsed == hiveData.parsed.end())
      parsed = hiveData.parsed.emplace(path, parseKey(hive, hiveData.index, *entry)).first;
    return &parsed->second;
  }

  // Follows links (System\CurrentControlSet -> ControlSet001) on the way down.
  Text resolve(Hive hive, Text path) const {
    for (int hops = 0; hops < 16; ++hops) {
      const auto parts = splitKey(path);
      bool followed = false;
      for (std::size_t n = 1; n <= parts.size() && !followed; ++n) {
        const auto* key = find(hive, joinKey(parts, 0, n));
        if (!key || !key->linkTarget) continue;
        Text target = *key->linkTarget;
        const Text rest = joinKey(parts, n);
        if (!rest.empty()) target += u'\\' + rest;
        path = target;
        followed = true;
      }
      if (!followed) break;
    }
    return path;
  }

  std::array<std::string, 2> files_;
  mutable std::array<std::optional<Loaded>, 2> hives_;
};

} // namespace

std::unique_ptr<Registry> openRegistryFiles(std::string userReg, std::string systemReg) {
  return std::make_unique<FileRegistry>(std::move(userReg), std::move(systemReg));
}

} // namespace vk::posix
