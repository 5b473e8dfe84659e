// Message boxes on the terminal, as a Turkish Windows words them.
#pragma once

#include "platform/posix/terminal/terminal.h"
#include "platform/text.h"

namespace vk::posix {

// A message box: title, icon word, prompt and the buttons a Turkish Windows
// gives it; returns the run-time's result (1 OK, 2 Cancel, 6 Yes, 7 No...).
// Button sets 0 to 5 are known; others fail with the run-time's error 5.
int showMessageBox(Terminal& terminal, const Text& prompt, int buttons, const Text& title);

} // namespace vk::posix
