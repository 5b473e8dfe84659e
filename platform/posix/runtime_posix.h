// The run-time services of the stand-in machine.
#pragma once

#include "platform/posix/host/event_loop.h"
#include "platform/posix/host/process.h"
#include "platform/posix/machine/machine.h"
#include "platform/runtime.h"

#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vk::posix {

// Shows a message box and returns the button pressed; the title is always
// given (the application title when the caller omitted it).
using MessageBoxFn = std::function<int(const Text& prompt, int buttons, const Text& title)>;

class PosixRuntime final : public Runtime {
public:
  // appPath: the Windows path of the executable's folder.
  PosixRuntime(const Machine& machine, Text appPath, Text applicationTitle,
               MessageBoxFn messageBox);
  ~PosixRuntime() override;

  Text rtcDir(const Text& pathname, int attributes) override;
  Text rtcDir() override;
  void rtcMakeDir(const Text& path) override;
  void rtcFileCopy(const Text& source, const Text& destination) override;
  double rtcShell(const Text& commandLine, int windowStyle) override;
  int rtcMsgBox(const Text& prompt, int buttons, const std::optional<Text>& title) override;
  [[noreturn]] void vbaEnd() override;
  void rtcDoEvents() override;
  ObjectRef rtcCreateObject2(const Text& progId) override;
  ObjectRef createObject(const Text& classId, const Text& interfaceId) override;
  Text appPath() override { return appPath_; }

  // What DoEvents waits on: the window's input and the objects' transfers.
  EventLoop& events() { return events_; }

private:
  struct Listing;
  // Whether Windows would keep the file in use as a running program's.
  bool isRunningImage(const std::string& hostPath);

  const Machine& machine_;
  EventLoop events_;
  Text appPath_;
  Text title_;
  MessageBoxFn messageBox_;
  bool listingBegun_ = false; // a Dir with arguments has been called, failed or not
  std::unique_ptr<Listing> listing_;
  StartedPrograms started_;
};

// Splits a command line's arguments as Windows programs do
// (CommandLineToArgvW's rules for everything after the program name).
std::vector<Text> splitArguments(TextView arguments);

} // namespace vk::posix
