// The simulated machine's environment strings, special folders and registry
// paths, as Windows programs see them.
#pragma once

#include "platform/posix/machine/machine.h"

#include <optional>

namespace vk::posix {

// The environment a program of this machine starts with: the variables the
// user's and the system's registry keys define, and those Windows derives
// from the profile. Names match without regard to case.
class MachineEnvironment {
public:
  explicit MachineEnvironment(const Machine& machine) : machine_(machine) {}

  std::optional<Text> lookup(TextView name, int depth = 0) const;

  // ExpandEnvironmentStrings: "%NAME%" becomes the variable's value; an
  // undefined name, and an unclosed "%", stay as they are.
  Text expand(TextView text, int depth = 0) const;

private:
  std::optional<Text> derived(const Text& name) const;
  bool has64BitLayout() const;

  const Machine& machine_;
};

// The folder WSH gives for one of its special folder names ("Desktop",
// "MyDocuments", ...); "" for a name it does not know.
Text specialFolder(const Machine& machine, const Text& name);

// A registry value's path as RegRead takes it: "HKCU\Software\...\name";
// a trailing "\" names the key's default value.
struct RegistryPath {
  enum Root { CurrentUser, LocalMachine, ClassesRoot, Unkept } root = CurrentUser;
  Text key;
  Text name; // "" for the key's default value
};

// Splits the path; a root it does not know fails with
// ERROR_PATH_NOT_FOUND, as WSH's does.
RegistryPath splitRegistryPath(const Text& path);

// WSH's text for a registry path it cannot open.
Text registryPathError(const Text& path);

// The key of HKEY_LOCAL_MACHINE the 32-bit setup tool reaches by this name
// on 64-bit Windows: Software\X is redirected to Software\WOW6432Node\X,
// but for the keys Windows shares between its two views.
Text thirtyTwoBitView(const Text& localMachineKey);

} // namespace vk::posix
