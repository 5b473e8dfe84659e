#include "platform/posix/machine/shell_link.h"

#include "platform/posix/host/error_number.h"
#include "platform/posix/host/files.h"
#include "platform/posix/host/temp_file.h"
#include "platform/posix/machine/codepage.h"
#include "platform/posix/machine/machine.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace vk::posix {

namespace {

constexpr std::uint32_t kHeaderSize = 0x4C;
// {00021401-0000-0000-C000-000000000046}, the shell link class, as stored.
constexpr std::array<std::uint8_t, 16> kLinkClsid = {
    0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// LinkFlags.
constexpr std::uint32_t kHasLinkTargetIdList = 0x1;
constexpr std::uint32_t kHasLinkInfo = 0x2;
constexpr std::uint32_t kHasName = 0x4;
constexpr std::uint32_t kHasRelativePath = 0x8;
constexpr std::uint32_t kHasWorkingDir = 0x10;
constexpr std::uint32_t kHasArguments = 0x20;
constexpr std::uint32_t kHasIconLocation = 0x40;
constexpr std::uint32_t kIsUnicode = 0x80;
constexpr std::uint32_t kForceNoLinkInfo = 0x100;

// LinkInfo: a header with the optional UTF-16 offsets, and its one flag.
constexpr std::uint32_t kLinkInfoHeaderSize = 0x24;
constexpr std::uint32_t kVolumeIdAndLocalBasePath = 0x1;
constexpr std::uint32_t kVolumeIdHeaderSize = 0x10;
constexpr std::uint32_t kVolumeIdHeaderSizeUnicode = 0x14;

constexpr std::size_t kMaxStringData = 0xFFFF;

class Writer {
public:
  void u16(std::uint32_t v) {
    out_ += static_cast<char>(v & 0xFF);
    out_ += static_cast<char>((v >> 8) & 0xFF);
  }
  void u32(std::uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  }
  void u64(std::uint64_t v) {
    u32(static_cast<std::uint32_t>(v));
    u32(static_cast<std::uint32_t>(v >> 32));
  }
  void bytes(std::string_view b) { out_ += b; }
  void utf16(TextView t) {
    for (char16_t c : t)
      u16(c);
  }
  // Patches a 32-bit value written earlier.
  void at32(std::size_t pos, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
      out_[pos + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  std::size_t size() const { return out_.size(); }
  std::string take() { return std::move(out_); }

private:
  std::string out_;
};

class Reader {
public:
  explicit Reader(std::string_view data) : data_(data) {}
  bool has(std::size_t pos, std::size_t n) const {
    return pos <= data_.size() && n <= data_.size() - pos;
  }
  std::uint32_t u16(std::size_t pos) const {
    return static_cast<std::uint8_t>(data_[pos]) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(data_[pos + 1])) << 8;
  }
  std::uint32_t u32(std::size_t pos) const { return u16(pos) | u16(pos + 2) << 16; }
  std::uint64_t u64(std::size_t pos) const {
    return u32(pos) | static_cast<std::uint64_t>(u32(pos + 4)) << 32;
  }
  // A NUL-terminated byte string within [pos, end); nullopt if unterminated.
  std::optional<std::string_view> cstr(std::size_t pos, std::size_t end) const {
    for (std::size_t i = pos; i < end; ++i)
      if (data_[i] == '\0') return data_.substr(pos, i - pos);
    return std::nullopt;
  }
  std::optional<Text> wstr(std::size_t pos, std::size_t end) const {
    Text t;
    for (std::size_t i = pos; i + 1 < end; i += 2) {
      const auto c = static_cast<char16_t>(u16(i));
      if (c == 0) return t;
      t += c;
    }
    return std::nullopt;
  }
  std::string_view slice(std::size_t pos, std::size_t n) const { return data_.substr(pos, n); }

private:
  std::string_view data_;
};

void writeStringData(Writer& w, TextView text) {
  const TextView kept = text.substr(0, kMaxStringData);
  w.u16(static_cast<std::uint32_t>(kept.size()));
  w.utf16(kept);
}

void writeLinkInfo(Writer& w, const ShellLink& link, unsigned codePage) {
  const std::string ansiPath = encodeAnsi(link.targetPath, codePage);
  const std::string ansiLabel = encodeAnsi(link.volumeLabel, codePage);
  // The label gets a UTF-16 copy only when the code page cannot hold it.
  const bool unicodeLabel = decodeAnsi(ansiLabel, codePage) != link.volumeLabel;

  const std::size_t start = w.size();
  w.u32(0); // LinkInfoSize, patched below
  w.u32(kLinkInfoHeaderSize);
  w.u32(kVolumeIdAndLocalBasePath);
  const std::size_t offsets = w.size();
  for (int i = 0; i < 6; ++i)
    w.u32(0); // VolumeIDOffset .. CommonPathSuffixOffsetUnicode, patched below
  auto here = [&] { return static_cast<std::uint32_t>(w.size() - start); };

  // VolumeID.
  const std::uint32_t volumeId = here();
  const std::size_t volumeStart = w.size();
  w.u32(0); // VolumeIDSize
  w.u32(link.driveType);
  w.u32(link.driveSerialNumber);
  if (unicodeLabel) {
    w.u32(kVolumeIdHeaderSizeUnicode);
    w.u32(0); // VolumeLabelOffsetUnicode, patched below
    w.bytes(ansiLabel);
    w.bytes(std::string_view("\0", 1));
    w.at32(volumeStart + 0x10, static_cast<std::uint32_t>(w.size() - volumeStart));
    w.utf16(link.volumeLabel);
    w.u16(0);
  } else {
    w.u32(kVolumeIdHeaderSize);
    w.bytes(ansiLabel);
    w.bytes(std::string_view("\0", 1));
  }
  w.at32(volumeStart, static_cast<std::uint32_t>(w.size() - volumeStart));

  // The whole path is the local base path; the common suffix stays empty,
  // as the shell writes it for a file on a local drive.
  const std::uint32_t localBase = here();
  w.bytes(ansiPath);
  w.bytes(std::string_view("\0", 1));
  const std::uint32_t suffix = here();
  w.bytes(std::string_view("\0", 1));
  const std::uint32_t localBaseUnicode = here();
  w.utf16(link.targetPath);
  w.u16(0);
  const std::uint32_t suffixUnicode = here();
  w.u16(0);

  w.at32(start, here());
  w.at32(offsets, volumeId);
  w.at32(offsets + 4, localBase);
  w.at32(offsets + 8, 0); // no network share
  w.at32(offsets + 12, suffix);
  w.at32(offsets + 16, localBaseUnicode);
  w.at32(offsets + 20, suffixUnicode);
}

// The local path of a LinkInfo at [pos, pos + size); nullopt if it has none.
std::optional<Text> readLinkInfo(const Reader& r, std::size_t pos, std::size_t size,
                                 unsigned codePage, ShellLink& link) {
  if (size < 0x1C) return std::nullopt;
  const std::size_t end = pos + size;
  const std::uint32_t headerSize = r.u32(pos + 4);
  const std::uint32_t flags = r.u32(pos + 8);
  if (!(flags & kVolumeIdAndLocalBasePath) || headerSize > size) return std::nullopt;

  const std::size_t volumeOffset = r.u32(pos + 12);
  if (volumeOffset + 0x10 <= size) {
    const std::size_t v = pos + volumeOffset;
    link.driveType = r.u32(v + 4);
    link.driveSerialNumber = r.u32(v + 8);
    const std::uint32_t labelOffset = r.u32(v + 12);
    if (labelOffset == kVolumeIdHeaderSizeUnicode && volumeOffset + 0x14 <= size) {
      if (auto label = r.wstr(v + r.u32(v + 16), end)) link.volumeLabel = *label;
    } else if (auto label = r.cstr(v + labelOffset, end)) {
      link.volumeLabel = decodeAnsi(*label, codePage);
    }
  }

  Text base, suffix;
  bool haveUnicode = false;
  if (headerSize >= kLinkInfoHeaderSize) {
    const std::uint32_t baseW = r.u32(pos + 28);
    const std::uint32_t suffixW = r.u32(pos + 32);
    if (baseW != 0 && baseW < size) {
      if (auto t = r.wstr(pos + baseW, end)) {
        base = *t;
        haveUnicode = true;
        if (suffixW != 0 && suffixW < size)
          if (auto s = r.wstr(pos + suffixW, end)) suffix = *s;
      }
    }
  }
  if (!haveUnicode) {
    const std::uint32_t baseA = r.u32(pos + 16);
    const std::uint32_t suffixA = r.u32(pos + 24);
    if (baseA >= size) return std::nullopt;
    auto b = r.cstr(pos + baseA, end);
    if (!b) return std::nullopt;
    base = decodeAnsi(*b, codePage);
    if (suffixA != 0 && suffixA < size)
      if (auto s = r.cstr(pos + suffixA, end)) suffix = decodeAnsi(*s, codePage);
  }
  return base + suffix;
}

std::vector<Text> components(TextView path) {
  std::vector<Text> out;
  Text part;
  for (char16_t c : path) {
    if (c == u'\\' || c == u'/') {
      if (!part.empty()) out.push_back(std::move(part));
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) out.push_back(std::move(part));
  return out;
}

} // namespace

bool isDrivePath(TextView path) {
  if (path.size() < 3) return false;
  const char16_t d = path[0];
  const bool letter = (d >= u'A' && d <= u'Z') || (d >= u'a' && d <= u'z');
  return letter && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
}

std::string serializeShellLink(const ShellLink& link, unsigned ansiCodePage) {
  const bool linkInfo = isDrivePath(link.targetPath);
  std::uint32_t flags = kIsUnicode;
  if (linkInfo) flags |= kHasLinkInfo;
  if (!link.description.empty()) flags |= kHasName;
  if (!link.relativePath.empty()) flags |= kHasRelativePath;
  if (!link.workingDirectory.empty()) flags |= kHasWorkingDir;
  if (!link.arguments.empty()) flags |= kHasArguments;
  if (!link.iconLocation.empty()) flags |= kHasIconLocation;

  Writer w;
  w.u32(kHeaderSize);
  for (std::uint8_t b : kLinkClsid)
    w.bytes(std::string(1, static_cast<char>(b)));
  w.u32(flags);
  w.u32(link.fileAttributes);
  w.u64(link.creationTime);
  w.u64(link.accessTime);
  w.u64(link.writeTime);
  w.u32(link.fileSize);
  w.u32(static_cast<std::uint32_t>(link.iconIndex));
  w.u32(link.showCommand);
  w.u16(link.hotKey);
  w.u16(0); // Reserved1
  w.u32(0); // Reserved2
  w.u32(0); // Reserved3

  if (linkInfo) writeLinkInfo(w, link, ansiCodePage);

  // StringData, in the order the format fixes.
  if (flags & kHasName) writeStringData(w, link.description);
  if (flags & kHasRelativePath) writeStringData(w, link.relativePath);
  if (flags & kHasWorkingDir) writeStringData(w, link.workingDirectory);
  if (flags & kHasArguments) writeStringData(w, link.arguments);
  if (flags & kHasIconLocation) writeStringData(w, link.iconLocation);

  w.u32(0); // ExtraData: the terminal block alone
  return w.take();
}

std::optional<ShellLink> parseShellLink(std::string_view bytes, unsigned ansiCodePage) {
  const Reader r(bytes);
  if (!r.has(0, kHeaderSize) || r.u32(0) != kHeaderSize) return std::nullopt;
  for (std::size_t i = 0; i < kLinkClsid.size(); ++i)
    if (static_cast<std::uint8_t>(bytes[4 + i]) != kLinkClsid[i]) return std::nullopt;

  ShellLink link;
  const std::uint32_t flags = r.u32(20);
  link.fileAttributes = r.u32(24);
  link.creationTime = r.u64(28);
  link.accessTime = r.u64(36);
  link.writeTime = r.u64(44);
  link.fileSize = r.u32(52);
  link.iconIndex = static_cast<std::int32_t>(r.u32(56));
  link.showCommand = r.u32(60);
  link.hotKey = static_cast<std::uint16_t>(r.u16(64));

  std::size_t pos = kHeaderSize;
  if (flags & kHasLinkTargetIdList) {
    if (!r.has(pos, 2)) return std::nullopt;
    pos += 2 + r.u16(pos);
  }
  if (flags & kHasLinkInfo) {
    if (!r.has(pos, 4)) return std::nullopt;
    const std::uint32_t size = r.u32(pos);
    if (size < 4 || !r.has(pos, size)) return std::nullopt;
    if (!(flags & kForceNoLinkInfo))
      if (auto target = readLinkInfo(r, pos, size, ansiCodePage, link)) link.targetPath = *target;
    pos += size;
  }

  const bool unicode = flags & kIsUnicode;
  auto stringData = [&](Text& field) {
    if (!r.has(pos, 2)) return false;
    const std::size_t count = r.u16(pos);
    pos += 2;
    const std::size_t bytesNeeded = unicode ? 2 * count : count;
    if (!r.has(pos, bytesNeeded)) return false;
    if (unicode) {
      field.clear();
      for (std::size_t i = 0; i < count; ++i)
        field += static_cast<char16_t>(r.u16(pos + 2 * i));
    } else {
      field = decodeAnsi(r.slice(pos, count), ansiCodePage);
    }
    pos += bytesNeeded;
    return true;
  };
  const std::pair<std::uint32_t, Text*> fields[] = {
      {kHasName, &link.description},
      {kHasRelativePath, &link.relativePath},
      {kHasWorkingDir, &link.workingDirectory},
      {kHasArguments, &link.arguments},
      {kHasIconLocation, &link.iconLocation},
  };
  for (const auto& [flag, field] : fields)
    if ((flags & flag) && !stringData(*field)) return std::nullopt;
  return link;
}

Text relativeLinkPath(TextView linkPath, TextView targetPath) {
  if (!isDrivePath(linkPath) || !isDrivePath(targetPath)) return Text();
  std::vector<Text> from = components(linkPath);
  from.pop_back(); // the link file itself
  const std::vector<Text> to = components(targetPath);
  if (from.empty() || !equalsIgnoreCase(from[0], to[0])) return Text();

  std::size_t common = 0;
  while (common < from.size() && common < to.size() && equalsIgnoreCase(from[common], to[common]))
    ++common;
  Text out = common == from.size() ? Text(u".") : Text();
  for (std::size_t i = common; i < from.size(); ++i)
    out += out.empty() ? u".." : u"\\..";
  for (std::size_t i = common; i < to.size(); ++i)
    out += u"\\" + to[i];
  return out;
}

// --- Shortcut files on the machine ---

namespace {

[[noreturn]] void failSave(const Text& fullName, std::int32_t number) {
  throw RuntimeError(number, u"\"" + fullName + u"\" kısayolu kaydedilemiyor.");
}

// Replaces hostFile with bytes in one step: the bytes go to a new file in
// the same folder, which is then renamed over it, so a reader sees the old
// file or the whole new one, never a part.
void replaceFile(const std::string& hostFile, std::string_view bytes, const Text& fullName) {
  const std::string folder = parentFolder(hostFile);
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    failSave(fullName, hr::PathNotFound);
  if (::lstat(hostFile.c_str(), &st) == 0) {
    // A read-only shortcut, or a folder of that name, is not replaced.
    if (S_ISDIR(st.st_mode) || !(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)))
      failSave(fullName, hr::AccessDenied);
  }

  if (!publishFile(AT_FDCWD, hostFile, folder + "/.vk-save-", 0600, Publish::Replace, [&](int fd) {
        return writeAll(fd, bytes.data(), bytes.size()) && ::fchmod(fd, 0644) == 0;
      }))
    failSave(fullName, hresultOf(errno));
}

std::uint64_t fileTime(const struct timespec& t) {
  constexpr std::int64_t kEpochDifference = 11644473600; // 1601-01-01 to 1970-01-01, seconds
  const std::int64_t ticks =
      (static_cast<std::int64_t>(t.tv_sec) + kEpochDifference) * 10000000 + t.tv_nsec / 100;
  return ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks);
}

// Wine keeps a drive's serial number as hex text beside its files;
// without one, a number that stays the same for the same machine.
std::uint32_t volumeSerial(const Machine& machine, const std::string& driveRoot, char16_t letter) {
  if (auto text = readHostFile(driveRoot + "/.windows-serial")) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(text->c_str(), &end, 16);
    if (end != text->c_str()) return static_cast<std::uint32_t>(v);
  }
  std::uint32_t h = 2166136261u; // FNV-1a over the machine root and drive letter
  for (unsigned char c : machine.root() + static_cast<char>(upperChar(letter))) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

void describeTarget(const Machine& machine, ShellLink& link) {
  link.fileAttributes = 0;
  link.creationTime = link.accessTime = link.writeTime = 0;
  link.fileSize = 0;
  if (!isDrivePath(link.targetPath)) return;

  Text drive = link.targetPath.substr(0, 3);
  drive[2] = u'\\';
  try {
    const std::string root = machine.hostPath(drive);
    link.driveType = kDriveFixed;
    link.driveSerialNumber = volumeSerial(machine, root, drive[0]);
    link.volumeLabel.clear();
    if (auto label = readHostFile(root + "/.windows-label")) {
      while (!label->empty() && (label->back() == '\n' || label->back() == '\r'))
        label->pop_back();
      link.volumeLabel = fromUtf8(*label);
    }
  } catch (const RuntimeError&) {
    return; // a drive the machine lacks: the link keeps the path alone
  }

  // A missing target still gets its link, with no size or times.
  std::string host;
  try {
    host = machine.hostPath(link.targetPath);
  } catch (const RuntimeError&) {
    return;
  }
  struct stat st {};
  if (::stat(host.c_str(), &st) != 0) return;
  link.fileAttributes = Machine::attributes(host).value_or(0);
  link.fileSize = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint32_t>(st.st_size);
  link.accessTime = fileTime(st.st_atim);
  link.writeTime = fileTime(st.st_mtim);
  // Linux's stat has no creation time; the last change is the nearest.
  link.creationTime = fileTime(st.st_ctim);
}

} // namespace

std::optional<ShellLink> readShortcut(const Machine& machine, const Text& fullName) {
  try {
    if (auto bytes = readMachineFile(machine.hostPath(fullName), 16u << 20))
      return parseShellLink(*bytes, machine.ansiCodePage());
  } catch (const RuntimeError&) {
    // No such drive: Save reports it.
  }
  return std::nullopt;
}

void saveShortcut(const Machine& machine, const Text& fullName, ShellLink link) {
  link.relativePath = relativeLinkPath(fullName, link.targetPath);
  describeTarget(machine, link);
  saveShortcutFile(machine, fullName, serializeShellLink(link, machine.ansiCodePage()));
}

void saveShortcutFile(const Machine& machine, const Text& fullName, std::string_view bytes) {
  std::string host;
  try {
    host = machine.hostPath(fullName);
  } catch (const RuntimeError&) {
    failSave(fullName, hr::PathNotFound);
  }
  replaceFile(host, bytes, fullName);
}

} // namespace vk::posix
