// Host files as the tests make and inspect them, outside any simulated
// program: whole contents, the stand-in's temporaries, the processes using a
// folder, zips made by bsdtar.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vk::test {

// The whole content of a host file; "" when it cannot be read.
std::string readHostFile(const std::string& path);
void writeHostFile(const std::string& path, const std::string& content);

// Paths of the stand-in's temporaries (".vk-...") anywhere under a folder.
std::vector<std::string> temporaries(const std::string& folder);

// Processes other than this one whose command line or environment names
// the folder: a browser session's driver, browser and helpers all do.
std::vector<int> processesUsing(const std::string& folder);

// Whether a process group still has a member that runs: one that has ended
// but is not yet reaped (its parent's or init's business) does not count.
bool groupRuns(int group);

// Puts this process in a mount namespace of its own (in a user namespace
// too where that is needed), so it may mount without touching the host's;
// false where that is not allowed. For forked children.
bool ownMountNamespace();

// Whether f, run in a forked child after a stop signal was caught there,
// ends the program (the signal's mark stays for the rest of a process).
bool endsTheProgramWhenStopped(const std::function<void()>& f);

// A zip made by the host's bsdtar from the files (relative name, content),
// laid out in the scratch folder; returns the archive's bytes.
std::string makeZip(const std::string& scratch,
                    const std::vector<std::pair<std::string, std::string>>& files);

} // namespace vk::test
