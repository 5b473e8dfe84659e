#include "platform/posix/terminal/message_box.h"

#include "platform/errors.h"
#include "platform/posix/terminal/layout.h"
#include "platform/posix/terminal/window.h"

namespace vk::posix {

namespace {

struct BoxButton {
  const char16_t* caption;
  int result;
};

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

// The buttons of each set, in the order a Turkish Windows shows them.
std::vector<BoxButton> boxButtons(int set) {
  switch (set) {
  case 0:
    return {{u"Tamam", kIdOk}};
  case 1:
    return {{u"Tamam", kIdOk}, {u"İptal", kIdCancel}};
  case 2:
    return {{u"Durdur", 3}, {u"Yeniden Dene", 4}, {u"Yoksay", 5}};
  case 3:
    return {{u"Evet", 6}, {u"Hayır", 7}, {u"İptal", kIdCancel}};
  case 4:
    return {{u"Evet", 6}, {u"Hayır", 7}};
  case 5:
    return {{u"Yeniden Dene", 4}, {u"İptal", kIdCancel}};
  default:
    throw RuntimeError(err::InvalidCall);
  }
}

const char* iconWord(int icon) {
  switch (icon) {
  case 16:
    return "(x)";
  case 32:
    return "(?)";
  case 48:
    return "(!)";
  case 64:
    return "(i)";
  default:
    return nullptr;
  }
}

} // namespace

int showMessageBox(Terminal& terminal, const Text& prompt, int buttons, const Text& title) {
  const std::vector<BoxButton> set = boxButtons(buttons & 0xF);
  std::size_t def = static_cast<std::size_t>((buttons >> 8) & 0xF);
  if (def >= set.size()) def = 0; // a default past the last button falls back to the first

  // Closing the box by the keyboard: Cancel where there is one, OK in a box
  // of OK alone, else the box cannot be dismissed and its default answers.
  int closeResult = set[def].result;
  for (const auto& b : set)
    if (b.result == kIdCancel) closeResult = kIdCancel;
  if (set.size() == 1) closeResult = set[0].result;

  // The owner repaints before the modal box covers it.
  if (terminal.owner()) terminal.owner()->repaintIfChanged();

  const std::size_t width = terminal.width();
  std::string box = "\n┌─ ";
  box += screenText(title);
  std::size_t used = 3 + columns(title);
  if (const char* icon = iconWord(buttons & 0xF0)) {
    box += " ─ ";
    box += icon;
    used += 6;
  }
  box += ' ';
  box += repeat("─", used + 4 <= width ? width - used - 1 : 3);
  box += '\n';
  box += screenText(prompt, width);
  box += "\n└";
  box += repeat("─", width - 1);
  box += '\n';
  terminal.write(box);

  std::vector<Text> captions;
  for (const auto& b : set)
    captions.emplace_back(b.caption);
  for (;;) {
    terminal.write(buttonList(captions, def));
    const auto line = terminal.readLine();
    if (!line) return closeResult;
    if (const auto choice = chooseButton(*line, captions, def)) return set[*choice].result;
    terminal.write(std::string(kChooseHint) + "\n");
  }
}

} // namespace vk::posix
