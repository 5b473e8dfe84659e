// The automation objects the stand-in machine offers, by programmatic
// identifier or by class identifier.
#pragma once

#include "platform/automation.h"
#include "platform/posix/host/event_loop.h"
#include "platform/posix/machine/machine.h"
#include "platform/runtime.h"

namespace vk::posix {

// The objects' own limits. The program keeps these; a test may shorten them
// so that it need not wait for them.
struct Limits {
  // A transfer slower than 1 KB/s for this long is abandoned as timed out.
  long lowSpeedSeconds = 30;
};

// What an object may use: the machine it acts on, the run-time (for the
// message boxes some objects show, as the Windows shell does) and the waits
// of the run-time's DoEvents (for what goes on beside the program).
struct ObjectContext {
  const Machine& machine;
  Runtime& runtime;
  EventLoop& events;
  Limits limits = {};
};

// Both fail with 429 when the machine offers no such class.
ObjectRef createObjectByProgId(ObjectContext ctx, const Text& progId);
ObjectRef createObjectByClassId(ObjectContext ctx, const Text& classId, const Text& interfaceId);

// The factories, one per object kind (each in its own source).
ObjectRef makeWScriptShell(ObjectContext ctx);
ObjectRef makeFileSystemObject(ObjectContext ctx);
ObjectRef makeXmlHttp(ObjectContext ctx);
ObjectRef makeAdodbStream(ObjectContext ctx);
ObjectRef makeShellApplication(ObjectContext ctx);
ObjectRef makeBrowserAutomation(ObjectContext ctx);
ObjectRef makeBrowserAutomationFallback(ObjectContext ctx);

} // namespace vk::posix
