// The setup window's logic against a real simulated machine, with message
// boxes answered from a script and the window kept in memory.
#pragma once

#include "form1/Form1.h"
#include "platform/posix/machine/machine.h"
#include "platform/posix/runtime_posix.h"
#include "support/test_machine.h"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vk::test {

// A window that only keeps its controls' state.
class MemoryWindow final : public Window {
public:
  explicit MemoryWindow(const WindowSpec& layout);
  Text text(ControlId c) const override { return texts_.at(c); }
  void setText(ControlId c, const Text& t) override { texts_.at(c) = t; }
  bool visible(ControlId c) const override { return visible_.at(c) != 0; }
  void setVisible(ControlId c, bool v) override { visible_.at(c) = v; }
  bool enabled(ControlId c) const override { return enabled_.at(c) != 0; }
  void setEnabled(ControlId c, bool e) override { enabled_.at(c) = e; }
  ControlId focus() const override;
  void run(WindowEvents& events) override;

private:
  const WindowSpec& spec_;
  std::vector<Text> texts_;
  std::vector<char> visible_;
  std::vector<char> enabled_;
};

struct Box {
  std::string prompt; // UTF-8
  int buttons;
  std::string title;
};

class Harness {
public:
  // appPath: the Windows folder the setup tool runs from.
  explicit Harness(bool layout64 = true, const Text& appPath = u"D:\\Kurulum");

  TestMachine tm;
  posix::Machine& machine() { return *machine_; }
  Runtime& rt() { return *rt_; }
  MemoryWindow& window() { return window_; }
  Form1& form() { return *form_; }

  // Answers for the coming boxes, in order; a box with no answer left gets
  // its default button (and the test fails through unansweredBoxes()).
  std::deque<int> answers;
  std::vector<Box> boxes;
  int unansweredBoxes = 0;

  std::string text(ControlId c) const { return toUtf8(window_.text(c)); }

private:
  std::unique_ptr<posix::Machine> machine_;
  std::unique_ptr<posix::PosixRuntime> rt_;
  MemoryWindow window_;
  std::unique_ptr<Form1> form_;
};

// Places all seven components in the system folder except the ones named.
void placeComponents(TestMachine& tm, const Text& systemFolder,
                     const std::vector<std::string>& missing);

} // namespace vk::test
