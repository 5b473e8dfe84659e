// The command-line splitter. Any line splits without fault; a line without
// quotes splits at its blanks alone; and arguments quoted the way Windows
// programs quote them for CommandLineToArgvW come back as they were.
#include "fuzz/check.h"
#include "platform/posix/runtime_posix.h"

namespace {

using namespace vk;

bool isBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

// The usual quoting of one argument: as it is when it needs none, else in
// quotes with backslashes doubled before a quote, escaped or closing.
Text quote(const Text& arg) {
  if (!arg.empty() && arg.find_first_of(u" \t\"") == Text::npos) return arg;
  Text out = u"\"";
  std::size_t backslashes = 0;
  for (char16_t c : arg) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, u'\\');
  return out += u'"';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Text line = fromUtf8(fuzz::bytes(data, size));
  const std::vector<Text> args = posix::splitArguments(line);

  if (line.find(u'"') == Text::npos) {
    std::vector<Text> words;
    Text word;
    for (char16_t c : line + u' ') {
      if (!isBlank(c)) {
        word += c;
      } else if (!word.empty()) {
        words.push_back(std::move(word));
        word.clear();
      }
    }
    VK_FUZZ_CHECK(args == words);
  }

  // The input again, as arguments separated by NULs, quoted and joined.
  std::vector<Text> wanted(1);
  for (char16_t c : line) {
    if (c == u'\0')
      wanted.emplace_back();
    else
      wanted.back() += c;
  }
  Text joined;
  for (const Text& a : wanted) {
    if (!joined.empty()) joined += u' ';
    joined += quote(a);
  }
  VK_FUZZ_CHECK(posix::splitArguments(joined) == wanted);
  return 0;
}
