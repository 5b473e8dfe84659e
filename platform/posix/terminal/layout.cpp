#include "platform/posix/terminal/layout.h"

#include <algorithm>

namespace vk::posix {

namespace {

// Whether the text takes more than width columns, looking no further than
// that: a long text is wrapped in one pass, not counted again per line.
bool wider(TextView text, std::size_t width) {
  std::size_t n = 0;
  for (char16_t c : text)
    if (!isLowSurrogate(c) && ++n > width) return true;
  return false;
}

// Where a line of text breaks to fit the width: after the last blank that
// fits, else (one word longer than the line) at the width itself. Returns
// the end of the first piece and the start of the rest.
std::pair<std::size_t, std::size_t> breakLine(TextView line, std::size_t width) {
  std::size_t end = 0;
  for (std::size_t cols = 0; end < line.size(); ++end) {
    if (!isLowSurrogate(line[end]) && ++cols > width) break;
  }
  if (end < line.size() && line[end] == u' ') return {end, end + 1};
  const std::size_t blank = line.rfind(u' ', end);
  if (blank != TextView::npos && blank > 0) return {blank, blank + 1};
  return {end, end};
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Turkish keyboards give "I" for the capital of "ı" and "İ" for that of
// "i"; people type either for a caption's i, so all four count as one.
Text foldTurkishI(TextView text) {
  Text out(text);
  for (auto& c : out)
    if (c == u'\u0131' || c == u'\u0130' || c == u'i') c = u'I';
  return out;
}

} // namespace

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

bool isLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

std::size_t columns(TextView text) {
  std::size_t n = 0;
  for (char16_t c : text)
    if (!isLowSurrogate(c)) ++n;
  return n;
}

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t k = 0; k < times; ++k)
    out += piece;
  return out;
}

std::string titledRule(std::string_view lead, std::string_view fill, TextView title,
                       std::size_t width) {
  std::string out(lead);
  if (title.empty()) return out += repeat(fill, width - 1) + "\n";
  const std::size_t used = 1 + 2 + columns(title) + 1;
  out += fill;
  out += ' ';
  out += screenText(title);
  out += ' ';
  out += repeat(fill, used + 3 <= width ? width - used : 3);
  return out += '\n';
}

Text shownUnits(TextView text) {
  Text shown;
  shown.reserve(text.size());
  for (std::size_t k = 0; k < text.size(); ++k) {
    const char16_t c = text[k];
    if (c == u'\r' && k + 1 < text.size() && text[k + 1] == u'\n') continue; // CR LF: the LF breaks
    if ((c < 0x20 && c != u'\n' && c != u'\t') || c == 0x7F || (c >= 0x80 && c < 0xA0))
      shown += u'\uFFFD';
    else
      shown += c;
  }
  return shown;
}

std::string screenText(TextView text) {
  return toUtf8(shownUnits(text));
}

std::string screenText(TextView text, std::size_t width) {
  width = std::max<std::size_t>(width, 1);
  const Text shown = shownUnits(text);
  Text out;
  out.reserve(shown.size() + shown.size() / 8);
  std::size_t start = 0;
  for (;;) {
    const std::size_t newline = shown.find(u'\n', start);
    TextView line =
        TextView(shown).substr(start, newline == Text::npos ? Text::npos : newline - start);
    while (wider(line, width)) {
      const auto [end, next] = breakLine(line, width);
      out += line.substr(0, end);
      out += u'\n';
      line.remove_prefix(next);
    }
    out += line;
    if (newline == Text::npos) break;
    out += u'\n';
    start = newline + 1;
  }
  return toUtf8(out);
}

std::optional<std::size_t> chooseButton(std::string_view line, const std::vector<Text>& captions,
                                        std::optional<std::size_t> defaultChoice) {
  const std::string_view s = trim(line);
  if (s.empty()) return defaultChoice;
  if (s.size() <= 9 &&
      std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    const std::size_t number = std::stoul(std::string(s));
    if (number >= 1 && number <= captions.size()) return number - 1;
    return std::nullopt;
  }
  const Text typed = foldTurkishI(fromUtf8(s));
  for (std::size_t k = 0; k < captions.size(); ++k)
    if (equalsIgnoreCase(typed, foldTurkishI(captions[k]))) return k;
  return std::nullopt;
}

std::string buttonList(const std::vector<Text>& captions, std::optional<std::size_t> def) {
  std::string s;
  for (std::size_t k = 0; k < captions.size(); ++k) {
    if (k) s += "  ";
    // Appended piece by piece: GCC 12 at -O3 takes "[" + std::string&& for
    // an overlapping copy (a false -Wrestrict).
    s += '[';
    s += std::to_string(k + 1);
    s += "] ";
    s += screenText(captions[k]);
  }
  if (def) (s += "  (Enter: ") += screenText(captions[*def]) += ')';
  return s += " > ";
}

} // namespace vk::posix
