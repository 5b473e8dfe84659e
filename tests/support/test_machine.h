// A fresh simulated Windows machine in a temporary folder, for tests.
#pragma once

#include "platform/text.h"

#include <filesystem>
#include <string>
#include <vector>

namespace vk::test {

class TestMachine {
public:
  // layout64: C:\Windows\SysWOW64 exists besides System32.
  explicit TestMachine(bool layout64 = true);
  ~TestMachine();
  TestMachine(const TestMachine&) = delete;
  TestMachine& operator=(const TestMachine&) = delete;

  const std::string& root() const { return root_; }
  // Adds drive <letter>: as <root>/drive_<letter>.
  void addDrive(char letter);
  // Host path of a Windows path, spelled as given (no case folding);
  // creates nothing.
  std::string host(const Text& windowsPath) const;
  // Writes a file (and its missing folders) at a Windows path.
  void writeFile(const Text& windowsPath, const std::string& content = "x");
  void makeDir(const Text& windowsPath);
  bool exists(const Text& windowsPath) const;
  std::string readFile(const Text& windowsPath) const;
  // Sets Wine's user.DOSATTRIB on a file ("0x2" hidden, "0x4" system).
  void setDosAttributes(const Text& windowsPath, unsigned attributes);
  // Adds a REG_SZ value to user.reg (hkcu) or system.reg; key as
  // "Software\\Google\\Chrome\\BLBeacon", name "" for the default value.
  void setRegString(bool hkcu, const std::string& key, const std::string& name,
                    const std::string& value);
  // Raw lines appended under a key section, for other value types.
  void addRegLines(bool hkcu, const std::string& key, const std::vector<std::string>& lines);
  // A host executable shell script at a Windows path that appends to
  // <root>/<logName> the whole command line it was started with ("> " and
  // the line), its arguments one per line, then a line "--".
  void installRecorder(const Text& windowsPath, const std::string& logName);
  // cmd.exe at a Windows path: applies cmd.exe's quote rule to the command
  // line after /c and appends to <root>/<logName> "> " and that line, then
  // "run <program>" (or "unknown <token>") per command it would run, then
  // "--".
  void installCmd(const Text& windowsPath, const std::string& logName);
  std::string readLog(const std::string& logName) const;
  // An executable host script at a Windows path.
  void installScript(const Text& windowsPath, const std::string& script);

private:
  void rewriteHive(bool hkcu);
  std::string root_;
  struct Section {
    std::string key;
    std::vector<std::string> lines;
  };
  std::vector<Section> user_, system_;
};

} // namespace vk::test
