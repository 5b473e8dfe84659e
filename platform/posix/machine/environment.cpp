#include "platform/posix/machine/environment.h"

#include "platform/errors.h"

#include <sys/stat.h>

namespace vk::posix {

namespace {

constexpr const char16_t* kSystemEnvironment =
    u"System\\CurrentControlSet\\Control\\Session Manager\\Environment";

bool is(TextView a, TextView b) {
  return equalsIgnoreCase(a, b);
}

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
} // namespace

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

std::optional<Text> MachineEnvironment::lookup(TextView name, int depth) const {
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

Text MachineEnvironment::expand(TextView text, int depth) const {
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

bool MachineEnvironment::has64BitLayout() const {
  try {
    struct stat st {};
    return ::stat(machine_.hostPath(u"C:\\windows\\syswow64").c_str(), &st) == 0 &&
           S_ISDIR(st.st_mode);
  } catch (const RuntimeError&) {
    return false;
  }
}

std::optional<Text> MachineEnvironment::derived(const Text& name) const {
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

RegistryPath splitRegistryPath(const Text& path) {
  const std::size_t first = path.find(u'\\');
  if (first == Text::npos) throw RuntimeError(hr::PathNotFound, registryPathError(path));
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
    throw RuntimeError(hr::PathNotFound, registryPathError(path));

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

Text registryPathError(const Text& path) {
  return u"Kayıt defteri anahtarında geçersiz kök \"" + path + u"\".";
}

Text thirtyTwoBitView(const Text& key) {
  // Keys of Software that both views share (Classes is sorted out item by
  // item, as COM's matter), and the 32-bit view itself.
  static constexpr std::u16string_view kShared[] = {u"Classes", u"Clients", u"Policies",
                                                    u"WOW6432Node"};
  constexpr std::u16string_view kSoftware = u"Software";
  const TextView k(key);
  if (k.size() < kSoftware.size() || !equalsIgnoreCase(k.substr(0, kSoftware.size()), kSoftware) ||
      (k.size() > kSoftware.size() && k[kSoftware.size()] != u'\\'))
    return key;
  const TextView rest = k.size() > kSoftware.size() ? k.substr(kSoftware.size() + 1) : TextView();
  const TextView first = rest.substr(0, rest.find(u'\\'));
  for (const auto shared : kShared)
    if (equalsIgnoreCase(first, shared)) return key;
  // Appended piece by piece: GCC 12 takes a chain of + for an overlapping
  // copy (a false -Wrestrict).
  Text view(k.substr(0, kSoftware.size()));
  view += u"\\WOW6432Node";
  if (!rest.empty()) {
    view += u'\\';
    view += rest;
  }
  return view;
}

} // namespace vk::posix
