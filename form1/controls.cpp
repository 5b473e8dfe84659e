#include "form1/controls.h"

namespace vk::ctl {

namespace {
constexpr Colour kHighlight{Colour::Kind::System, 13};     // selection highlight
constexpr Colour kInactiveTitle{Colour::Kind::System, 3};  // inactive title bar
constexpr Colour kLightRed{Colour::Kind::Rgb, 0x008080FF}; // RGB 255, 128, 128
// Two lines fit the label.
constexpr std::u16string_view kProductLine =
    u"Vorlan e-Belge uygulaması\r\n© Vorlan. Tüm hakları saklıdır.";

// z: front-to-back place among the controls drawn on the window's surface
// (labels, shapes) or among the windowed ones (text boxes, buttons).
constexpr ControlSpec label(std::u16string_view name, int l, int t, int w, int h,
                            std::u16string_view text, Colour bg, int tab, int z) {
  return {name,    -1, ControlKind::Label, l, t, w, h, text, true, false, false, false, tab, bg,
          nullptr, z};
}
constexpr ControlSpec shape(std::u16string_view name, int l, int t, int w, int h, int z) {
  return {name,  -1,    ControlKind::Shape, l,  t,       w, h, u"", true, false,
          false, false, kNoTabIndex,        {}, nullptr, z};
}
constexpr ControlSpec message(std::u16string_view name, int l, int t, int w, int h, int tab,
                              const FontSpec* font, int z) {
  return {name, -1,  ControlKind::TextBox, l,    t, w, h, name, true, true, true,
          true, tab, kInactiveTitle,       font, z};
}
constexpr ControlSpec text1(int index, int top, std::u16string_view text, bool readOnly,
                            bool tabStop, int tab, int z) {
  return {u"Text1", index, ControlKind::TextBox,
          360,      top,   735,
          195,      text,  false,
          readOnly, false, tabStop,
          tab,      {},    nullptr,
          z};
}
constexpr ControlSpec button(std::u16string_view name, int l, int t, int w, int h,
                             std::u16string_view text, bool visible, int tab, int z) {
  return {name,    -1, ControlKind::Button, l, t, w, h, text, visible, false, false, true, tab, {},
          nullptr, z};
}
} // namespace

const FontSpec kText12Font{u"MS Sans Serif", 825, 700, 162};

const ControlSpec kControls[Count] = {
    label(u"Label1", 240, 240, 975, 3975, u"", kHighlight, 0, 4),
    shape(u"Shape1", 240, 240, 975, 3975, 1),
    label(u"Label2", 1200, 240, 4935, 3975, u"", kLightRed, 1, 3),
    shape(u"Shape2", 1200, 240, 4935, 3975, 0),
    message(u"Text12", 1320, 360, 4695, 825, 14, &kText12Font, 2),
    message(u"Text13", 1320, 1320, 4695, 1425, 15, nullptr, 1),
    message(u"Text14", 1320, 2880, 4695, 1065, 16, nullptr, 0),
    text1(0, 360, u"Text1", true, false, 4, 13),
    text1(1, 600, u"Text2", true, true, 6, 12),
    text1(2, 840, u"Text3", true, true, 7, 11),
    text1(3, 1080, u"Text4", false, true, 9, 7),
    text1(4, 1320, u"Text5", false, true, 10, 6),
    text1(5, 1560, u"Text6", false, true, 11, 5),
    text1(6, 1800, u"Text7", false, true, 12, 4),
    text1(7, 2040, u"Text8", false, true, 13, 3),
    label(u"Label3", 240, 4320, 2655, 495, kProductLine, {}, 5, 2),
    button(u"Command2", 3240, 4440, 1335, 375, u"Kurulumdan Çık", true, 3, 14),
    button(u"Command1", 4920, 4440, 1215, 375, u"Devam", true, 2, 15),
    button(u"Command3", 4800, 4440, 1335, 375, u"Kapat", false, 8, 8),
};

const WindowSpec kWindow{u"Vorlan Kurulum işlemlerine hoşgeldiniz.", 6360, 4920, kControls};

} // namespace vk::ctl
