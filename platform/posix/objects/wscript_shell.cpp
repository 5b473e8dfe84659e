// "WScript.Shell": registry reading, special folders and shortcuts, as
// Windows Script Host gives them, on the simulated machine.
#include "platform/posix/host/error_number.h"
#include "platform/posix/host/files.h"
#include "platform/posix/host/temp_file.h"
#include "platform/posix/machine/codepage.h"
#include "platform/posix/machine/environment.h"
#include "platform/posix/machine/shell_link.h"
#include "platform/posix/objects/members.h"
#include "platform/posix/objects/objects.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace vk::posix {

namespace {

bool endsWithIgnoreCase(TextView text, TextView suffix) {
  return text.size() >= suffix.size() &&
         equalsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

// --- files ---

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

// --- shortcuts ---

// A ".lnk" shortcut. Nothing is written before Save; a shortcut that exists
// already starts with its fields, as the shell loads it.
class WshShortcut final : public TableObject<WshShortcut> {
public:
  WshShortcut(const Machine& machine, Text fullName)
      : machine_(machine), fullName_(std::move(fullName)) {
    try {
      if (auto bytes = readMachineFile(machine_.hostPath(fullName_), 16u << 20))
        if (auto link = parseShellLink(*bytes, machine_.ansiCodePage())) link_ = *link;
    } catch (const RuntimeError&) {
      // No such drive: Save reports it.
    }
  }

private:
  const Text& fullName() const { return fullName_; }

  // The link's text fields, each read and assigned as it is.
  template <Text ShellLink::*field> const Text& text() const { return link_.*field; }
  template <Text ShellLink::*field> void setText(const Text& value) { link_.*field = value; }

  Text iconLocation() const { return link_.iconLocation + u"," + vbaStrI4(link_.iconIndex); }

  std::int32_t windowStyle() const { return static_cast<std::int32_t>(link_.showCommand); }
  void setWindowStyle(const Variant& value) {
    link_.showCommand = static_cast<std::uint32_t>(value.toInt32());
  }

  // "path,index"; a text without a comma is a path with icon 0.
  void setIconLocation(const Text& text) {
    const std::size_t comma = text.rfind(u',');
    if (comma == Text::npos) {
      link_.iconLocation = text;
      link_.iconIndex = 0;
      return;
    }
    link_.iconLocation = text.substr(0, comma);
    link_.iconIndex = Variant(text.substr(comma + 1)).toInt32();
  }

  void describeTarget(ShellLink& link) const {
    link.fileAttributes = 0;
    link.creationTime = link.accessTime = link.writeTime = 0;
    link.fileSize = 0;
    if (!isDrivePath(link.targetPath)) return;

    Text drive = link.targetPath.substr(0, 3);
    drive[2] = u'\\';
    try {
      const std::string root = machine_.hostPath(drive);
      link.driveType = kDriveFixed;
      link.driveSerialNumber = volumeSerial(root, drive[0]);
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
      host = machine_.hostPath(link.targetPath);
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

  // Wine keeps a drive's serial number as hex text beside its files;
  // without one, a number that stays the same for the same machine.
  std::uint32_t volumeSerial(const std::string& driveRoot, char16_t letter) const {
    if (auto text = readHostFile(driveRoot + "/.windows-serial")) {
      char* end = nullptr;
      const unsigned long v = std::strtoul(text->c_str(), &end, 16);
      if (end != text->c_str()) return static_cast<std::uint32_t>(v);
    }
    std::uint32_t h = 2166136261u; // FNV-1a over the machine root and drive letter
    for (unsigned char c : machine_.root() + static_cast<char>(upperChar(letter))) {
      h ^= c;
      h *= 16777619u;
    }
    return h;
  }

  void save() {
    std::string host;
    try {
      host = machine_.hostPath(fullName_);
    } catch (const RuntimeError&) {
      failSave(fullName_, hr::PathNotFound);
    }
    ShellLink link = link_;
    link.relativePath = relativeLinkPath(fullName_, link.targetPath);
    describeTarget(link);
    replaceFile(host, serializeShellLink(link, machine_.ansiCodePage()), fullName_);
  }

public:
  static constexpr Member<WshShortcut> kMembers[] = {
      method<&WshShortcut::save>(u"Save", 0, 0),
      propertyGet<&WshShortcut::fullName>(u"FullName"),
      propertyGet<&WshShortcut::text<&ShellLink::description>>(u"Description"),
      propertyLet<&WshShortcut::setText<&ShellLink::description>>(u"Description"),
      propertyGet<&WshShortcut::text<&ShellLink::targetPath>>(u"TargetPath"),
      propertyLet<&WshShortcut::setText<&ShellLink::targetPath>>(u"TargetPath"),
      propertyGet<&WshShortcut::text<&ShellLink::arguments>>(u"Arguments"),
      propertyLet<&WshShortcut::setText<&ShellLink::arguments>>(u"Arguments"),
      propertyGet<&WshShortcut::text<&ShellLink::workingDirectory>>(u"WorkingDirectory"),
      propertyLet<&WshShortcut::setText<&ShellLink::workingDirectory>>(u"WorkingDirectory"),
      propertyGet<&WshShortcut::iconLocation>(u"IconLocation"),
      propertyLet<&WshShortcut::setIconLocation>(u"IconLocation"),
      propertyGet<&WshShortcut::windowStyle>(u"WindowStyle"),
      propertyLet<&WshShortcut::setWindowStyle>(u"WindowStyle"),
  };

private:
  const Machine& machine_;
  Text fullName_;
  ShellLink link_;
};

// A ".url" Internet shortcut: an INI file naming the address.
class WshUrlShortcut final : public TableObject<WshUrlShortcut> {
public:
  WshUrlShortcut(const Machine& machine, Text fullName)
      : machine_(machine), fullName_(std::move(fullName)) {}

private:
  void save() const {
    std::string host;
    try {
      host = machine_.hostPath(fullName_);
    } catch (const RuntimeError&) {
      failSave(fullName_, hr::PathNotFound);
    }
    replaceFile(
        host, "[InternetShortcut]\r\nURL=" + encodeAnsi(target_, machine_.ansiCodePage()) + "\r\n",
        fullName_);
  }

  const Text& fullName() const { return fullName_; }
  const Text& targetPath() const { return target_; }
  void setTargetPath(const Text& value) { target_ = value; }

public:
  static constexpr Member<WshUrlShortcut> kMembers[] = {
      method<&WshUrlShortcut::save>(u"Save", 0, 0),
      propertyGet<&WshUrlShortcut::fullName>(u"FullName"),
      propertyGet<&WshUrlShortcut::targetPath>(u"TargetPath"),
      propertyLet<&WshUrlShortcut::setTargetPath>(u"TargetPath"),
  };

private:
  const Machine& machine_;
  Text fullName_;
  Text target_;
};

// --- the shell ---

// The collection "SpecialFolders" gives when called without a name.
class SpecialFoldersCollection final : public TableObject<SpecialFoldersCollection> {
public:
  explicit SpecialFoldersCollection(const Machine& machine) : machine_(machine) {}

private:
  Text item(const Text& name) const { return specialFolder(machine_, name); }

public:
  static constexpr Member<SpecialFoldersCollection> kMembers[] = {
      method<&SpecialFoldersCollection::item>(u"Item", 1, 1),
      method<&SpecialFoldersCollection::item>(u"", 1, 1), // the default member
  };

private:
  const Machine& machine_;
};

class WshShell final : public TableObject<WshShell> {
public:
  explicit WshShell(const Machine& machine) : machine_(machine) {}

private:
  // The collection without a name, one folder with one.
  Variant specialFolders(const Args& args) const {
    if (args.empty()) return ObjectRef(std::make_shared<SpecialFoldersCollection>(machine_));
    return specialFolder(machine_, args[0].toText());
  }

  Text expandEnvironmentStrings(const Text& text) const {
    return MachineEnvironment(machine_).expand(text);
  }

  // "HKCU\Software\Google\Chrome\BLBeacon\version": the root, the key, and
  // after the last "\" the value name; a trailing "\" names the default value.
  Variant regRead(const Text& path) const {
    const RegistryPath p = splitRegistryPath(path);

    // Where the key may be: HKEY_CLASSES_ROOT is the user's classes over the
    // machine's; HKEY_USERS and HKEY_CURRENT_CONFIG hold nothing here.
    std::vector<std::pair<Hive, Text>> places;
    switch (p.root) {
    case RegistryPath::CurrentUser:
      places = {{Hive::CurrentUser, p.key}};
      break;
    case RegistryPath::LocalMachine:
      // As a 32-bit program sees it on 64-bit Windows.
      places = {{Hive::LocalMachine, machine_.is64Bit() ? thirtyTwoBitView(p.key) : p.key}};
      break;
    case RegistryPath::ClassesRoot: {
      const Text key = p.key.empty() ? Text(u"Software\\Classes") : u"Software\\Classes\\" + p.key;
      places = {{Hive::CurrentUser, key}, {Hive::LocalMachine, key}};
      break;
    }
    case RegistryPath::Unkept:
      break;
    }

    bool keyFound = false;
    for (const auto& [hive, key] : places) {
      if (!machine_.registry().keyExists(hive, key)) continue;
      keyFound = true;
      if (auto v = machine_.registry().read(hive, key, p.name)) return toVariant(*v, path);
    }
    if (!keyFound) throw RuntimeError(hr::FileNotFound, registryPathError(path));
    throw RuntimeError(hr::FileNotFound,
                       u"Okumak için \"" + path + u"\" kayıt defteri anahtarı açılamıyor.");
  }

  // REG_SZ and REG_DWORD as WSH gives them; REG_EXPAND_SZ comes expanded,
  // as RegRead reads it through RegGetValue, which expands. WSH gives
  // REG_BINARY and REG_MULTI_SZ as arrays, which no Variant here can hold, so
  // they (and the types WSH does not read) fail as a type mismatch.
  Variant toVariant(const RegValue& v, const Text& path) const {
    auto uptoNul = [](const Text& t) { return t.substr(0, t.find(u'\0')); };
    switch (v.type) {
    case RegValue::Type::Sz:
      return uptoNul(v.text);
    case RegValue::Type::ExpandSz:
      return MachineEnvironment(machine_).expand(uptoNul(v.text));
    case RegValue::Type::Dword:
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(v.number));
    default:
      throw RuntimeError(err::TypeMismatch, u"Tür uyuşmazlığı: \"" + path + u"\"");
    }
  }

  // CreateShortcut accepts only the two shortcut kinds, by extension.
  Variant createShortcut(const Text& path) const {
    if (endsWithIgnoreCase(path, u".lnk"))
      return ObjectRef(std::make_shared<WshShortcut>(machine_, path));
    if (endsWithIgnoreCase(path, u".url"))
      return ObjectRef(std::make_shared<WshUrlShortcut>(machine_, path));
    throw RuntimeError(hr::DispException, u"Kısayol yol adı .lnk veya .url ile bitmelidir.");
  }

public:
  static constexpr Member<WshShell> kMembers[] = {
      method<&WshShell::regRead>(u"RegRead", 1, 1),
      method<&WshShell::specialFolders>(u"SpecialFolders", 0, 1),
      method<&WshShell::createShortcut>(u"CreateShortcut", 1, 1),
      method<&WshShell::expandEnvironmentStrings>(u"ExpandEnvironmentStrings", 1, 1),
  };

private:
  const Machine& machine_;
};

} // namespace

ObjectRef makeWScriptShell(ObjectContext ctx) {
  return std::make_shared<WshShell>(ctx.machine);
}

} // namespace vk::posix
