#include "platform/posix/runtime_posix.h"

#include "platform/errors.h"
#include "platform/posix/host/error_number.h"
#include "platform/posix/host/files.h"
#include "platform/posix/host/process.h"
#include "platform/posix/host/stop_signals.h"
#include "platform/posix/host/temp_file.h"
#include "platform/posix/host/unique.h"
#include "platform/posix/objects/objects.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace vk::posix {

namespace {

bool isSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}
bool isBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

// DOS wildcard matching as FindFirstFile does it: "*.*" is "*", "?" also
// matches nothing at a dot or at the end, "*." is what has no extension.
class DosPattern {
public:
  explicit DosPattern(TextView pattern) {
    if (pattern == u"*.*") pattern = u"*";
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      const char16_t c = pattern[i];
      const char16_t next = i + 1 < pattern.size() ? pattern[i + 1] : u'\0';
      const bool atEnd = i + 1 == pattern.size();
      if (c == u'?')
        tokens_.push_back({Kind::DosQm, 0});
      else if (c == u'*')
        tokens_.push_back({next == u'.' ? Kind::DosStar : Kind::Star, 0});
      else if (c == u'.' && (next == u'?' || next == u'*' || atEnd))
        tokens_.push_back({Kind::DosDot, 0});
      else
        tokens_.push_back({Kind::Char, upperChar(c)});
    }
  }

  bool hasWildcards() const {
    return std::any_of(tokens_.begin(), tokens_.end(),
                       [](const Token& t) { return t.kind != Kind::Char; });
  }

  bool matches(TextView name) const {
    name_ = name;
    lastDot_ = name.rfind(u'.');
    memo_.assign((tokens_.size() + 1) * (name.size() + 1), 0);
    return match(0, 0);
  }

private:
  enum class Kind { Char, Star, DosStar, DosQm, DosDot };
  struct Token {
    Kind kind;
    char16_t c;
  };

  bool match(std::size_t t, std::size_t n) const {
    char& seen = memo_[t * (name_.size() + 1) + n];
    if (seen) return seen == 2;
    const bool result = matchUncached(t, n);
    seen = result ? 2 : 1;
    return result;
  }

  bool matchUncached(std::size_t t, std::size_t n) const {
    if (t == tokens_.size()) return n == name_.size();
    const Token& tok = tokens_[t];
    switch (tok.kind) {
    case Kind::Char:
      return n < name_.size() && upperChar(name_[n]) == tok.c && match(t + 1, n + 1);
    case Kind::Star:
      for (std::size_t k = n; k <= name_.size(); ++k)
        if (match(t + 1, k)) return true;
      return false;
    case Kind::DosStar: {
      // Anything up to, not past, the name's last dot.
      const std::size_t limit =
          lastDot_ != TextView::npos && lastDot_ >= n ? lastDot_ : name_.size();
      for (std::size_t k = n; k <= limit; ++k)
        if (match(t + 1, k)) return true;
      return false;
    }
    case Kind::DosQm:
      if (n == name_.size() || name_[n] == u'.') return match(t + 1, n);
      return match(t + 1, n + 1);
    case Kind::DosDot:
      if (n == name_.size()) return match(t + 1, n);
      return name_[n] == u'.' && match(t + 1, n + 1);
    }
    return false;
  }

  std::vector<Token> tokens_;
  mutable TextView name_;
  mutable std::size_t lastDot_ = 0;
  mutable std::vector<char> memo_;
};

bool lessIgnoreCase(const Text& a, const Text& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t x = upperChar(a[i]), y = upperChar(b[i]);
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

bool holdsAny(TextView part, TextView characters) {
  return std::any_of(part.begin(), part.end(),
                     [&](char16_t c) { return c < 0x20 || characters.find(c) != TextView::npos; });
}

// What FindFirstFile takes without "invalid name": no control character or
// "|" anywhere, and wildcards only in the last component.
bool validPattern(TextView folder, TextView name) {
  return !holdsAny(folder, u"|*?<>\"") && !holdsAny(name, u"|");
}

// A name Windows can make or open a file by: no control character, none of
// <>"|?*, and ":" only after the drive letter. Others fail with "invalid
// name" before anything is looked at.
void requireValidName(TextView path) {
  const TextView rest = path.size() >= 2 && path[1] == u':' ? path.substr(2) : path;
  if (std::any_of(rest.begin(), rest.end(), refusedInFileNames))
    throw RuntimeError(err::BadFileName);
}

[[noreturn]] void failFromErrno(int e, err::Code fallback) {
  throw RuntimeError(runtimeNumber(e).value_or(fallback));
}

} // namespace

