// Ending a group of processes and the helpers that left it: a browser
// session's driver, browser and the processes they start.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vk::posix {

// Waits up to `limit` for a child to end; true once it is reaped (or is no
// child of ours any more).
bool reap(pid_t pid, std::chrono::milliseconds limit, int* status = nullptr);

// True once no process of the group runs; zombies count as ended.
bool groupGone(pid_t group);

// Processes other than this one that carry the text in their command line
// or environment.
std::vector<pid_t> processesUsing(const std::string& needle);

// Ends a process group whose leader is our child: asked to end, then, after
// 5 s, made to; the leader is reaped, and the others, which go to init, are
// waited for a little.
void endGroup(pid_t leader);

// Ends the processes that carry the folder in their command line or
// environment: politely, then by force.
void endProcessesUsing(const std::string& folder);

} // namespace vk::posix
