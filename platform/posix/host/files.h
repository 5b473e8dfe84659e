// Host files: whole reads and writes, buffers for their content, folder names.
#pragma once

#include "platform/automation.h"

#include <cstddef>
#include <optional>
#include <string>

namespace vk::posix {

// Writes all of data to fd, again after a signal; false, with errno set, on
// any failure.
bool writeAll(int fd, const void* data, std::size_t size);

// Copies what is left to read of one descriptor to another; false, with
// errno set, when a read or a write fails. A stop asked for meanwhile ends
// the program (a large copy takes long).
bool copyContents(int from, int to);

// The whole content of a host file; nullopt when it cannot be opened.
std::optional<std::string> readHostFile(const std::string& path);

// The whole content of a file of the machine (hive, hosts file, shortcut,
// authorities): only a regular file of at most cap bytes is read, and it is
// opened without waiting, so a FIFO or a device there counts as no file
// rather than holding the program or filling its memory.
std::optional<std::string> readMachineFile(const std::string& path, std::size_t cap);

// Room for size bytes with its pages made present in one call: for a
// buffer of megabytes that costs far less than a page fault every 4 KB.
void reserveAndPrefault(Bytes& b, std::size_t size);

// Whether the simulated user may write into a folder. Write bits count even
// for the host's root, as Windows' read-only folders refuse everybody.
bool folderWritable(const std::string& folder);
bool folderWritable(int folderFd);

// The folder a host path names an entry of: "." for a bare name, "/" for an
// entry of the root.
std::string parentFolder(const std::string& hostPath);

} // namespace vk::posix
