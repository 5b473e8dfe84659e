// The window toolkit: one top-level window built from a control table.
#pragma once

#include "platform/text.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

namespace vk {

enum class ControlKind { Label, Shape, TextBox, Button };

struct Colour {
  enum class Kind { Default, System, Rgb };
  Kind kind = Kind::Default;
  std::uint32_t value = 0; // system colour index, or 0x00BBGGRR
};

struct FontSpec {
  std::u16string_view face;
  int pointsTimes100; // 825 for 8.25 pt
  int weight;         // 700 bold
  int charset;        // 162 Turkish
};

inline constexpr int kNoTabIndex = -1;

// One control when the window is created. Geometry in twips from the
// client area's top-left corner.
struct ControlSpec {
  std::u16string_view name;
  int index; // position in a control array, -1 for a lone control
  ControlKind kind;
  int left, top, width, height;
  std::u16string_view text;
  bool visible = true;
  bool readOnly = false;
  bool multiLine = false;
  bool tabStop = true;
  int tabIndex = kNoTabIndex;
  Colour background{};
  const FontSpec* font = nullptr; // nullptr: the window's default font
  int zOrder = 0;                 // front to back among its layer, 0 frontmost
};

struct WindowSpec {
  std::u16string_view caption;
  int clientWidth, clientHeight; // twips
  std::span<const ControlSpec> controls;
};

using ControlId = std::size_t; // index into WindowSpec::controls

// The tab order both windows keep: among the controls that can take the
// focus, the next after `from` by tab index (the one before it, going
// backwards), round to the first (the last); with no `from`, the first.
// controls.size() when none can take the focus.
ControlId nextInTabOrder(const WindowSpec& layout, const std::function<bool(ControlId)>& canFocus,
                         std::optional<ControlId> from = std::nullopt, bool backwards = false);

// What the window calls back: its load event and the buttons' clicks.
class WindowEvents {
public:
  virtual ~WindowEvents() = default;
  virtual void load() = 0;
  virtual void click(ControlId button) = 0;
};

class Window {
public:
  virtual ~Window() = default;
  virtual Text text(ControlId control) const = 0;
  virtual void setText(ControlId control, const Text& text) = 0;
  virtual bool visible(ControlId control) const = 0;
  virtual void setVisible(ControlId control, bool visible) = 0;
  // A disabled button cannot be pressed and shows that it cannot.
  virtual bool enabled(ControlId control) const = 0;
  virtual void setEnabled(ControlId control, bool enabled) = 0;
  virtual ControlId focus() const = 0;

  // Runs load, shows the window and dispatches clicks until it closes. The
  // close box returns normally; a ProgramEnd or RuntimeError thrown by a
  // handler closes the window and leaves run() with that exception.
  virtual void run(WindowEvents& events) = 0;
};

} // namespace vk
