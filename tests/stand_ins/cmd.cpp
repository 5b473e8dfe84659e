// Stand-in for Windows' cmd.exe on a simulated machine. It takes the raw
// command line it was started with (VORLANKUR_COMMAND_LINE), finds what
// follows /c, treats its quotes as cmd.exe does, splits it into commands at
// & and | as cmd.exe does, and records the program each command would run.
//
//   vk_cmd_stand_in <machine root> <log file>
//
// The log gets "> " and the raw line, then per command "run <program>" (a
// file that exists) or "unknown <token>", then "--".
#include "platform/errors.h"
#include "platform/posix/machine/machine.h"
#include "platform/text.h"

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using vk::Text;

bool isBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

// Whether a Windows path names a file, as cmd.exe's search sees it: a name
// without extension is tried with each of PATHEXT's.
bool namesFile(const vk::posix::Machine& machine, const Text& path) {
  std::vector<Text> candidates{path};
  const auto slash = path.find_last_of(u"\\/");
  if (path.find(u'.', slash == Text::npos ? 0 : slash) == Text::npos)
    for (const char16_t* ext : {u".COM", u".EXE", u".BAT", u".CMD"})
      candidates.push_back(path + ext);
  for (const Text& c : candidates) {
    try {
      struct stat st {};
      if (::stat(machine.hostPath(c).c_str(), &st) == 0 && S_ISREG(st.st_mode)) return true;
    } catch (const vk::RuntimeError&) {
      // a relative path or an unknown drive names nothing here
    }
  }
  return false;
}

// What follows the /c (or /k) switch; nothing when the line has none.
std::optional<Text> afterSwitch(const Text& line, bool& optS) {
  std::size_t i = 0;
  while (i < line.size() && isBlank(line[i]))
    ++i;
  // The program's own name.
  if (i < line.size() && line[i] == u'"') {
    const auto close = line.find(u'"', i + 1);
    i = close == Text::npos ? line.size() : close + 1;
  } else {
    while (i < line.size() && !isBlank(line[i]))
      ++i;
  }
  for (;;) {
    while (i < line.size() && isBlank(line[i]))
      ++i;
    if (i + 1 >= line.size() || line[i] != u'/') return std::nullopt;
    const char16_t option = vk::upperChar(line[i + 1]);
    if (option == u'C' || option == u'K') {
      i += 2;
      while (i < line.size() && isBlank(line[i]))
        ++i;
      return line.substr(i);
    }
    if (option == u'S') optS = true;
    while (i < line.size() && !isBlank(line[i]))
      ++i;
  }
}

// cmd.exe's rule for the quotes of the text after /c: they are kept only
// when there are exactly two, the text between them holds a blank and none
// of & < > ( ) @ ^ |, and names an executable file; otherwise a leading
// quote is stripped together with the last quote of the line.
Text applyQuoteRule(const vk::posix::Machine& machine, Text text, bool optS) {
  const auto first = text.find(u'"');
  const auto last = text.rfind(u'"');
  std::size_t quotes = 0;
  for (char16_t c : text)
    quotes += c == u'"';
  if (!optS && quotes == 2) {
    const Text between = text.substr(first + 1, last - first - 1);
    const bool special = between.find_first_of(u"&<>()@^|") != Text::npos;
    const bool blank = between.find_first_of(u" \t") != Text::npos;
    if (!special && blank && namesFile(machine, between)) return text;
  }
  if (!text.empty() && text[0] == u'"') {
    text.erase(last, 1);
    if (last != 0) text.erase(0, 1);
  }
  return text;
}

// The commands of a line: split at & && | || outside quotes; ^ escapes the
// next character outside quotes.
std::vector<Text> commands(const Text& line) {
  std::vector<Text> out(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char16_t c = line[i];
    if (c == u'"') {
      quoted = !quoted;
      out.back() += c;
    } else if (!quoted && c == u'^' && i + 1 < line.size()) {
      out.back() += line[++i];
    } else if (!quoted && (c == u'&' || c == u'|')) {
      if (i + 1 < line.size() && line[i + 1] == c) ++i;
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

// The program a command names: a quoted first word, or the first word up to
// a blank or one of cmd.exe's delimiters.
Text programOf(const Text& command) {
  std::size_t i = 0;
  while (i < command.size() && (isBlank(command[i]) || command[i] == u'@'))
    ++i;
  if (i < command.size() && command[i] == u'"') {
    const auto close = command.find(u'"', i + 1);
    return command.substr(i + 1, (close == Text::npos ? command.size() : close) - i - 1);
  }
  const auto end = command.find_first_of(u" \t<>()", i);
  return command.substr(i, (end == Text::npos ? command.size() : end) - i);
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const vk::posix::Machine machine(argv[1]);
  const char* raw = std::getenv("VORLANKUR_COMMAND_LINE");
  const Text line = vk::fromUtf8(raw ? raw : "");

  std::string log = "> " + vk::toUtf8(line) + "\n";
  bool optS = false;
  if (const auto after = afterSwitch(line, optS)) {
    for (const Text& command : commands(applyQuoteRule(machine, *after, optS))) {
      const Text program = programOf(command);
      if (program.empty()) continue;
      log += (namesFile(machine, program) ? "run " : "unknown ") + vk::toUtf8(program) + "\n";
    }
  }
  log += "--\n";
  std::ofstream(argv[2], std::ios::binary | std::ios::app) << log;
  return 0;
}
