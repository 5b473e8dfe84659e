// A run-time for tests of the automation objects: it records the message
// boxes an object shows and answers them from a script, and creates objects
// on a real simulated machine. File and process services are not offered.
#pragma once

#include "platform/posix/machine/machine.h"
#include "platform/posix/objects/objects.h"
#include "platform/runtime.h"

#include <deque>
#include <string>
#include <vector>

namespace vk::test {

struct RecordedBox {
  std::string prompt; // UTF-8, for readable test failures
  int buttons = 0;
  std::string title;
};

class FakeRuntime final : public Runtime {
public:
  explicit FakeRuntime(const posix::Machine& machine) : machine_(machine) {}

  // Answers for the coming boxes, in order; when none is left a box gets
  // defaultAnswer.
  std::deque<int> answers;
  int defaultAnswer = vbOK;
  std::vector<RecordedBox> boxes;

  posix::Limits limits; // the objects' time limits, shortened by tests that meet them
  posix::EventLoop events;
  posix::ObjectContext context() { return {machine_, *this, events, limits}; }

  int rtcMsgBox(const Text& prompt, int buttons, const std::optional<Text>& title) override {
    boxes.push_back({toUtf8(prompt), buttons, title ? toUtf8(*title) : std::string()});
    if (answers.empty()) return defaultAnswer;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  ObjectRef rtcCreateObject2(const Text& progId) override {
    return posix::createObjectByProgId(context(), progId);
  }
  ObjectRef createObject(const Text& classId, const Text& interfaceId) override {
    return posix::createObjectByClassId(context(), classId, interfaceId);
  }

  Text rtcDir(const Text&, int) override { throw RuntimeError(err::InvalidCall); }
  Text rtcDir() override { throw RuntimeError(err::InvalidCall); }
  void rtcMakeDir(const Text&) override { throw RuntimeError(err::InvalidCall); }
  void rtcFileCopy(const Text&, const Text&) override { throw RuntimeError(err::InvalidCall); }
  double rtcShell(const Text&, int) override { throw RuntimeError(err::InvalidCall); }
  [[noreturn]] void vbaEnd() override { throw ProgramEnd{}; }
  void rtcDoEvents() override { events.turn(posix::kDoEventsWaitMs); }
  Text appPath() override { return u"C:\\Kurulum"; }

private:
  const posix::Machine& machine_;
};

} // namespace vk::test
