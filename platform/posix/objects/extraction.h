// Unpacking a folder of a zip archive, or copying files and folders of the
// machine, into one folder of the machine, asking and telling as Windows'
// shell does.
#pragma once

#include "platform/posix/objects/objects.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vk::posix {

// CopyHere's options that are honoured.
inline constexpr int FOF_NOCONFIRMATION = 16; // "Yes" to every replace question
inline constexpr int FOF_NOERRORUI = 1024;    // no error boxes

// One entry of a folder of an archive, as its Items show it.
struct TopEntry {
  Text name;
  bool isFolder = false;
  std::int64_t size = 0; // a file's, as the archive lists it
};

// Whether an entry's steps lie under the folder whose steps are base
// (matched as Windows matches names), and below it rather than at it.
inline bool under(const std::vector<Text>& parts, const std::vector<Text>& base) {
  if (parts.size() <= base.size()) return false;
  for (std::size_t i = 0; i < base.size(); ++i)
    if (!equalsIgnoreCase(parts[i], base[i])) return false;
  return true;
}

// An entry of an archive as its folders show it: the steps of its name (a
// name Windows would not make among them), folder or file, a file's size.
struct IndexEntry {
  std::vector<Text> parts;
  bool isFolder = false;
  std::int64_t size = 0;
};
using ArchiveIndex = std::vector<IndexEntry>;

// The archive's entries, read from its headers; none when it cannot be read.
std::shared_ptr<const ArchiveIndex> readArchiveIndex(const Machine& machine,
                                                     const std::string& hostPath);

// The entries of the archive's folder base ({} for its top level).
std::vector<TopEntry> listTopLevel(const ArchiveIndex& index, const std::vector<Text>& base);

// A folder of an archive as the shell sees it: the archive itself (base
// empty), or a folder inside it, which the shell shows as a folder of its own.
struct ZipSource {
  std::string hostPath;
  Text windowsPath; // the archive's
  std::vector<Text> base;
  // Read when first needed and shared by the archive's folders and items,
  // so the headers of thousands of entries are read once, not per folder.
  mutable std::shared_ptr<const ArchiveIndex> index = nullptr;

  const ArchiveIndex& entries(const Machine& machine) const {
    if (!index) index = readArchiveIndex(machine, hostPath);
    return *index;
  }

  Text folderPath() const {
    Text path = windowsPath;
    for (const Text& step : base)
      path += u"\\" + step;
    return path;
  }
};

// A selection of the entries of an archive's folder: all of them, or those
// under the given names.
struct ZipSelection {
  std::shared_ptr<const ZipSource> source;
  bool all = true;
  std::vector<Text> names;

  bool covers(const std::vector<Text>& parts) const {
    if (!under(parts, source->base)) return false;
    if (all) return true;
    for (const auto& n : names)
      if (equalsIgnoreCase(n, parts[source->base.size()])) return true;
    return false;
  }
};

// Unpacks the selection into the folder destFd stands for.
void extractInto(ObjectContext ctx, int destFd, int options, const ZipSelection& selection);

// A file or folder of the machine (host path) and the name it gets there.
struct CopySource {
  std::string hostPath;
  Text name;
};
// Copies them, folders with everything under them, into the folder destFd
// stands for.
void copyInto(ObjectContext ctx, int destFd, int options, const std::vector<CopySource>& sources);

} // namespace vk::posix
