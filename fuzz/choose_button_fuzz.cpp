// The terminal's reading of a typed line and its showing of texts. The
// choice is a button there is, or none; a number picks by position; each
// caption typed back picks that caption (or the first one equal to it
// without regard to case). What the screen shows of any text holds no
// control character but the line break and the tab, and lines broken to a
// width fit it.
#include "fuzz/check.h"
#include "platform/posix/terminal/layout.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

namespace {

using namespace vk;

// The blanks a typed line is trimmed of.
bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

void checkShown(const std::string& shown) {
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const auto c = static_cast<unsigned char>(shown[i]);
    VK_FUZZ_CHECK(c >= 0x20 || c == '\n' || c == '\t');
    VK_FUZZ_CHECK(c != 0x7F);
    // U+0080-U+009F, the C1 controls, are C2 80 - C2 9F in UTF-8.
    if (c == 0xC2 && i + 1 < shown.size())
      VK_FUZZ_CHECK(!(static_cast<unsigned char>(shown[i + 1]) < 0xA0));
  }
}

// Characters of a UTF-8 line, as the screen counts columns.
std::size_t columns(std::string_view line) {
  return static_cast<std::size_t>(
      std::count_if(line.begin(), line.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::size_t width = in.ConsumeIntegralInRange<std::size_t>(1, 80);
  const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(1, 6);
  const bool hasDefault = in.ConsumeBool();
  const std::size_t def = in.ConsumeIntegralInRange<std::size_t>(0, count - 1);
  std::vector<Text> captions;
  for (std::size_t k = 0; k < count; ++k)
    captions.push_back(fromUtf8(in.ConsumeRandomLengthString(24)));
  const std::string line = in.ConsumeRemainingBytesAsString();
  const std::optional<std::size_t> defaultChoice =
      hasDefault ? std::optional<std::size_t>(def) : std::nullopt;

  const auto choice = posix::chooseButton(line, captions, defaultChoice);
  VK_FUZZ_CHECK(!choice || *choice < captions.size());
  VK_FUZZ_CHECK(posix::chooseButton("", captions, defaultChoice) == defaultChoice);
  for (std::size_t k = 0; k < captions.size(); ++k) {
    VK_FUZZ_CHECK(posix::chooseButton(std::to_string(k + 1), captions, std::nullopt) == k);
    const std::string typed = toUtf8(captions[k]);
    const bool plain = !typed.empty() && fromUtf8(typed) == captions[k] &&
                       !isBlank(typed.front()) && !isBlank(typed.back()) &&
                       typed.find_first_not_of("0123456789") != std::string::npos;
    if (!plain) continue;
    const auto picked = posix::chooseButton(typed, captions, std::nullopt);
    VK_FUZZ_CHECK(picked && *picked <= k);
  }

  const Text text = fromUtf8(line);
  checkShown(posix::screenText(text));
  const std::string wrapped = posix::screenText(text, width);
  checkShown(wrapped);
  for (std::size_t start = 0; start <= wrapped.size();) {
    std::size_t end = wrapped.find('\n', start);
    if (end == std::string::npos) end = wrapped.size();
    VK_FUZZ_CHECK(columns(std::string_view(wrapped).substr(start, end - start)) <= width);
    start = end + 1;
  }
  return 0;
}
