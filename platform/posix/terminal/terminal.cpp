#include "platform/posix/terminal/terminal.h"

#include "platform/errors.h"
#include "platform/posix/host/stop_signals.h"
#include "platform/posix/host/unique.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace vk::posix {

namespace {

bool isLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// Columns a text takes, counting each character once (a surrogate pair is
// one character); enough for the Latin texts this screen shows.
std::size_t columns(TextView text) {
  std::size_t n = 0;
  for (char16_t c : text)
    if (!isLowSurrogate(c)) ++n;
  return n;
}

// Whether the text takes more than width columns, looking no further than
// that: a long text is wrapped in one pass, not counted again per line.
bool wider(TextView text, std::size_t width) {
  std::size_t n = 0;
  for (char16_t c : text)
    if (!isLowSurrogate(c) && ++n > width) return true;
  return false;
}

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t k = 0; k < times; ++k)
    out += piece;
  return out;
}

// "<lead> <title> <fill...>" to the width, or a plain rule.
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

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

// Turkish keyboards give "I" for the capital of "ı" and "İ" for that of
// "i"; people type either for a caption's i, so all four count as one.
Text foldTurkishI(TextView text) {
  Text out(text);
  for (auto& c : out)
    if (c == u'\u0131' || c == u'\u0130' || c == u'i') c = u'I';
  return out;
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

struct BoxButton {
  const char16_t* caption;
  int result;
};

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

// The buttons of each set, in the order a Turkish Windows shows them.
std::vector<BoxButton> boxButtons(int set) {
  switch (set) {
  case 0:
    return {{u"Tamam", kIdOk}};
  case 1:
    return {{u"Tamam", kIdOk}, {u"İptal", kIdCancel}};
  case 2:
    return {{u"Durdur", 3}, {u"Yeniden Dene", 4}, {u"Yoksay", 5}};
  case 3:
    return {{u"Evet", 6}, {u"Hayır", 7}, {u"İptal", kIdCancel}};
  case 4:
    return {{u"Evet", 6}, {u"Hayır", 7}};
  case 5:
    return {{u"Yeniden Dene", 4}, {u"İptal", kIdCancel}};
  default:
    throw RuntimeError(err::InvalidCall);
  }
}

const char* iconWord(int icon) {
  switch (icon) {
  case 16:
    return "(x)";
  case 32:
    return "(?)";
  case 48:
    return "(!)";
  case 64:
    return "(i)";
  default:
    return nullptr;
  }
}

} // namespace

// --- Terminal ---------------------------------------------------------------

Terminal::Terminal(std::FILE* in, std::FILE* out, std::optional<bool> echoInput,
                   std::optional<std::size_t> columns)
    : in_(in), out_(out), echo_(echoInput ? *echoInput : !isatty(fileno(in))),
      statusInPlace_(isatty(fileno(out)) != 0), columns_(columns) {}