struct PosixRuntime::Listing {
  std::vector<Text> names;
  std::size_t next = 0;
};

PosixRuntime::PosixRuntime(const Machine& machine, Text appPath, Text applicationTitle,
                           MessageBoxFn messageBox)
    : machine_(machine), appPath_(std::move(appPath)), title_(std::move(applicationTitle)),
      messageBox_(std::move(messageBox)), started_(machine.root() + "/.vorlankur-started") {}

PosixRuntime::~PosixRuntime() = default;

Text PosixRuntime::rtcDir(const Text& pathname, int attributes) {
  // Whatever this call gives, a continuation after it gives "" at worst.
  listingBegun_ = true;
  listing_.reset();
  auto listing = std::make_unique<Listing>();

  // The last component is the name or pattern; the rest names the folder.
  std::size_t cut = pathname.size();
  while (cut > 0 && !isSeparator(pathname[cut - 1]))
    --cut;
  // A relative name looks in a current folder this machine does not keep.
  if (cut == 0) return u"";
  const Text folderPart = pathname.substr(0, cut);
  // A folder path ending in "\" lists the folder, as "*" would.
  const Text namePart = cut < pathname.size() ? pathname.substr(cut) : Text(1, u'*');
  if (!validPattern(folderPart, namePart)) throw RuntimeError(err::BadFileName);
  std::string folder;
  try {
    folder = machine_.hostPath(folderPart);
  } catch (const RuntimeError&) {
    // A drive the machine lacks: FindFirstFile's "path not found", which
    // Dir answers with "" as for any missing folder.
    return u"";
  }

  const DosPattern pattern(namePart);
  if (const unique_dir dir(::opendir(folder.c_str())); dir) {
    while (const dirent* e = ::readdir(dir.get())) {
      const std::string entry = e->d_name;
      if (entry == "." || entry == "..") continue;
      const Text name = fromUtf8(entry);
      if (!pattern.matches(name)) continue;
      const auto attr = Machine::attributes(folder + "/" + entry);
      if (!attr) continue; // a dangling link
      if ((*attr & kAttrDirectory) && !(attributes & vbDirectory)) continue;
      if ((*attr & kAttrHidden) && !(attributes & vbHidden)) continue;
      if ((*attr & kAttrSystem) && !(attributes & vbSystem)) continue;
      listing->names.push_back(name);
    }
  }
  std::sort(listing->names.begin(), listing->names.end(), lessIgnoreCase);
  if (!pattern.hasWildcards()) {
    // A plain name: the entry spelled exactly so comes first, as it is the
    // one Windows would open by that name.
    std::stable_partition(listing->names.begin(), listing->names.end(),
                          [&](const Text& n) { return n == namePart; });
  }
  listing_ = std::move(listing);
  return rtcDir();
}

Text PosixRuntime::rtcDir() {
  if (!listingBegun_) throw RuntimeError(err::InvalidCall);
  if (!listing_ || listing_->next >= listing_->names.size()) return u"";
  return listing_->names[listing_->next++];
}

