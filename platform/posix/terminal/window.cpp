#include "platform/posix/terminal/window.h"

#include "platform/errors.h"
#include "platform/posix/terminal/layout.h"
#include "platform/unique_any.h"

#include <algorithm>

namespace vk::posix {

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