std::size_t Terminal::width() const {
  std::size_t columns = columns_.value_or(kFrameWidth);
  // Asked each time: the terminal may have been resized since.
  winsize size{};
  if (!columns_ && ::ioctl(fileno(out_), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
    columns = size.ws_col;
  return std::clamp<std::size_t>(columns, 8, kFrameWidth);
}

std::optional<std::string> Terminal::rawLine() {
  const int fd = fileno(in_);
  if (fd < 0) { // a stream in memory: nothing to wait for
    unique_malloc_chars buffer;
    std::size_t capacity = 0;
    const ssize_t n = getline(buffer.put(), &capacity, in_);
    if (n < 0) return std::nullopt;
    return std::string(buffer.get(), std::min(static_cast<std::size_t>(n), kMaxLine));
  }
  // Read from the descriptor, not the stream, so that no line can sit in
  // the stream's buffer while the wait below blocks.
  for (;;) {
    if (stopRequested()) {
      write("\n"); // the cursor sits after the prompt
      flush();
      throw ProgramEnd{};
    }
    if (const auto end = pendingLineEnd()) {
      std::string line = pending_.substr(0, *end + 1);
      pending_.erase(0, *end + 1);
      scanned_ = 0;
      return line;
    }
    if (inputEnded_) {
      dropping_ = false;
      scanned_ = 0;
      if (pending_.empty()) return std::nullopt;
      return std::exchange(pending_, {});
    }
    pollfd waits[2] = {{fd, POLLIN, 0}, {stopDescriptor(), POLLIN, 0}};
    if (::poll(waits, waits[1].fd < 0 ? 1 : 2, -1) < 0) {
      if (errno != EINTR) inputEnded_ = true;
      continue;
    }
    if (waits[0].revents) readChunk(fd);
  }
}

// Only what arrived since the last look is searched for the line end. A
// line past the limit is cut there, and the rest of it dropped as it comes:
// no answer is that long, and memory must not hold one.
std::optional<std::size_t> Terminal::pendingLineEnd() {
  if (const auto end = pending_.find('\n', scanned_); end != std::string::npos) return end;
  scanned_ = pending_.size();
  if (pending_.size() > kMaxLine) {
    pending_.resize(kMaxLine);
    scanned_ = kMaxLine;
    dropping_ = true;
  }
  return std::nullopt;
}

void Terminal::readChunk(int fd) {
  char chunk[4096];
  const ssize_t n = ::read(fd, chunk, sizeof chunk);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    inputEnded_ = true; // as getline, a failed read ends the input too
    return;
  }
  std::string_view got(chunk, static_cast<std::size_t>(n));
  if (dropping_) {
    const auto end = got.find('\n');
    if (end == std::string_view::npos) return;
    dropping_ = false;
    got.remove_prefix(end); // the line end closes the line that was cut
  }
  pending_.append(got);
}

int Terminal::inputDescriptor() const {
  return inputEnded_ ? -1 : fileno(in_);
}

void Terminal::readAvailable() {
  if (const int fd = inputDescriptor(); fd >= 0) readChunk(fd);
}

std::optional<std::string> Terminal::peekLine() {
  std::string line;
  if (const auto end = pendingLineEnd())
    line = pending_.substr(0, *end);
  else if (inputEnded_ && !pending_.empty())
    line = pending_;
  else
    return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void Terminal::takeLine() {
  const auto line = peekLine();
  if (!line) return;
  if (const auto end = pendingLineEnd())
    pending_.erase(0, *end + 1);
  else
    pending_.clear();
  scanned_ = 0;
  echo(*line);
}

void Terminal::echo(const std::string& line) {
  // Echoed as the texts are shown: an escape sequence typed or piped in must
  // not drive the terminal the transcript is read on.
  if (echo_) write(screenText(fromUtf8(line)) + "\n");
}

std::optional<std::string> Terminal::readLine() {
  flush();
  auto read = rawLine();
  if (!read) {
    // The end of input leaves the cursor after the prompt; end that line.
    write("\n");
    flush();
    return std::nullopt;
  }
  std::string line = std::move(*read);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  echo(line);
  return line;
}

void Terminal::write(std::string_view utf8) {
  // What comes after a status line starts on a line of its own.
  if (std::exchange(statusOpen_, false)) std::fputc('\n', out_);
  std::fwrite(utf8.data(), 1, utf8.size(), out_);
}

void Terminal::flush() {
  std::fflush(out_);
}

// --- Texts and choices ------------------------------------------------------

namespace {

// Screen form in UTF-16: CR LF as LF, control characters defused.
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

} // namespace

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

void Terminal::status(TextView text) {
  Text flat = shownUnits(text);
  std::replace(flat.begin(), flat.end(), u'\n', u' ');
  if (statusInPlace_) {
    // Cut to the width: a line that wrapped could not be rewritten.
    const std::size_t room = width() - 1;
    std::size_t cut = 0;
    for (std::size_t cols = 0; cut < flat.size(); ++cut)
      if (!isLowSurrogate(flat[cut]) && ++cols > room) break;
    flat.resize(cut);
    const std::string line = "\r\x1b[K" + toUtf8(flat);
    std::fwrite(line.data(), 1, line.size(), out_);
    statusOpen_ = true;
  } else {
    Text shape;
    std::copy_if(flat.begin(), flat.end(), std::back_inserter(shape),
                 [](char16_t c) { return c < u'0' || c > u'9'; });
    if (toUtf8(shape) == statusShape_) return;
    statusShape_ = toUtf8(shape);
    write(toUtf8(flat) + "\n");
  }
  flush();
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

// --- Message boxes ----------------------------------------------------------

int showMessageBox(Terminal& terminal, const Text& prompt, int buttons, const Text& title) {
  const std::vector<BoxButton> set = boxButtons(buttons & 0xF);
  std::size_t def = static_cast<std::size_t>((buttons >> 8) & 0xF);
  if (def >= set.size()) def = 0; // a default past the last button falls back to the first

  // Closing the box by the keyboard: Cancel where there is one, OK in a box
  // of OK alone, else the box cannot be dismissed and its default answers.
  int closeResult = set[def].result;
  for (const auto& b : set)
    if (b.result == kIdCancel) closeResult = kIdCancel;
  if (set.size() == 1) closeResult = set[0].result;

  // The owner repaints before the modal box covers it.
  if (terminal.owner()) terminal.owner()->repaintIfChanged();

  const std::size_t width = terminal.width();
  std::string box = "\n┌─ ";
  box += screenText(title);
  std::size_t used = 3 + columns(title);
  if (const char* icon = iconWord(buttons & 0xF0)) {
    box += " ─ ";
    box += icon;
    used += 6;
  }
  box += ' ';
  box += repeat("─", used + 4 <= width ? width - used - 1 : 3);
  box += '\n';
  box += screenText(prompt, width);
  box += "\n└";
  box += repeat("─", width - 1);
  box += '\n';
  terminal.write(box);

  std::vector<Text> captions;
  for (const auto& b : set)
    captions.emplace_back(b.caption);
  for (;;) {
    terminal.write(buttonList(captions, def));
    const auto line = terminal.readLine();
    if (!line) return closeResult;
    if (const auto choice = chooseButton(*line, captions, def)) return set[*choice].result;
    terminal.write(std::string(kChooseHint) + "\n");
  }
}

// --- The window -------------------------------------------------------------

TerminalWindow::TerminalWindow(const WindowSpec& layout, Terminal& terminal, EventLoop* waits)
    : terminal_(terminal), layout_(layout), caption_(layout.caption) {
  controls_.reserve(layout.controls.size());
  for (const auto& c : layout.controls)
    controls_.push_back({c, Text(c.text), c.visible});
  // The first control in tab order that can take the focus has it.
  focus_ = nextInTabOrder(layout, [this](ControlId id) { return canTakeFocus(controls_[id]); });
  terminal_.setOwner(this);
  if (waits) waiting_.attach(*waits, *this);
}

TerminalWindow::~TerminalWindow() {
  if (terminal_.owner() == this) terminal_.setOwner(nullptr);
}

Text TerminalWindow::text(ControlId control) const {
  return controls_.at(control).text;
}

void TerminalWindow::setText(ControlId control, const Text& text) {
  controls_.at(control).text = text;
}

bool TerminalWindow::visible(ControlId control) const {
  return controls_.at(control).visible;
}

void TerminalWindow::setVisible(ControlId control, bool visible) {
  controls_.at(control).visible = visible;
  if (!visible && focus_ == control) moveFocusFrom(control);
}

bool TerminalWindow::enabled(ControlId control) const {
  return controls_.at(control).enabled;
}

void TerminalWindow::setEnabled(ControlId control, bool enabled) {
  controls_.at(control).enabled = enabled;
  if (!enabled && focus_ == control) moveFocusFrom(control);
}

bool TerminalWindow::changedSincePrinted(ControlId id) const {
  if (id >= printed_.size()) return false;
  const bool shown = shows(controls_[id]);
  return shown != printed_[id].shown || (shown && controls_[id].text != printed_[id].text);
}

bool TerminalWindow::shows(const Control& c) const {
  if (!c.visible) return false;
  switch (c.layout.kind) {
  case ControlKind::TextBox:
  case ControlKind::Button:
    return true;
  case ControlKind::Label:
    return !c.text.empty();
  case ControlKind::Shape:
    return false;
  }
  return false;
}

bool TerminalWindow::canTakeFocus(const Control& c) const {
  return c.visible && c.enabled && c.layout.tabStop && c.layout.tabIndex != kNoTabIndex &&
         (c.layout.kind == ControlKind::TextBox || c.layout.kind == ControlKind::Button);
}

// A control that loses its visibility hands the focus on to the next one in
// tab order, going round to the first.
void TerminalWindow::moveFocusFrom(ControlId control) {
  focus_ = nextInTabOrder(
      layout_, [this](ControlId id) { return canTakeFocus(controls_[id]); }, control);
}

TerminalWindow::Choices TerminalWindow::choices() const {
  Choices c;
  for (ControlId id = 0; id < controls_.size(); ++id)
    if (controls_[id].visible && controls_[id].enabled &&
        controls_[id].layout.kind == ControlKind::Button)
      c.ids.push_back(id);
  std::stable_sort(c.ids.begin(), c.ids.end(), [this](ControlId a, ControlId b) {
    return controls_[a].layout.tabIndex < controls_[b].layout.tabIndex;
  });
  for (std::size_t k = 0; k < c.ids.size(); ++k) {
    c.captions.push_back(controls_[c.ids[k]].text);
    if (c.ids[k] == focus_) c.focused = k;
  }
  return c;
}

void TerminalWindow::print() {
  std::vector<ControlId> texts;
  std::vector<ControlId> buttons;
  for (ControlId id = 0; id < controls_.size(); ++id) {
    if (!shows(controls_[id])) continue;
    (controls_[id].layout.kind == ControlKind::Button ? buttons : texts).push_back(id);
  }
  // Reading order: top to bottom, then left to right; buttons as they sit
  // in their row.
  const auto byPlace = [this](ControlId a, ControlId b) {
    const auto& x = controls_[a].layout;
    const auto& y = controls_[b].layout;
    return x.top != y.top ? x.top < y.top : x.left < y.left;
  };
  std::stable_sort(texts.begin(), texts.end(), byPlace);
  std::stable_sort(buttons.begin(), buttons.end(), [this](ControlId a, ControlId b) {
    return controls_[a].layout.left < controls_[b].layout.left;
  });

  const std::size_t width = terminal_.width();
  std::string out = "\n";
  out += titledRule("═", "═", caption_, width);
  for (std::size_t k = 0; k < texts.size(); ++k) {
    if (k) out += repeat("─", width) += '\n';
    out += screenText(controls_[texts[k]].text, width);
    out += '\n';
  }
  out += repeat("═", width) += '\n';
  if (!buttons.empty()) {
    // A button that cannot be pressed now shows in round brackets.
    for (ControlId id : buttons) {
      out += controls_[id].enabled ? "  [ " : "  ( ";
      out += screenText(controls_[id].text);
      out += controls_[id].enabled ? " ]" : " )";
    }
    out += '\n';
  }
  terminal_.write(out);
  terminal_.flush();
  printed_.clear();
  for (const Control& c : controls_)
    printed_.push_back({shows(c), c.text});
}

void TerminalWindow::repaintIfChanged() {
  if (state_ != State::Shown) return;
  for (ControlId id = 0; id < controls_.size(); ++id)
    if (changedSincePrinted(id)) return print();
}

void TerminalWindow::prepare(std::vector<pollfd>& waits, int& timeoutMs) {
  if (state_ != State::Shown || !events_) return;
  if (const int fd = terminal_.inputDescriptor(); fd >= 0) waits.push_back({fd, POLLIN, 0});
  // A change to show is done at once, as a window's waiting paint is.
  if (statusLine() != shownStatus_) timeoutMs = 0;
}

std::optional<Text> TerminalWindow::statusLine() const {
  std::optional<ControlId> first;
  for (ControlId id = 0; id < controls_.size(); ++id) {
    const auto& c = controls_[id];
    if (c.layout.kind != ControlKind::TextBox || !changedSincePrinted(id) || !shows(c)) continue;
    if (!first || c.layout.top < controls_[*first].layout.top) first = id;
  }
  if (!first) return std::nullopt;
  Text line = controls_[*first].text;
  for (const ControlId id : choices().ids)
    line += u"  [ " + controls_[id].text + u" ]";
  return line;
}

void TerminalWindow::dispatch(std::span<const pollfd> ready) {
  if (state_ != State::Shown || !events_) return;
  if (!ready.empty() && ready[0].revents) terminal_.readAvailable();
  while (const auto line = terminal_.peekLine()) {
    const auto button = buttonNamed(*line);
    if (!button) break; // an answer typed ahead, for a box to come
    terminal_.takeLine();
    focus_ = *button;
    events_->click(*button);
  }
  if (terminal_.inputExhausted()) {
    // The close box: the program ends, whatever the handler was doing.
    state_ = State::Closed;
    terminal_.write(""); // ends a status line
    terminal_.flush();
    throw ProgramEnd{};
  }
  const std::optional<Text> line = statusLine();
  if (line && line != shownStatus_) terminal_.status(*line);
  shownStatus_ = line;
}

std::optional<ControlId> TerminalWindow::buttonNamed(const std::string& line) const {
  const std::string_view s = trim(line);
  // Only a caption: an empty line or a number is an answer for a box.
  if (s.empty() || std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const Choices c = choices();
  const auto choice = chooseButton(s, c.captions, std::nullopt);
  if (!choice) return std::nullopt;
  return c.ids[*choice];
}

void TerminalWindow::run(WindowEvents& events) {
  if (state_ != State::Created) throw std::logic_error("a window runs once");
  try {
    events.load();
  } catch (...) {
    state_ = State::Closed; // never shown
    throw;
  }
  state_ = State::Shown;
  print();
  events_ = &events;
  const auto detach = scope_exit([this]() noexcept { events_ = nullptr; });
  for (;;) {
    const Choices c = choices();
    terminal_.write(buttonList(c.captions, c.focused));
    const auto line = terminal_.readLine();
    if (!line) {
      state_ = State::Closed; // the close box: no handler runs
      return;
    }
    const auto choice = chooseButton(*line, c.captions, c.focused);
    if (!choice) {
      terminal_.write(std::string(kChooseHint) + "\n");
      continue;
    }
    const ControlId button = c.ids[*choice];
    focus_ = button; // a pressed button takes the focus
    try {
      events.click(button);
    } catch (...) {
      state_ = State::Closed;
      throw;
    }
    repaintIfChanged();
  }
}

} // namespace vk::posix
