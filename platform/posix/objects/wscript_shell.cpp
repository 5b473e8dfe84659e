// "WScript.Shell": registry reading, special folders and shortcuts, as
// Windows Script Host gives them, on the simulated machine.
#include "platform/posix/machine/codepage.h"
#include "platform/posix/machine/environment.h"
#include "platform/posix/machine/shell_link.h"
#include "platform/posix/objects/members.h"
#include "platform/posix/objects/objects.h"

#include <string_view>

namespace vk::posix {

namespace {

bool endsWithIgnoreCase(TextView text, TextView suffix) {
  return text.size() >= suffix.size() &&
         equalsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

// --- files ---

// --- shortcuts ---

// A ".lnk" shortcut. Nothing is written before Save; a shortcut that exists
// already starts with its fields, as the shell loads it.
class WshShortcut final : public TableObject<WshShortcut> {
public:
  WshShortcut(const Machine& machine, Text fullName)
      : machine_(machine), fullName_(std::move(fullName)) {
    if (auto link = readShortcut(machine_, fullName_)) link_ = *link;
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

  void save() { saveShortcut(machine_, fullName_, link_); }

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
    saveShortcutFile(machine_, fullName_,
                     "[InternetShortcut]\r\nURL=" + encodeAnsi(target_, machine_.ansiCodePage()) +
                         "\r\n");
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
