// The setup window: its variables, its event handlers and its methods. The
// handlers live here; the installation run and its methods in install/.
#pragma once

#include "form1/controls.h"
#include "platform/runtime.h"
#include "platform/window.h"

#include <cstdint>

namespace vk {

class Form1 final : public WindowEvents {
public:
  Form1(Runtime& rt, Window& window) : rt_(rt), w_(window) {}

  // WindowEvents
  void load() override { Form_Load(); }
  void click(ControlId button) override;

  // Event handlers.
  void Form_Load();
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();

  // The window's own operations.
  Text GetDesktop();
  void dosyaIndir(Text& address, Text& path);
  void unzip();
  void CreateShortCut();
  void regVorlanComponents();

  // Window variables; they live as long as the window.
  int i = 0;
  int j = 0;
  Text sisDir;
  Text userPath;
  Text indirDosya;
  Text myUrl;
  Text myPath;
  std::int32_t isWillReg = 0;
  Text copyFromStr;
  Text copyToStr;
  Text regStr;
  Text compFile;

private:
  Text text(ControlId c) const { return w_.text(c); }
  void setText(ControlId c, const Text& t) { w_.setText(c, t); }

  Runtime& rt_;
  Window& w_;
};

} // namespace vk
