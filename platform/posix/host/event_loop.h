// What the window's thread waits on between its steps, as the run-time's
// DoEvents waits on the window's messages: descriptors that may become
// ready (the terminal's input, a transfer's sockets) and time limits. Each
// source says what it waits for, then gets its turn after the wait, ready
// or not; the one thread does it all, so nothing here is shared.
#pragma once

#include <poll.h>

#include <span>
#include <vector>

namespace vk::posix {

// The longest one turn of the run-time's DoEvents sleeps when nothing comes.
inline constexpr int kDoEventsWaitMs = 50;

class EventSource {
public:
  virtual ~EventSource() = default;
  // Adds the descriptors it waits on; may shorten the wait (milliseconds).
  virtual void prepare(std::vector<pollfd>& waits, int& timeoutMs) = 0;
  // Its turn after the wait: the entries it added, with what happened.
  virtual void dispatch(std::span<const pollfd> ready) = 0;
};

class EventLoop {
public:
  EventLoop() = default;
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  void add(EventSource& source);
  // A source that goes during a turn gets no turn after it.
  void remove(EventSource& source) noexcept;

  // One turn: waits until a source's descriptor is ready, its time limit or
  // maxWaitMs is over, or a stop is asked for; then each source's turn, in
  // the order they were added. A stop ends the program (ProgramEnd).
  void turn(int maxWaitMs);

private:
  std::vector<EventSource*> sources_;
};

// A source's membership for as long as the handle lives.
class EventRegistration {
public:
  EventRegistration() = default;
  EventRegistration(EventLoop& loop, EventSource& source) { attach(loop, source); }
  ~EventRegistration() { reset(); }
  EventRegistration(const EventRegistration&) = delete;
  EventRegistration& operator=(const EventRegistration&) = delete;
  void attach(EventLoop& loop, EventSource& source) {
    reset();
    loop.add(source);
    loop_ = &loop;
    source_ = &source;
  }
  void reset() noexcept {
    if (loop_) loop_->remove(*source_);
    loop_ = nullptr;
  }

private:
  EventLoop* loop_ = nullptr;
  EventSource* source_ = nullptr;
};

} // namespace vk::posix
