#include "platform/posix/host/event_loop.h"

#include "platform/posix/host/stop_signals.h"

#include <algorithm>
#include <cerrno>

namespace vk::posix {

void EventLoop::add(EventSource& source) {
  sources_.push_back(&source);
}

void EventLoop::remove(EventSource& source) noexcept {
  std::erase(sources_, &source);
}

void EventLoop::turn(int maxWaitMs) {
  endIfStopRequested();
  struct Range {
    EventSource* source;
    std::size_t first, count;
  };
  std::vector<pollfd> waits;
  std::vector<Range> ranges;
  int timeoutMs = maxWaitMs;
  for (EventSource* s : sources_) {
    const std::size_t first = waits.size();
    s->prepare(waits, timeoutMs);
    ranges.push_back({s, first, waits.size() - first});
  }
  if (stopDescriptor() >= 0) waits.push_back({stopDescriptor(), POLLIN, 0});
  // An interrupted wait is a short one: the sources look again.
  if (::poll(waits.data(), waits.size(), std::max(timeoutMs, 0)) < 0 && errno != EINTR)
    for (pollfd& w : waits)
      w.revents = 0;
  endIfStopRequested();
  for (const Range& r : ranges) {
    if (std::find(sources_.begin(), sources_.end(), r.source) == sources_.end()) continue;
    r.source->dispatch(std::span<const pollfd>(waits).subspan(r.first, r.count));
  }
}

} // namespace vk::posix