void PosixRuntime::rtcMakeDir(const Text& path) {
  requireValidName(path);
  const std::string host = machine_.hostPath(path);
  struct stat st {};
  if (::lstat(host.c_str(), &st) == 0) throw RuntimeError(err::PathFileAccess);
  const std::string parent = parentFolder(host);
  if (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    throw RuntimeError(err::PathNotFound);
  if (!folderWritable(parent)) throw RuntimeError(err::PermissionDenied);
  if (::mkdir(host.c_str(), 0777) != 0) {
    // A name taken meanwhile: CreateDirectory's "already exists", not a file's 58.
    if (errno == EEXIST) throw RuntimeError(err::PathFileAccess);
    failFromErrno(errno, err::PathFileAccess);
  }
}

void PosixRuntime::rtcFileCopy(const Text& source, const Text& destination) {
  requireValidName(source);
  requireValidName(destination);
  const std::string from = machine_.hostPath(source);
  struct stat src {};
  if (::stat(from.c_str(), &src) != 0 || !S_ISREG(src.st_mode))
    throw RuntimeError(err::FileNotFound);

  const std::string to = machine_.hostPath(destination);
  const std::string folder = parentFolder(to);
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    throw RuntimeError(err::PathNotFound);
  if (::stat(to.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw RuntimeError(err::PathFileAccess);
    // Windows holds the source open while it copies, and a running
    // program's image: either is a sharing violation.
    if ((st.st_dev == src.st_dev && st.st_ino == src.st_ino) || isRunningImage(to))
      throw RuntimeError(err::PermissionDenied);
    // CopyFile refuses to replace a read-only or a hidden file.
    if (Machine::attributes(to).value_or(0) & (kAttrReadOnly | kAttrHidden))
      throw RuntimeError(err::PermissionDenied);
  }
  if (!folderWritable(folder)) throw RuntimeError(err::PermissionDenied);

  unique_fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) failFromErrno(errno, err::FileNotFound);

  // Published whole or not at all; a stop during a large copy ends it with
  // nothing left.
  const bool copied =
      publishFile(AT_FDCWD, to, folder + "/.vk-copy-", 0600, Publish::Replace, [&](int out) {
        if (!copyContents(in.get(), out)) return false;
        // Windows' copy keeps the time of the last write and the DOS attributes.
        const timespec times[2] = {src.st_atim, src.st_mtim};
        ::futimens(out, times);
        char attr[256];
        const ssize_t attrLen = ::fgetxattr(in.get(), "user.DOSATTRIB", attr, sizeof attr);
        if (attrLen > 0)
          ::fsetxattr(out, "user.DOSATTRIB", attr, static_cast<std::size_t>(attrLen), 0);
        return ::fchmod(out, src.st_mode & 07777) == 0;
      });
  if (!copied) failFromErrno(errno, err::PathFileAccess);
}

bool PosixRuntime::isRunningImage(const std::string& hostPath) {
  // One the stand-in started, in this run or an earlier one; then any whose
  // executable the file is.
  return started_.mayRun(hostPath) || executableRuns(hostPath);
}

namespace {

// A program name looked up as CreateProcess looks: the host executable, or
// the number the Windows layer gives for what CreateProcess found missing.
struct Lookup {
  std::optional<std::string> program;
  err::Code failure = err::FileNotFound;
};

// ".exe" is appended to a name without extension; a name with a drive or
// "\" is a path, a bare one is looked for in the application's folder, then
// C:\Windows\System32, then C:\Windows; the first file there, which fails
// to start when it is no program.
Lookup findProgram(const Machine& machine, const Text& appPath, Text name) {
  if (name.empty()) return {};
  std::size_t baseStart = 0;
  bool hasSeparator = false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (isSeparator(name[i])) {
      baseStart = i + 1;
      hasSeparator = true;
    }
  }
  const bool isPath = hasSeparator || (name.size() >= 2 && name[1] == u':');
  if (name.find(u'.', baseStart) == Text::npos) name += u".exe";

  if (isPath) {
    std::string host;
    try {
      host = machine.hostPath(name);
    } catch (const RuntimeError&) {
      return {std::nullopt, err::PathNotFound}; // a drive the machine lacks, or no drive
    }
    if (auto program = firstProgram({host}, Accept::AnyFile)) return {std::move(program)};
    // "Path not found" when the folder is missing, "file not found" in one.
    struct stat st {};
    const std::string folder = parentFolder(host);
    const bool folderExists = ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    return {std::nullopt, folderExists ? err::FileNotFound : err::PathNotFound};
  }
  Text app = appPath;
  if (app.empty() || !isSeparator(app.back())) app += u'\\';
  std::vector<std::string> hostCandidates;
  for (const Text& candidate :
       {app + name, u"C:\\Windows\\System32\\" + name, u"C:\\Windows\\" + name}) {
    try {
      hostCandidates.push_back(machine.hostPath(candidate));
    } catch (const RuntimeError&) {
      // a drive the machine lacks: no program there
    }
  }
  return {firstProgram(hostCandidates, Accept::AnyFile)};
}

// The number for a found file that failed to start, as the Windows layer
// numbers CreateProcess's error for it.
err::Code startFailure(int error, const std::string& program) {
  switch (error) {
  case ENOEXEC:
    return err::InvalidCall; // ERROR_BAD_EXE_FORMAT
  case EACCES: {
    // A file nobody may execute is no program: Windows finds its format bad.
    struct stat st {};
    if (::stat(program.c_str(), &st) == 0 && !(st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)))
      return err::InvalidCall;
    return err::PermissionDenied; // ERROR_ACCESS_DENIED
  }
  case ENOENT:
    return err::FileNotFound; // gone meanwhile, or a script's interpreter missing
  default:
    return runtimeNumber(error).value_or(err::InvalidCall); // the Windows layer's fallback
  }
}

// The styles the Windows layer passes on to the program's window: hidden,
// normal, minimized, maximized, not activated, minimized not activated.
bool isWindowStyle(int style) {
  return style >= 0 && style <= 6 && style != 5;
}

} // namespace

