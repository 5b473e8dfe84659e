// The signals that ask the setup to stop: the interrupt key (SIGINT), a
// polite kill (SIGTERM) and a closed terminal (SIGHUP).
//
// Each only notes that a stop was asked for. The places the setup waits at
// (the terminal's input, the browser session, long copies) notice it and
// throw ProgramEnd, so the program unwinds as its End statement makes it:
// every destructor runs, temporary files are removed and the browser
// session's processes end before the program does.
#pragma once

namespace vk::posix {

// Catches the three signals for the rest of the run, restarting the calls
// they interrupt. A signal whoever started the setup set to be ignored (as
// nohup does SIGHUP) stays ignored.
void catchStopSignals();

// Whether a stop has been asked for.
bool stopRequested() noexcept;

// Throws ProgramEnd once a stop has been asked for.
void endIfStopRequested();

// A descriptor that becomes readable, and stays so, once a stop has been
// asked for: to wait on beside another one. -1 before catchStopSignals.
int stopDescriptor() noexcept;

} // namespace vk::posix
