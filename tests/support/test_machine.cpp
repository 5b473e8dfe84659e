#include "support/test_machine.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vk::test {

namespace {

std::string regEscape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

} // namespace

TestMachine::TestMachine(bool layout64) {
  std::string tmpl = (fs::temp_directory_path() / "vk-machine-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  root_ = tmpl;
  fs::create_directories(root_ + "/dosdevices");
  addDrive('c');
  fs::create_directories(root_ + "/drive_c/windows/system32/drivers/etc");
  if (layout64) fs::create_directories(root_ + "/drive_c/windows/syswow64");
  fs::create_directories(root_ + "/drive_c/users/user/Desktop");
  rewriteHive(true);
  rewriteHive(false);
}

TestMachine::~TestMachine() {
  std::error_code ec;
  // Make everything writable again so removal cannot fail half-way.
  for (auto it = fs::recursive_directory_iterator(root_, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(root_, ec);
}

void TestMachine::addDrive(char letter) {
  const std::string drive = std::string("drive_") + letter;
  fs::create_directories(root_ + "/" + drive);
  const std::string link = root_ + "/dosdevices/" + letter + ":";
  std::error_code ec;
  fs::remove(link, ec);
  fs::create_directory_symlink("../" + drive, link);
}

std::string TestMachine::host(const Text& windowsPath) const {
  std::string p = toUtf8(windowsPath);
  if (p.size() < 2 || p[1] != ':') throw std::runtime_error("not a drive path: " + p);
  char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(p[0])));
  std::string out = root_ + "/drive_" + letter;
  std::string rest = p.substr(2);
  std::string component;
  for (char c : rest + "\\") {
    if (c == '\\' || c == '/') {
      if (!component.empty()) out += "/" + component;
      component.clear();
    } else {
      component += c;
    }
  }
  // Windows folders of the layout are kept in lower case, as Wine makes them.
  const std::string lowerWin = root_ + "/drive_c/Windows";
  if (out.compare(0, lowerWin.size(), lowerWin) == 0)
    out.replace(0, lowerWin.size(), root_ + "/drive_c/windows");
  for (const char* dir : {"/System32", "/SysWOW64"}) {
    const std::string from = root_ + "/drive_c/windows" + dir;
    if (out.compare(0, from.size(), from) == 0) {
      std::string lower = dir;
      for (auto& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      out.replace(0, from.size(), root_ + "/drive_c/windows" + lower);
    }
  }
  const std::string users = root_ + "/drive_c/Users";
  if (out.compare(0, users.size(), users) == 0)
    out.replace(0, users.size(), root_ + "/drive_c/users");
  return out;
}

void TestMachine::writeFile(const Text& windowsPath, const std::string& content) {
  const std::string h = host(windowsPath);
  fs::create_directories(fs::path(h).parent_path());
  std::ofstream(h, std::ios::binary) << content;
}

void TestMachine::makeDir(const Text& windowsPath) {
  fs::create_directories(host(windowsPath));
}

bool TestMachine::exists(const Text& windowsPath) const {
  std::error_code ec;
  return fs::exists(fs::symlink_status(host(windowsPath), ec));
}

std::string TestMachine::readFile(const Text& windowsPath) const {
  std::ifstream in(host(windowsPath), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + host(windowsPath));
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void TestMachine::setDosAttributes(const Text& windowsPath, unsigned attributes) {
  char value[16];
  const int n = std::snprintf(value, sizeof value, "0x%x", attributes);
  if (setxattr(host(windowsPath).c_str(), "user.DOSATTRIB", value, static_cast<size_t>(n), 0) != 0)
    throw std::runtime_error("setxattr failed (does the file system keep user attributes?)");
}

void TestMachine::setRegString(bool hkcu, const std::string& key, const std::string& name,
                               const std::string& value) {
  const std::string lhs = name.empty() ? std::string("@") : '"' + regEscape(name) + '"';
  addRegLines(hkcu, key, {lhs + "=\"" + regEscape(value) + "\""});
}

void TestMachine::addRegLines(bool hkcu, const std::string& key,
                              const std::vector<std::string>& lines) {
  auto& sections = hkcu ? user_ : system_;
  Section* section = nullptr;
  for (auto& s : sections)
    if (s.key == key) section = &s;
  if (!section) {
    sections.push_back({key, {}});
    section = &sections.back();
  }
  section->lines.insert(section->lines.end(), lines.begin(), lines.end());
  rewriteHive(hkcu);
}

void TestMachine::rewriteHive(bool hkcu) {
  std::ofstream out(root_ + (hkcu ? "/user.reg" : "/system.reg"), std::ios::binary);
  out << "WINE REGISTRY Version 2\n";
  out << (hkcu ? ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n"
               : ";; All keys relative to \\\\Machine\n");
  out << "\n#arch=win64\n";
  for (const auto& s : hkcu ? user_ : system_) {
    out << "\n[" << regEscape(s.key) << "] 1700000000\n#time=1d9f0000000000\n";
    for (const auto& l : s.lines)
      out << l << "\n";
  }
}

void TestMachine::installScript(const Text& windowsPath, const std::string& script) {
  writeFile(windowsPath, script);
  fs::permissions(host(windowsPath), fs::perms::owner_all | fs::perms::group_read |
                                         fs::perms::group_exec | fs::perms::others_read |
                                         fs::perms::others_exec);
}

void TestMachine::installRecorder(const Text& windowsPath, const std::string& logName) {
  const std::string script = "#!/bin/sh\n"
                             "log='" +
                             root_ + "/" + logName +
                             "'\n"
                             "printf '> %s\\n' \"$VORLANKUR_COMMAND_LINE\" >> \"$log\"\n"
                             "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$log\"; done\n"
                             "printf -- '--\\n' >> \"$log\"\n";
  installScript(windowsPath, script);
}

void TestMachine::installCmd(const Text& windowsPath, const std::string& logName) {
  installScript(windowsPath, "#!/bin/sh\nexec '" VK_CMD_STAND_IN "' '" + root_ + "' '" + root_ +
                                 "/" + logName + "'\n");
}

std::string TestMachine::readLog(const std::string& logName) const {
  std::ifstream in(root_ + "/" + logName, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

} // namespace vk::test
