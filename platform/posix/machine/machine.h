// The simulated Windows machine: a folder laid out like a Wine prefix.
//
//   <root>/dosdevices/c:  -> ../drive_c     drive letters are links
//   <root>/user.reg                          HKEY_CURRENT_USER, Wine's text format
//   <root>/system.reg                        HKEY_LOCAL_MACHINE
//   <root>/ca-certificates.pem               extra trusted authorities (optional)
#pragma once

#include "platform/text.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vk::posix {

enum class Hive { CurrentUser, LocalMachine };

struct RegValue {
  enum class Type { None, Sz, ExpandSz, MultiSz, Dword, Qword, Binary };
  Type type = Type::None;
  Text text;                      // Sz, ExpandSz
  std::vector<Text> strings;      // MultiSz
  std::uint64_t number = 0;       // Dword, Qword
  std::vector<std::uint8_t> data; // Binary and the raw bytes of any hex(n) value
};

// Read access to the two hive files; key and value names match without
// regard to case. The files are read once, when the registry is created.
class Registry {
public:
  virtual ~Registry() = default;
  // name "" is the key's default value.
  virtual std::optional<RegValue> read(Hive hive, const Text& key, const Text& name) const = 0;
  virtual bool keyExists(Hive hive, const Text& key) const = 0;
};

// DOS attribute bits as Windows keeps them.
inline constexpr std::uint32_t kAttrReadOnly = 0x1;
inline constexpr std::uint32_t kAttrHidden = 0x2;
inline constexpr std::uint32_t kAttrSystem = 0x4;
inline constexpr std::uint32_t kAttrDirectory = 0x10;

// What no Windows file name may hold: control characters and <>:"|?*.
inline bool refusedInFileNames(char16_t c) {
  return c < 0x20 || TextView(u"<>:\"|?*").find(c) != TextView::npos;
}

class Machine {
public:
  // root: the prefix folder (must hold dosdevices/).
  explicit Machine(std::string root);
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // VORLANKUR_MACHINE, else the nearest ancestor of the executable's folder
  // that has dosdevices/. On failure, nullopt and *why says how to make one.
  static std::optional<std::string> locate(const std::string& executable, std::string* why);

  const std::string& root() const { return root_; }

  // Windows path -> host path. "C:\a\b" and "c:/a/b" alike; each component
  // that exists is matched without regard to case, the rest keep their
  // spelling; empty components (a doubled "\") are skipped as Windows does.
  // Throws RuntimeError 76 for a relative path or a drive the machine lacks.
  std::string hostPath(const Text& windowsPath) const;
  // Host path -> Windows path through the drive links, nullopt when the
  // path lies on no drive. A drive root keeps its "\" ("C:\").
  std::optional<Text> windowsPath(const std::string& hostPath) const;

  // Host path of the hosts file (C:\Windows\System32\drivers\etc\hosts),
  // nullopt when the machine has no drive C:.
  std::optional<std::string> hostsFile() const;
  // Host path of the extra authorities the machine trusts besides the
  // host's; the file may be missing.
  std::string authoritiesFile() const { return root_ + "/ca-certificates.pem"; }

  const Registry& registry() const;
  // DOS attributes of a host file (hidden/system from user.DOSATTRIB,
  // read-only from the write permission, directory from its type).
  static std::optional<std::uint32_t> attributes(const std::string& hostPath);

  // Whether this is 64-bit Windows (it has C:\Windows\SysWOW64), on which
  // the 32-bit setup tool sees the 32-bit view of the machine's software.
  bool is64Bit() const;

  Text loginName() const; // the user the desktop belongs to
  unsigned
  ansiCodePage() const; // HKLM\System\CurrentControlSet\Control\Nls\CodePage\ACP, else 1254

private:
  std::string root_;
  std::unique_ptr<Registry> registry_;
};

} // namespace vk::posix
