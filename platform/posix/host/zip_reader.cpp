#include "platform/posix/host/zip_reader.h"

#include <clocale>
#include <cstdint>
#include <iconv.h>

namespace vk::posix {

namespace {

using unique_iconv = unique_any<iconv_t, ::iconv_close, std::intptr_t{-1}>;

// Names in zip archives that do not say they are UTF-8 are in the OEM code
// page of the Windows that made them; take the one that goes with the
// machine's ANSI code page.
const char* oemCharset(unsigned ansiCodePage) {
  switch (ansiCodePage) {
  case 1250:
    return "CP852";
  case 1251:
    return "CP866";
  case 1252:
    return "CP850";
  case 1253:
    return "CP737";
  case 1254:
    return "CP857";
  case 1255:
    return "CP862";
  case 1257:
    return "CP775";
  default:
    return "CP437";
  }
}

} // namespace

Utf8Names::Utf8Names() {
  for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
    locale_.reset(::newlocale(LC_CTYPE_MASK, name, locale_t(0)));
    if (locale_) break;
  }
  if (locale_) previous_ = ::uselocale(locale_.get());
}

// The thread goes back to its own locale before this one is freed.
Utf8Names::~Utf8Names() {
  if (locale_) ::uselocale(previous_);
}

unique_archive openZip(const std::string& hostPath) {
  unique_archive a(archive_read_new());
  if (!a) return {};
  archive_read_support_format_zip(a.get());
  if (archive_read_open_filename(a.get(), hostPath.c_str(), 64 * 1024) != ARCHIVE_OK) return {};
  return a;
}

Text entryName(unsigned ansiCodePage, archive_entry* e) {
  const char* raw = archive_entry_pathname(e);
  if (!raw) raw = archive_entry_pathname_utf8(e);
  if (!raw) return Text();
  const std::string bytes = raw;
  Text name = fromUtf8(bytes);
  if (toUtf8(name) == bytes) return name;
  const unique_iconv cd(::iconv_open("UTF-8", oemCharset(ansiCodePage)));
  if (!cd) return name;
  std::string out(bytes.size() * 4, '\0');
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char* to = out.data();
  std::size_t outLeft = out.size();
  if (::iconv(cd.get(), &in, &inLeft, &to, &outLeft) == static_cast<std::size_t>(-1)) return name;
  out.resize(out.size() - outLeft);
  return fromUtf8(out);
}

} // namespace vk::posix
