// The setup window on the terminal.
#pragma once

#include "platform/posix/host/event_loop.h"
#include "platform/posix/terminal/terminal.h"
#include "platform/text.h"
#include "platform/window.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vk::posix {

// While a handler runs, the window takes its turn in the run-time's
// DoEvents (when given the waits): a line typed that names a visible,
// enabled button by its caption presses it, the end of input is the close
// box (which ends the program), and the headline's changes show as a
// status line. Any other line waits for whoever reads next, a message box
// perhaps, so answers typed ahead keep their order.
class TerminalWindow final : public Window, private EventSource {
public:
  // The layout's controls are copied; their texts must outlive the window
  // only as long as the layout's views do (the control table is static).
  TerminalWindow(const WindowSpec& layout, Terminal& terminal, EventLoop* waits = nullptr);
  ~TerminalWindow() override;
  TerminalWindow(const TerminalWindow&) = delete;
  TerminalWindow& operator=(const TerminalWindow&) = delete;

  Text text(ControlId control) const override;
  void setText(ControlId control, const Text& text) override;
  bool visible(ControlId control) const override;
  void setVisible(ControlId control, bool visible) override;
  bool enabled(ControlId control) const override;
  void setEnabled(ControlId control, bool enabled) override;
  ControlId focus() const override { return focus_; }

  void run(WindowEvents& events) override;

  // Prints the window again when something it shows has changed since it
  // was last printed; nothing before it is first shown or after it closed.
  void repaintIfChanged();
  // Prints the whole window now.
  void print();

private:
  enum class State { Created, Shown, Closed };
  struct Control {
    ControlSpec layout;
    Text text;
    bool visible;
    bool enabled = true;
  };
  // What the last print showed of a control.
  struct Printed {
    bool shown;
    Text text;
  };

  void prepare(std::vector<pollfd>& waits, int& timeoutMs) override;
  void dispatch(std::span<const pollfd> ready) override;
  // The button a line typed during a handler names by its caption.
  std::optional<ControlId> buttonNamed(const std::string& line) const;
  // What a status line shows now: the headline's change (the first changed
  // text in reading order) and what can be pressed meanwhile; nothing when
  // the texts are as printed.
  std::optional<Text> statusLine() const;
  bool changedSincePrinted(ControlId id) const;

  bool shows(const Control& c) const;
  bool canTakeFocus(const Control& c) const;
  void moveFocusFrom(ControlId control);
  // The visible buttons in tab order, their captions, and which of them
  // has the focus (an empty line presses it).
  struct Choices {
    std::vector<ControlId> ids;
    std::vector<Text> captions;
    std::optional<std::size_t> focused;
  };
  Choices choices() const;

  Terminal& terminal_;
  const WindowSpec& layout_; // the control table, for the tab order
  Text caption_;
  std::vector<Control> controls_;
  std::vector<Printed> printed_;
  ControlId focus_;
  State state_ = State::Created;
  WindowEvents* events_ = nullptr;  // while run() runs
  std::optional<Text> shownStatus_; // the last status line written
  EventRegistration waiting_;
};

} // namespace vk::posix
