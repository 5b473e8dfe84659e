#include "platform/window.h"

namespace vk {

ControlId nextInTabOrder(const WindowSpec& layout, const std::function<bool(ControlId)>& canFocus,
                         std::optional<ControlId> from, bool backwards) {
  const ControlId none = layout.controls.size();
  const auto tab = [&](ControlId id) { return layout.controls[id].tabIndex; };
  // Going backwards is going forwards with the tab indexes turned round.
  const auto before = [&](ControlId a, ControlId b) {
    return backwards ? tab(a) > tab(b) : tab(a) < tab(b);
  };
  ControlId first = none, next = none;
  for (ControlId id = 0; id < none; ++id) {
    if (!canFocus(id)) continue;
    if (first == none || before(id, first)) first = id;
    // The neighbour of `from` whether or not it can still take the focus
    // (it may just have been hidden).
    if (from && before(*from, id) && (next == none || before(id, next))) next = id;
  }
  return next != none ? next : first;
}

} // namespace vk
