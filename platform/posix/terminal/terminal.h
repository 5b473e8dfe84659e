// The stand-in machine's screen: the setup window and the message boxes,
// presented as text on a terminal and driven by lines typed on its input.
//
// Output is UTF-8. Input is read a plain line at a time (no raw mode), so a
// person at a terminal and a test feeding a pipe drive it alike: a line with
// a button's number or caption presses that button, an empty line presses
// the default one, and the end of input closes the window (or, in a box,
// does what closing it by the keyboard does).
#pragma once

#include "platform/posix/host/event_loop.h"
#include "platform/text.h"
#include "platform/window.h"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vk::posix {

class TerminalWindow;

// One terminal: where the window and the boxes print and read.
class Terminal {
public:
  // The width of the window's frame and of the boxes, in columns.
  static constexpr std::size_t kFrameWidth = 64;

  // echoInput: repeat each line read on the output, so a transcript made
  // from piped input reads like a session; it is shown as screenText shows
  // a text. Defaults to "input is no tty".
  // columns: the terminal's width; by default asked of the output when it
  // is a terminal.
  Terminal(std::FILE* in, std::FILE* out, std::optional<bool> echoInput = std::nullopt,
           std::optional<std::size_t> columns = std::nullopt);
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // One line without its line end (LF, and a CR before it), cut at 64 KB;
  // nullopt at the end of input. A stop signal while it waits throws
  // ProgramEnd.
  std::optional<std::string> readLine();
  void write(std::string_view utf8);
  void flush();

  // Input without waiting, for the window's turns while the program works:
  // the descriptor to wait on (-1 for a stream in memory, or once the input
  // has ended), what it has now, and the next whole line read so far, left
  // in place for whoever reads next unless taken.
  int inputDescriptor() const;
  void readAvailable();
  std::optional<std::string> peekLine();
  void takeLine();
  // The input has ended and every line of it was taken.
  bool inputExhausted() const { return inputEnded_ && pending_.empty(); }

  // One line that says what the program is waiting for. On a terminal it
  // is rewritten in place; written elsewhere (a log), a text is written
  // only when it differs from the last one in more than its numbers.
  void status(TextView text);
  // Columns the window and the boxes are laid out in: the frame's width, or
  // the terminal's when that is narrower.
  std::size_t width() const;

  // The window the boxes are modal to. A box brings it up to date before
  // covering it, as the owner window repaints under a modal box.
  void setOwner(TerminalWindow* window) { owner_ = window; }
  TerminalWindow* owner() const { return owner_; }

private:
  // The next line as read, its line end included; nullopt at the end of
  // input. Throws ProgramEnd when a stop is asked for while it waits.
  std::optional<std::string> rawLine();
  // One read of what the descriptor has; the end of input, or a failed
  // read, ends it.
  void readChunk(int fd);
  // Where the first whole line read so far ends.
  std::optional<std::size_t> pendingLineEnd();
  // Repeats a line read, as the screen shows texts.
  void echo(const std::string& line);

  std::FILE* in_;
  std::FILE* out_;
  bool echo_;
  bool statusInPlace_;      // the output is a terminal
  bool statusOpen_ = false; // the cursor stands at the end of a status line
  std::string statusShape_; // the last status written elsewhere, numbers left out
  // The longest line taken; the rest of a longer one is dropped.
  static constexpr std::size_t kMaxLine = 64 * 1024;
  std::string pending_;     // read from the input, not yet returned
  std::size_t scanned_ = 0; // of pending_, searched for a line end already
  bool dropping_ = false;   // the rest of a line past the limit is coming
  bool inputEnded_ = false;
  std::optional<std::size_t> columns_;
  TerminalWindow* owner_ = nullptr;
};

// Screen form of a text: UTF-8, CR LF (and a lone LF) as a line break. A
// lone CR and other control characters, which would move the cursor or
// drive the terminal, show as U+FFFD.
std::string screenText(TextView text);
// The same, each line broken to fit `width` columns: at the last blank that
// fits (the blank itself goes), and a word longer than a line where the line
// ends. A character counts one column, a Turkish letter as any other.
std::string screenText(TextView text, std::size_t width);

// The user's choice among buttons, from one line typed. The line is trimmed;
// "" chooses the default (none when there is no default), a number from 1
// chooses by position, anything else must equal a caption without regard to
// case (Turkish dotted and dotless i taken as the same letter).
std::optional<std::size_t> chooseButton(std::string_view line, const std::vector<Text>& captions,
                                        std::optional<std::size_t> defaultChoice);

// A message box: title, icon word, prompt and the buttons a Turkish Windows
// gives it; returns the run-time's result (1 OK, 2 Cancel, 6 Yes, 7 No...).
// Button sets 0 to 5 are known; others fail with the run-time's error 5.
int showMessageBox(Terminal& terminal, const Text& prompt, int buttons, const Text& title);

// The hint shown for a line that names no button.
inline constexpr char kChooseHint[] =
    "Lütfen düğmelerden birini seçin: numarasını ya da adını yazın.";

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
