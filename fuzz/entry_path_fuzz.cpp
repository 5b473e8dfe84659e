// The archive entry-name check on any name: a name it lets through has only
// plain steps, and judging those steps again gives them back unchanged.
#include "fuzz/check.h"
#include "platform/posix/machine/entry_path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vk;
  using Verdict = posix::EntryPath::Verdict;
  const Text name = fromUtf8(fuzz::bytes(data, size));
  const posix::EntryPath p = posix::judge(name);
  if (p.verdict != Verdict::Good) return 0;
  VK_FUZZ_CHECK(!p.parts.empty());
  VK_FUZZ_CHECK(name[0] != u'/' && name[0] != u'\\');
  VK_FUZZ_CHECK(name.size() < 2 || name[1] != u':');
  Text joined;
  for (const Text& part : p.parts) {
    VK_FUZZ_CHECK(!part.empty() && part != u"." && part != u"..");
    VK_FUZZ_CHECK(part.find_first_of(u"/\\") == Text::npos);
    if (!joined.empty()) joined += u'\\';
    joined += part;
  }
  const posix::EntryPath again = posix::judge(joined);
  VK_FUZZ_CHECK(again.verdict == Verdict::Good && again.parts == p.parts);
  return 0;
}
