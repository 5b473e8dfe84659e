#include "support/harness.h"

#include <algorithm>
#include <stdexcept>

namespace vk::test {

MemoryWindow::MemoryWindow(const WindowSpec& layout) : spec_(layout) {
  for (const auto& c : layout.controls) {
    texts_.emplace_back(c.text);
    visible_.push_back(c.visible);
    enabled_.push_back(1);
  }
}

ControlId MemoryWindow::focus() const {
  // The first control in tab order that can take the focus.
  const ControlId first = nextInTabOrder(spec_, [this](ControlId id) {
    const auto& c = spec_.controls[id];
    return (c.kind == ControlKind::Button || c.kind == ControlKind::TextBox) && c.tabStop &&
           c.tabIndex != kNoTabIndex && visible_[id];
  });
  if (first == spec_.controls.size()) throw std::logic_error("no control can take the focus");
  return first;
}

void MemoryWindow::run(WindowEvents& events) {
  events.load();
}

Harness::Harness(bool layout64, const Text& appPath) : tm(layout64), window_(ctl::kWindow) {
  // The setup folder is made on its own drive; on C: the test lays it out.
  if (appPath.size() >= 2 && appPath[1] == u':' && appPath[0] != u'C' && appPath[0] != u'c') {
    tm.addDrive(static_cast<char>(std::tolower(static_cast<int>(appPath[0]))));
    tm.makeDir(appPath);
  }
  machine_ = std::make_unique<posix::Machine>(tm.root());
  rt_ = std::make_unique<posix::PosixRuntime>(
      *machine_, appPath, kApplicationTitle,
      [this](const Text& prompt, int buttons, const Text& title) {
        boxes.push_back({toUtf8(prompt), buttons, toUtf8(title)});
        if (answers.empty()) {
          ++unansweredBoxes;
          return (buttons & 0xF) == vbYesNo ? ((buttons & vbDefaultButton2) ? vbNo : vbYes) : vbOK;
        }
        const int a = answers.front();
        answers.pop_front();
        return a;
      });
  form_ = std::make_unique<Form1>(*rt_, window_);
}

void placeComponents(TestMachine& tm, const Text& systemFolder,
                     const std::vector<std::string>& missing) {
  for (const char* name : {"msvbvm60.dll", "MSSTDFMT.DLL", "shell32.dll", "MSCOMCTL.OCX",
                           "MSCOMCTL.DEP", "MSCOMCTL.SRG", "wmp.dll"}) {
    if (std::find(missing.begin(), missing.end(), name) == missing.end())
      tm.writeFile(systemFolder + u"\\" + fromUtf8(name), "component");
  }
}

} // namespace vk::test
