// The setup window's controls, as data: one table both toolkits build from.
#pragma once

#include "platform/window.h"

namespace vk::ctl {

// Positions in kControls; the control array Text1 is Text1_0 + index.
enum : ControlId {
  Label1,
  Shape1,
  Label2,
  Shape2,
  Text12,
  Text13,
  Text14,
  Text1_0,
  Text1_7 = Text1_0 + 7,
  Label3,
  Command2,
  Command1,
  Command3,
  Count
};

constexpr ControlId Text1(int index) {
  return Text1_0 + static_cast<ControlId>(index);
}

extern const FontSpec kText12Font;
extern const ControlSpec kControls[Count];
extern const WindowSpec kWindow;

} // namespace vk::ctl

namespace vk {
// Program-wide settings that belong with the window.
inline constexpr char16_t kApplicationTitle[] = u"VorlanKur";
inline constexpr char16_t kMessageTitle[] = u"VorlanKur v1.0.0";
} // namespace vk
