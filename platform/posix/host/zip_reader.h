// Zip archives as the host's libarchive reads them, with their entry names
// decoded as Windows decodes them.
#pragma once

#include "platform/posix/host/unique.h"
#include "platform/text.h"

#include <archive.h>
#include <archive_entry.h>

#include <locale.h>
#include <string>

namespace vk::posix {

using unique_archive = unique_any<archive*, archive_read_free>; // a reader

// libarchive converts names to the thread's locale; in a UTF-8 one, names
// marked UTF-8 arrive as they are and unmarked ones keep their bytes, which
// entryName then decodes itself. Held while an archive is read.
class Utf8Names {
public:
  Utf8Names();
  // The thread goes back to its own locale before this one is freed.
  ~Utf8Names();
  Utf8Names(const Utf8Names&) = delete;
  Utf8Names& operator=(const Utf8Names&) = delete;

private:
  unique_locale locale_;
  locale_t previous_ = locale_t(0);
};

// A reader of the zip archive at a host path; empty when it cannot be opened.
unique_archive openZip(const std::string& hostPath);

// An entry's name: UTF-8 when its bytes are UTF-8 (marked so, or written by
// a tool that did not mark it), else the OEM code page that Windows, set to
// that ANSI code page, reads them in.
Text entryName(unsigned ansiCodePage, archive_entry* e);

} // namespace vk::posix
