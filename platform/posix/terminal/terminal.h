// The stand-in machine's screen: the setup window and the message boxes,
// presented as text on a terminal and driven by lines typed on its input.
//
// Output is UTF-8. Input is read a plain line at a time (no raw mode), so a
// person at a terminal and a test feeding a pipe drive it alike: a line with
// a button's number or caption presses that button, an empty line presses
// the default one, and the end of input closes the window (or, in a box,
// does what closing it by the keyboard does).
#pragma once

#include "platform/text.h"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

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
  // Written for the user; when nobody reads the output any more (a pipe
  // whose reader has gone), the first write that finds it throws
  // ProgramEnd, as the close box ends the program, and the rest are dropped.
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
  void endIfOutputGone();

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
  bool outputGone_ = false;
  std::optional<std::size_t> columns_;
  TerminalWindow* owner_ = nullptr;
};

} // namespace vk::posix
