// Shortcut files both ways. Any bytes are read without fault, and a link
// read from them is written and read back to the same link. A link built
// from the input is written and read back field for field: the target and
// its volume only for a drive path, as the format keeps them.
#include "fuzz/check.h"
#include "platform/posix/machine/codepage.h"
#include "platform/posix/machine/shell_link.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

using namespace vk;

bool sameLink(const posix::ShellLink& a, const posix::ShellLink& b) {
  return a.description == b.description && a.targetPath == b.targetPath &&
         a.relativePath == b.relativePath && a.workingDirectory == b.workingDirectory &&
         a.arguments == b.arguments && a.iconLocation == b.iconLocation &&
         a.iconIndex == b.iconIndex && a.showCommand == b.showCommand && a.hotKey == b.hotKey &&
         a.fileAttributes == b.fileAttributes && a.creationTime == b.creationTime &&
         a.accessTime == b.accessTime && a.writeTime == b.writeTime && a.fileSize == b.fileSize &&
         a.driveType == b.driveType && a.driveSerialNumber == b.driveSerialNumber &&
         a.volumeLabel == b.volumeLabel;
}

// What the format keeps of a link: the target and its volume only for a
// drive path.
posix::ShellLink kept(posix::ShellLink link) {
  if (!posix::isDrivePath(link.targetPath)) {
    link.targetPath.clear();
    link.driveType = posix::kDriveFixed;
    link.driveSerialNumber = 0;
    link.volumeLabel.clear();
  }
  return link;
}

Text someText(FuzzedDataProvider& in, bool nulFree) {
  Text t;
  for (std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, 40); n > 0; --n) {
    // Mostly ASCII and the Turkish letters, now and then any unit at all.
    static constexpr char16_t kCommon[] = u"C:\\ab.x Çıİşğü€\u00ff";
    auto c = in.ConsumeBool() ? kCommon[in.ConsumeIntegralInRange<std::size_t>(0, 16)]
                              : in.ConsumeIntegral<char16_t>();
    if (nulFree && c == 0) c = u'0';
    t += c;
  }
  return t;
}

// The page a link is read in: the two known, UTF-8 and an unknown one.
unsigned somePage(FuzzedDataProvider& in) {
  constexpr unsigned kPages[] = {posix::kCodePageTurkish, posix::kCodePageWestern,
                                 posix::kCodePageUtf8, 437};
  return kPages[in.ConsumeIntegralInRange<std::size_t>(0, 3)];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = fuzz::bytes(data, size);
  for (unsigned page : {posix::kCodePageTurkish, posix::kCodePageUtf8}) {
    if (const auto link = posix::parseShellLink(bytes, page)) {
      const posix::ShellLink expected = kept(*link);
      const auto again = posix::parseShellLink(posix::serializeShellLink(*link, page), page);
      VK_FUZZ_CHECK(again && sameLink(*again, expected));
    }
  }

  FuzzedDataProvider in(data, size);
  const unsigned page = somePage(in);
  posix::ShellLink link;
  // The target and the label are kept NUL-terminated; a NUL would end them.
  link.targetPath = (in.ConsumeBool() ? Text(u"C:\\") : Text()) + someText(in, true);
  link.volumeLabel = someText(in, true);
  link.description = someText(in, false);
  link.relativePath = someText(in, false);
  link.workingDirectory = someText(in, false);
  link.arguments = someText(in, false);
  link.iconLocation = someText(in, false);
  link.iconIndex = in.ConsumeIntegral<std::int32_t>();
  link.showCommand = in.ConsumeIntegral<std::uint32_t>();
  link.hotKey = in.ConsumeIntegral<std::uint16_t>();
  link.fileAttributes = in.ConsumeIntegral<std::uint32_t>();
  link.creationTime = in.ConsumeIntegral<std::uint64_t>();
  link.accessTime = in.ConsumeIntegral<std::uint64_t>();
  link.writeTime = in.ConsumeIntegral<std::uint64_t>();
  link.fileSize = in.ConsumeIntegral<std::uint32_t>();
  link.driveType = in.ConsumeIntegral<std::uint32_t>();
  link.driveSerialNumber = in.ConsumeIntegral<std::uint32_t>();

  const auto back = posix::parseShellLink(posix::serializeShellLink(link, page), page);
  VK_FUZZ_CHECK(back && sameLink(*back, kept(link)));
  return 0;
}
