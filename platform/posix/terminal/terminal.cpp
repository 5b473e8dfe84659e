#include "platform/posix/terminal/terminal.h"

#include "platform/posix/terminal/layout.h"

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
  if (outputGone_) return;
  // What comes after a status line starts on a line of its own.
  if (std::exchange(statusOpen_, false)) std::fputc('\n', out_);
  std::fwrite(utf8.data(), 1, utf8.size(), out_);
  endIfOutputGone();
}

void Terminal::flush() {
  if (outputGone_) return;
  std::fflush(out_);
  endIfOutputGone();
}

void Terminal::endIfOutputGone() {
  // Nobody reads the window any more: it is closed, as by its close box.
  // Later writes are dropped, so the way out prints nothing more.
  if (!std::ferror(out_) || errno != EPIPE) return;
  outputGone_ = true;
  throw ProgramEnd{};
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

} // namespace vk::posix
