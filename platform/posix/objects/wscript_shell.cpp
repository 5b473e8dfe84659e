// "WScript.Shell": registry reading, special folders and shortcuts, as
// Windows Script Host gives them, on the simulated machine.
#include "platform/posix/host/error_number.h"
#include "platform/posix/host/files.h"
#include "platform/posix/host/temp_file.h"
#include "platform/posix/machine/codepage.h"
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

bool is(TextView member, TextView name) {
  return equalsIgnoreCase(member, name);
}

bool endsWithIgnoreCase(TextView text, TextView suffix) {
  return text.size() >= suffix.size() &&
         equalsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

// --- environment strings ---

// The environment a program of this machine starts with: the variables the
// user's and the system's registry keys define, and those Windows derives
// from the profile. Names match without regard to case.
class MachineEnvironment {
public:
  explicit MachineEnvironment(const Machine& machine) : machine_(machine) {}

  std::optional<Text> lookup(TextView name, int depth = 0) const {
    if (depth > 8) return std::nullopt; // variables defined through each other
    const Text key(name);
    for (const auto& [hive, path] : {std::pair{Hive::CurrentUser, u"Environment"},
                                     std::pair{Hive::LocalMachine, kSystemEnvironment}}) {
      const auto v = machine_.registry().read(hive, path, key);
      if (!v) continue;
      if (v->type == RegValue::Type::Sz) return v->text;
      if (v->type == RegValue::Type::ExpandSz) return expand(v->text, depth + 1);
    }
    return derived(key);
  }

  // ExpandEnvironmentStrings: "%NAME%" becomes the variable's value; an
  // undefined name, and an unclosed "%", stay as they are.
  Text expand(TextView text, int depth = 0) const {
    Text out;
    std::size_t i = 0;
    while (i < text.size()) {
      if (text[i] != u'%') {
        out += text[i++];
        continue;
      }
      const std::size_t close = text.find(u'%', i + 1);
      if (close == TextView::npos) {
        out += text.substr(i);
        break;
      }
      const TextView name = text.substr(i + 1, close - i - 1);
      const auto value = name.empty() ? std::nullopt : lookup(name, depth);
      out += value ? *value : Text(text.substr(i, close - i + 1));
      i = close + 1;
    }
    return out;
  }

private:
  static constexpr const char16_t* kSystemEnvironment =
      u"System\\CurrentControlSet\\Control\\Session Manager\\Environment";

  bool has64BitLayout() const {
    try {
      struct stat st {};
      return ::stat(machine_.hostPath(u"C:\\windows\\syswow64").c_str(), &st) == 0 &&
             S_ISDIR(st.st_mode);
    } catch (const RuntimeError&) {
      return false;
    }
  }

  std::optional<Text> derived(const Text& name) const {
    const Text login = machine_.loginName();
    const Text profile = u"C:\\users\\" + login;
    // The setup tool is a 32-bit program: on a 64-bit Windows its
    // ProgramFiles is the (x86) folder.
    const bool wow64 = has64BitLayout();
    const Text programFiles = wow64 ? u"C:\\Program Files (x86)" : u"C:\\Program Files";
    const std::pair<const char16_t*, Text> vars[] = {
        {u"SystemDrive", u"C:"},
        {u"SystemRoot", u"C:\\windows"},
        {u"windir", u"C:\\windows"},
        {u"USERNAME", login},
        {u"USERPROFILE", profile},
        {u"HOMEDRIVE", u"C:"},
        {u"HOMEPATH", u"\\users\\" + login},
        {u"APPDATA", profile + u"\\AppData\\Roaming"},
        {u"LOCALAPPDATA", profile + u"\\AppData\\Local"},
        {u"TEMP", profile + u"\\AppData\\Local\\Temp"},
        {u"TMP", profile + u"\\AppData\\Local\\Temp"},
        {u"ProgramData", u"C:\\ProgramData"},
        {u"ALLUSERSPROFILE", u"C:\\ProgramData"},
        {u"PUBLIC", u"C:\\users\\Public"},
        {u"ProgramFiles", programFiles},
        {u"CommonProgramFiles", programFiles + u"\\Common Files"},
    };
    for (const auto& [var, value] : vars)
      if (equalsIgnoreCase(var, name)) return value;
    if (wow64) {
      if (equalsIgnoreCase(name, u"ProgramFiles(x86)")) return Text(u"C:\\Program Files (x86)");
      if (equalsIgnoreCase(name, u"ProgramW6432")) return Text(u"C:\\Program Files");
    }
    return std::nullopt;
  }

  const Machine& machine_;
};

// --- files ---

[[noreturn]] void failSave(const Text& fullName, std::int32_t number) {
  throw RuntimeError(number, u"\"" + fullName + u"\" kısayolu kaydedilemiyor.");
}

// The HRESULT of a failed save, by the run-time's number for its errno.
std::int32_t hresultOf(int error) {
  const std::optional<err::Code> number = runtimeNumber(error);
  if (number == err::PermissionDenied) return hr::AccessDenied;
  if (number == err::PathNotFound) return hr::PathNotFound;
  if (number == err::DiskFull) return hr::DiskFull;
  return hr::Fail;
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

  TempFile temp(AT_FDCWD, folder + "/.vk-save-", 0600);
  if (!temp) failSave(fullName, hresultOf(errno));
  // A failure below removes the temporary file as temp goes.
  if (!writeAll(temp.fd(), bytes.data(), bytes.size())) failSave(fullName, hresultOf(errno));
  if (::fchmod(temp.fd(), 0644) != 0 || ::fsync(temp.fd()) != 0)
    failSave(fullName, hresultOf(errno));
  if (!temp.close()) failSave(fullName, hresultOf(errno));
  if (!temp.replace(hostFile)) failSave(fullName, hresultOf(errno));
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

struct RegistryPath {
  enum Root { CurrentUser, LocalMachine, ClassesRoot, Unkept } root = CurrentUser;
  Text key;
  Text name; // "" for the key's default value
};

Text specialFolder(const Machine& machine, const Text& name);

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

constexpr const char16_t* kShellFolders =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

Text registryFolder(const Machine& machine, Hive hive, const Text& valueName) {
  const auto v = machine.registry().read(hive, kShellFolders, valueName);
  if (!v) return Text();
  // A string ends at its first NUL, as the shell reads it and RegRead does.
  const Text text = v->text.substr(0, v->text.find(u'\0'));
  Text path;
  if (v->type == RegValue::Type::Sz)
    path = text;
  else if (v->type == RegValue::Type::ExpandSz)
    path = MachineEnvironment(machine).expand(text);
  // Folder paths come without a trailing "\"; a drive root keeps its own.
  while (path.size() > 3 && path.back() == u'\\')
    path.pop_back();
  return path;
}

// The folder WSH gives for one of its special folder names; "" for a name it
// does not know. Only the desktop has a fallback when the registry lacks it:
// the others exist on a Windows machine only once its shell has made them.
Text specialFolder(const Machine& machine, const Text& name) {
  if (equalsIgnoreCase(name, u"Desktop")) {
    Text path = registryFolder(machine, Hive::CurrentUser, u"Desktop");
    if (path.empty()) path = u"C:\\users\\" + machine.loginName() + u"\\Desktop";
    return path;
  }
  // WSH's names and the registry values of the folders they stand for.
  const std::pair<const char16_t*, const char16_t*> userFolders[] = {
      {u"Favorites", u"Favorites"}, {u"Fonts", u"Fonts"},         {u"MyDocuments", u"Personal"},
      {u"NetHood", u"NetHood"},     {u"PrintHood", u"PrintHood"}, {u"Programs", u"Programs"},
      {u"Recent", u"Recent"},       {u"SendTo", u"SendTo"},       {u"StartMenu", u"Start Menu"},
      {u"Startup", u"Startup"},     {u"Templates", u"Templates"},
  };
  for (const auto& [wsh, value] : userFolders)
    if (equalsIgnoreCase(name, wsh)) return registryFolder(machine, Hive::CurrentUser, value);
  const std::pair<const char16_t*, const char16_t*> commonFolders[] = {
      {u"AllUsersDesktop", u"Common Desktop"},
      {u"AllUsersStartMenu", u"Common Start Menu"},
      {u"AllUsersPrograms", u"Common Programs"},
      {u"AllUsersStartup", u"Common Startup"},
  };
  for (const auto& [wsh, value] : commonFolders)
    if (equalsIgnoreCase(name, wsh)) return registryFolder(machine, Hive::LocalMachine, value);
  return Text();
}

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
  static RegistryPath splitPath(const Text& path) {
    const std::size_t first = path.find(u'\\');
    if (first == Text::npos) throw RuntimeError(hr::PathNotFound, rootError(path));
    const TextView root = TextView(path).substr(0, first);
    RegistryPath out;
    if (is(root, u"HKEY_CURRENT_USER") || is(root, u"HKCU"))
      out.root = RegistryPath::CurrentUser;
    else if (is(root, u"HKEY_LOCAL_MACHINE") || is(root, u"HKLM"))
      out.root = RegistryPath::LocalMachine;
    else if (is(root, u"HKEY_CLASSES_ROOT") || is(root, u"HKCR"))
      out.root = RegistryPath::ClassesRoot;
    else if (is(root, u"HKEY_USERS") || is(root, u"HKEY_CURRENT_CONFIG"))
      out.root = RegistryPath::Unkept;
    else
      throw RuntimeError(hr::PathNotFound, rootError(path));

    const Text rest = path.substr(first + 1);
    if (rest.empty() || rest.back() == u'\\') {
      out.key = rest.empty() ? rest : rest.substr(0, rest.size() - 1);
    } else {
      const std::size_t last = rest.rfind(u'\\');
      out.key = last == Text::npos ? Text() : rest.substr(0, last);
      out.name = last == Text::npos ? rest : rest.substr(last + 1);
    }
    return out;
  }

  static Text rootError(const Text& path) {
    return u"Kayıt defteri anahtarında geçersiz kök \"" + path + u"\".";
  }

  Variant regRead(const Text& path) const {
    const RegistryPath p = splitPath(path);

    // Where the key may be: HKEY_CLASSES_ROOT is the user's classes over the
    // machine's; HKEY_USERS and HKEY_CURRENT_CONFIG hold nothing here.
    std::vector<std::pair<Hive, Text>> places;
    switch (p.root) {
    case RegistryPath::CurrentUser:
      places = {{Hive::CurrentUser, p.key}};
      break;
    case RegistryPath::LocalMachine:
      places = {{Hive::LocalMachine, p.key}};
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
    if (!keyFound) throw RuntimeError(hr::FileNotFound, rootError(path));
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
