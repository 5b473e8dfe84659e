#include "platform/posix/machine/machine.h"

#include "platform/errors.h"
#include "platform/posix/host/process.h"
#include "platform/posix/host/unique.h"
#include "platform/posix/machine/registry_file.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vk::posix {

namespace {

constexpr const char* kNoMachine =
    "No simulated Windows machine: set VORLANKUR_MACHINE to a folder laid out like a Wine prefix "
    "(dosdevices/c: -> ../drive_c), for example one made by scripts/make-machine.sh <folder>.";

bool isDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool existsNoFollow(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string joinHost(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// The entry of folder that Windows would open for name: the exact spelling
// when it exists, else the first entry equal to it without regard to case.
std::optional<std::string> findEntry(const std::string& folder, const Text& name) {
  const std::string exact = toUtf8(name);
  if (existsNoFollow(joinHost(folder, exact))) return exact;
  const unique_dir dir(::opendir(folder.c_str()));
  if (!dir) return std::nullopt;
  std::optional<std::string> best;
  while (const dirent* e = ::readdir(dir.get())) {
    const std::string entry = e->d_name;
    if (entry == "." || entry == "..") continue;
    if (!equalsIgnoreCase(fromUtf8(entry), name)) continue;
    if (!best || entry < *best) best = entry; // deterministic among several
  }
  return best;
}

// Where a drive link leads, spelled from the machine's root when the link is
// relative (dosdevices/c: -> ../drive_c gives <root>/drive_c).
std::optional<std::string> driveRoot(const std::string& root, char16_t letter) {
  if (letter > 0x7F) return std::nullopt;
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (lower < 'a' || lower > 'z') return std::nullopt;
  for (char l : {lower, upper}) {
    const fs::path link = fs::path(root) / "dosdevices" / (std::string(1, l) + ":");
    std::error_code ec;
    const auto status = fs::symlink_status(link, ec);
    if (ec || !fs::exists(status)) continue;
    fs::path target = link;
    if (fs::is_symlink(status)) {
      target = fs::read_symlink(link, ec);
      if (ec) continue;
      if (target.is_relative()) target = link.parent_path() / target;
    }
    target = target.lexically_normal();
    std::string out = target.string();
    while (out.size() > 1 && out.back() == '/')
      out.pop_back();
    if (!isDirectory(out)) return std::nullopt;
    return out;
  }
  return std::nullopt;
}

bool isSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

} // namespace

Machine::Machine(std::string root) {
  std::string abs = fs::absolute(fs::path(root)).lexically_normal().string();
  while (abs.size() > 1 && abs.back() == '/')
    abs.pop_back();
  root_ = abs;
  registry_ = openRegistryFiles(root_ + "/user.reg", root_ + "/system.reg");
}

Machine::~Machine() = default;

std::optional<std::string> Machine::locate(const std::string& executable, std::string* why) {
  auto fail = [&](std::string reason) -> std::optional<std::string> {
    if (why) *why = std::move(reason);
    return std::nullopt;
  };
  if (const char* env = std::getenv("VORLANKUR_MACHINE"); env && *env) {
    const std::string root = fs::absolute(fs::path(env)).lexically_normal().string();
    if (isDirectory(root + "/dosdevices")) return root;
    return fail("VORLANKUR_MACHINE names " + root +
                ", which has no dosdevices folder: point it at a folder laid out like a Wine "
                "prefix (dosdevices/c: -> ../drive_c), for example one made by "
                "scripts/make-machine.sh <folder>.");
  }
  std::error_code ec;
  fs::path exe = executable;
  if (executable.find('/') == std::string::npos) {
    // A bare name was found on PATH: ask the kernel where we run from.
    exe = executablePath();
    if (exe.empty()) return fail(kNoMachine);
  }
  fs::path folder = fs::absolute(exe, ec).lexically_normal().parent_path();
  if (ec) return fail(kNoMachine);
  for (;;) {
    if (isDirectory((folder / "dosdevices").string())) {
      std::string out = folder.string();
      while (out.size() > 1 && out.back() == '/')
        out.pop_back();
      return out;
    }
    if (folder == folder.root_path() || folder.empty()) break;
    folder = folder.parent_path();
  }
  return fail(kNoMachine);
}

std::string Machine::hostPath(const Text& windowsPath) const {
  // "X:" and a separator: anything else is relative to some current folder,
  // which this machine does not keep.
  if (windowsPath.size() < 3 || windowsPath[1] != u':' || !isSeparator(windowsPath[2]))
    throw RuntimeError(err::PathNotFound);
  const auto drive = driveRoot(root_, windowsPath[0]);
  if (!drive) throw RuntimeError(err::PathNotFound);

  // Resolve "." and ".." first, as Windows does before it touches the disk;
  // ".." at the drive root stays at the root.
  std::vector<Text> components;
  Text part;
  auto flush = [&] {
    if (part.empty() || part == u".") {
    } else if (part == u"..") {
      if (!components.empty()) components.pop_back();
    } else {
      components.push_back(part);
    }
    part.clear();
  };
  for (std::size_t i = 3; i < windowsPath.size(); ++i) {
    if (isSeparator(windowsPath[i])) {
      // A step that ends in a single period loses it ("a." is "a").
      if (part.size() > 1 && part.back() == u'.' && part.find_first_not_of(u'.') != Text::npos)
        part.pop_back();
      flush();
    } else {
      part += windowsPath[i];
    }
  }
  // A path that does not end in a separator loses its trailing periods and
  // blanks, as Windows normalizes a path before it looks at the disk.
  if (part != u"." && part != u"..")
    while (!part.empty() && (part.back() == u'.' || part.back() == u' '))
      part.pop_back();
  flush();

  std::string out = *drive;
  bool onDisk = true; // below a missing component nothing can exist
  for (const Text& c : components) {
    std::optional<std::string> entry;
    if (onDisk) entry = findEntry(out, c);
    if (!entry) {
      onDisk = false;
      entry = toUtf8(c);
    }
    out = joinHost(out, *entry);
  }
  return out;
}

std::optional<std::string> Machine::hostsFile() const {
  try {
    return hostPath(u"C:\\Windows\\System32\\drivers\\etc\\hosts");
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
}

std::optional<Text> Machine::windowsPath(const std::string& hostPath) const {
  std::error_code ec;
  const fs::path target = fs::weakly_canonical(fs::absolute(hostPath, ec), ec);
  if (ec) return std::nullopt;
  // The deepest drive wins: Wine's z: (the host's "/") holds every other one.
  std::optional<Text> best;
  std::size_t bestDepth = 0;
  for (char16_t letter = u'a'; letter <= u'z'; ++letter) {
    const auto drive = driveRoot(root_, letter);
    if (!drive) continue;
    const fs::path base = fs::weakly_canonical(*drive, ec);
    if (ec) continue;
    auto t = target.begin();
    std::size_t depth = 0;
    bool inside = true;
    for (auto b = base.begin(); b != base.end(); ++b) {
      if (b->empty()) continue; // the trailing "" of a path ending in "/"
      if (t == target.end() || *t != *b) {
        inside = false;
        break;
      }
      ++t;
      ++depth;
    }
    if (!inside || (best && depth <= bestDepth)) continue;
    Text out;
    out += static_cast<char16_t>(letter - u'a' + u'A');
    out += u":\\";
    bool first = true;
    for (; t != target.end(); ++t) {
      if (t->empty()) continue;
      if (!first) out += u'\\';
      out += fromUtf8(t->string());
      first = false;
    }
    best = out;
    bestDepth = depth;
  }
  return best;
}

const Registry& Machine::registry() const {
  return *registry_;
}

std::optional<std::uint32_t> Machine::attributes(const std::string& hostPath) {
  struct stat st {};
  if (::stat(hostPath.c_str(), &st) != 0) return std::nullopt;
  std::uint32_t attr = 0;
  if (S_ISDIR(st.st_mode))
    attr |= kAttrDirectory;
  else
    attr |= 0x20; // archive, as Windows shows a file nobody has backed up
  if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) attr |= kAttrReadOnly;
  // Wine and Samba keep the other DOS bits as "0x<hex>" text; Samba may add
  // a NUL and a binary record after it.
  char value[256];
  const ssize_t n = ::getxattr(hostPath.c_str(), "user.DOSATTRIB", value, sizeof value - 1);
  if (n > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
    value[n] = '\0';
    char* end = nullptr;
    errno = 0;
    const unsigned long bits = std::strtoul(value + 2, &end, 16);
    if (errno == 0 && end != value + 2 && *end == '\0')
      attr |= static_cast<std::uint32_t>(bits) & (kAttrHidden | kAttrSystem);
  }
  return attr;
}

Text Machine::loginName() const {
  std::string users;
  try {
    users = hostPath(u"C:\\users");
  } catch (const RuntimeError&) {
  }
  std::vector<std::string> names;
  if (const unique_dir dir(users.empty() ? nullptr : ::opendir(users.c_str())); dir) {
    while (const dirent* e = ::readdir(dir.get())) {
      const std::string name = e->d_name;
      if (name == "." || name == ".." || equalsIgnoreCase(fromUtf8(name), u"Public")) continue;
      if (isDirectory(joinHost(users, name))) names.push_back(name);
    }
  }
  if (names.size() == 1) return fromUtf8(names.front());
  if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name) return fromUtf8(pw->pw_name);
  if (const char* user = std::getenv("USER"); user && *user) return fromUtf8(user);
  return u"user";
}

unsigned Machine::ansiCodePage() const {
  constexpr unsigned kTurkish = 1254;
  const auto v = registry().read(Hive::LocalMachine,
                                 u"System\\CurrentControlSet\\Control\\Nls\\CodePage", u"ACP");
  if (!v) return kTurkish;
  if (v->type == RegValue::Type::Dword)
    return v->number ? static_cast<unsigned>(v->number) : kTurkish;
  if (v->type != RegValue::Type::Sz && v->type != RegValue::Type::ExpandSz) return kTurkish;
  unsigned long value = 0;
  if (v->text.empty()) return kTurkish;
  for (char16_t c : v->text) {
    if (c < u'0' || c > u'9') return kTurkish;
    value = value * 10 + (c - u'0');
    if (value > 0xFFFF) return kTurkish;
  }
  return value ? static_cast<unsigned>(value) : kTurkish;
}

bool Machine::is64Bit() const {
  struct stat st {};
  try {
    return ::stat(hostPath(u"C:\\Windows\\SysWOW64").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  } catch (const RuntimeError&) {
    return false; // no drive C:
  }
}

} // namespace vk::posix
