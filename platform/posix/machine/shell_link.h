// Windows shortcut files (.lnk): the Shell Link binary format as the shell
// writes it for a shortcut to a local file.
#pragma once

#include "platform/text.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vk::posix {

inline constexpr std::uint32_t kShowNormal = 1; // SW_SHOWNORMAL
inline constexpr std::uint32_t kDriveFixed = 3; // DRIVE_FIXED

struct ShellLink {
  Text description;
  // Windows path of the target. A drive path ("C:\...") is kept in the
  // link's volume and local-path record; any other is kept only as the
  // relative path, if one is given.
  Text targetPath;
  Text relativePath; // from the link's folder, ".\Vorlan\Vorlan.exe"; "" for none
  Text workingDirectory;
  Text arguments;
  Text iconLocation;
  std::int32_t iconIndex = 0;
  std::uint32_t showCommand = kShowNormal;
  std::uint16_t hotKey = 0;

  // The target as it was when the link was saved; all zero when it was
  // missing. Times are FILETIMEs (100 ns since 1601, UTC).
  std::uint32_t fileAttributes = 0;
  std::uint64_t creationTime = 0;
  std::uint64_t accessTime = 0;
  std::uint64_t writeTime = 0;
  std::uint32_t fileSize = 0;

  // The volume the target lies on.
  std::uint32_t driveType = kDriveFixed;
  std::uint32_t driveSerialNumber = 0;
  Text volumeLabel;
};

// The file's bytes. The local path and the volume label are written twice,
// in the ANSI code page (characters it lacks as "?") and in UTF-16; the
// string fields in UTF-16. Fields longer than the format holds (65535
// characters) are cut there.
std::string serializeShellLink(const ShellLink& link, unsigned ansiCodePage);

// Reads a shortcut back; nullopt when the bytes are not one. The target is
// the local path of the volume record (its UTF-16 form when present); the
// target fields of a link without one stay empty.
std::optional<ShellLink> parseShellLink(std::string_view bytes, unsigned ansiCodePage);

// The relative path the shell keeps beside the target, from the folder of
// the link file: ".\Vorlan\Vorlan.exe", "..\Other\x.exe". "" when the two
// lie on different drives or either is not a drive path. Components match
// without regard to case.
Text relativeLinkPath(TextView linkPath, TextView targetPath);

// Whether a path is an absolute drive path ("C:\" followed by anything).
bool isDrivePath(TextView path);

// --- Shortcut files on the machine ---

class Machine;

// The shortcut at fullName as the shell loads it; nullopt when there is
// none, it is no shortcut, or its drive is not the machine's.
std::optional<ShellLink> readShortcut(const Machine& machine, const Text& fullName);

// Saves a ".lnk" shortcut at fullName as the shell does, with its relative
// path and what its target is now (attributes, size, times, its volume).
void saveShortcut(const Machine& machine, const Text& fullName, ShellLink link);

// A shortcut file's bytes, of either kind, saved at fullName in one step.
// A missing folder, a read-only shortcut or a folder of that name fails as
// the shell's Save does, with "\"<fullName>\" kısayolu kaydedilemiyor.".
void saveShortcutFile(const Machine& machine, const Text& fullName, std::string_view bytes);

} // namespace vk::posix