double PosixRuntime::rtcShell(const Text& commandLine, int windowStyle) {
  if (!isWindowStyle(windowStyle)) throw RuntimeError(err::InvalidCall);

  std::size_t start = 0;
  while (start < commandLine.size() && isBlank(commandLine[start]))
    ++start;

  // The program name: a quoted name, or, unquoted, the shortest run of
  // blank-separated words that names an existing program, as CreateProcess
  // tries "C:\Program" before "C:\Program Files\x.exe". When none does, the
  // first word's failure is the one reported.
  Lookup found;
  std::size_t argsStart = commandLine.size();
  if (start < commandLine.size() && commandLine[start] == u'"') {
    const std::size_t close = commandLine.find(u'"', start + 1);
    const std::size_t end = close == Text::npos ? commandLine.size() : close;
    found = findProgram(machine_, appPath_, commandLine.substr(start + 1, end - start - 1));
    argsStart = close == Text::npos ? commandLine.size() : close + 1;
  } else {
    std::size_t end = start;
    bool first = true;
    while (end < commandLine.size()) {
      while (end < commandLine.size() && !isBlank(commandLine[end]))
        ++end;
      Lookup words = findProgram(machine_, appPath_, commandLine.substr(start, end - start));
      if (words.program || first) found = std::move(words);
      if (found.program) break;
      first = false;
      while (end < commandLine.size() && isBlank(commandLine[end]))
        ++end;
    }
    argsStart = end;
  }
  if (!found.program) throw RuntimeError(found.failure);
  const std::string& program = *found.program;

  ProcessOptions options;
  options.argv.push_back(program);
  for (const Text& a : splitArguments(TextView(commandLine).substr(argsStart)))
    options.argv.push_back(toUtf8(a));
  // The whole command line, as Windows hands it to the program; argv cannot
  // carry its quoting.
  options.environment = environmentWith({{"VORLANKUR_COMMAND_LINE", toUtf8(commandLine)}});
  // No folder given: the program works in the setup's own working folder,
  // as CreateProcess without one starts it.
  options.group = ProcessOptions::Group::OwnSession;
  options.detached = true;
  const StartedProcess started = startProcess(options);
  if (!started.pid) throw RuntimeError(startFailure(started.error, program));
  started_.add(started.pid, program);
  return static_cast<double>(started.pid);
}

int PosixRuntime::rtcMsgBox(const Text& prompt, int buttons, const std::optional<Text>& title) {
  return messageBox_(prompt, buttons, title ? *title : title_);
}

void PosixRuntime::vbaEnd() {
  throw ProgramEnd{};
}

// As Windows' DoEvents waits on the window's messages: nothing waiting, it
// sleeps on what could come, so a loop around it takes next to no time.
void PosixRuntime::rtcDoEvents() {
  events_.turn(kDoEventsWaitMs);
}

ObjectRef PosixRuntime::rtcCreateObject2(const Text& progId) {
  return createObjectByProgId(ObjectContext{machine_, *this, events_}, progId);
}

ObjectRef PosixRuntime::createObject(const Text& classId, const Text& interfaceId) {
  return createObjectByClassId(ObjectContext{machine_, *this, events_}, classId, interfaceId);
}

std::vector<Text> splitArguments(TextView arguments) {
  std::vector<Text> out;
  std::size_t i = 0;
  while (i < arguments.size() && isBlank(arguments[i]))
    ++i;
  if (i == arguments.size()) return out;

  Text current;
  std::size_t backslashes = 0; // directly before the current character
  int quotes = 0;              // 0 outside quotes, 1 inside
  while (i < arguments.size()) {
    const char16_t c = arguments[i];
    if (isBlank(c) && quotes == 0) {
      out.push_back(std::move(current));
      current.clear();
      backslashes = 0;
      while (i < arguments.size() && isBlank(arguments[i]))
        ++i;
      if (i == arguments.size()) return out;
    } else if (c == u'\\') {
      current += c;
      ++backslashes;
      ++i;
    } else if (c == u'"') {
      // 2n backslashes and a quote: n backslashes, and the quote opens or
      // closes; 2n+1 and a quote: n backslashes and a literal quote.
      current.resize(current.size() - backslashes / 2);
      if (backslashes % 2 == 0) {
        ++quotes;
      } else {
        current.back() = u'"';
      }
      backslashes = 0;
      ++i;
      // A run of quotes: every third one is a literal quote; inside quotes
      // a doubled one gives a quote and leaves quoting.
      while (i < arguments.size() && arguments[i] == u'"') {
        if (++quotes == 3) {
          current += u'"';
          quotes = 0;
        }
        ++i;
      }
      if (quotes == 2) quotes = 0;
    } else {
      current += c;
      backslashes = 0;
      ++i;
    }
  }
  out.push_back(std::move(current));
  return out;
}

} // namespace vk::posix
