// "Scripting.FileSystemObject" and the text files it writes.
#include "platform/posix/host/error_number.h"
#include "platform/posix/host/files.h"
#include "platform/posix/host/unique.h"
#include "platform/posix/machine/codepage.h"
#include "platform/posix/objects/members.h"
#include "platform/posix/objects/objects.h"

#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace vk::posix {

namespace {

[[noreturn]] void failErrno(int error) {
  throw RuntimeError(runtimeNumber(error).value_or(err::DeviceIo));
}

// A text file open for writing. Every write reaches the file at once, so
// Close has nothing left to flush but the descriptor; a file released
// without Close is closed all the same.
class TextStream final : public TableObject<TextStream> {
public:
  TextStream(unique_fd fd, unsigned codePage, bool unicode)
      : fd_(std::move(fd)), codePage_(codePage), unicode_(unicode) {
    if (unicode_) writeBytes(std::string_view("\xFF\xFE", 2)); // UTF-16LE mark
  }

private:
  void write(const Text& text) {
    if (!fd_) throw RuntimeError(err::BadFileMode); // closed
    if (unicode_) {
      std::string bytes;
      bytes.reserve(text.size() * 2);
      for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
      }
      writeBytes(bytes);
    } else {
      writeBytes(encodeAnsi(text, codePage_));
    }
  }

  void writeBytes(std::string_view bytes) {
    if (!writeAll(fd_.get(), bytes.data(), bytes.size())) failErrno(errno);
  }

  void writeLine(const Args& args) { write((args.empty() ? Text() : args[0].toText()) + u"\r\n"); }

  void writeBlankLines(const Args& args) {
    const std::int32_t lines = args[0].toInt32();
    if (lines < 0) throw RuntimeError(err::InvalidCall);
    Text text;
    for (std::int32_t i = 0; i < lines; ++i)
      text += u"\r\n";
    write(text);
  }

  // A second Close is harmless, as on Windows.
  void close() {
    if (!closeNow(fd_) && errno != EINTR) failErrno(errno);
  }

  // Whatever the arguments: the stream was opened for writing only.
  [[noreturn]] void read() const { throw RuntimeError(err::BadFileMode); }

public:
  static constexpr Member<TextStream> kMembers[] = {
      method<&TextStream::write>(u"Write", 1, 1),
      method<&TextStream::writeLine>(u"WriteLine", 0, 1),
      method<&TextStream::writeBlankLines>(u"WriteBlankLines", 1, 1),
      method<&TextStream::close>(u"Close", 0, 0),
      method<&TextStream::read>(u"Read", 0, kAnyArgs),
      method<&TextStream::read>(u"ReadLine", 0, kAnyArgs),
      method<&TextStream::read>(u"ReadAll", 0, kAnyArgs),
      method<&TextStream::read>(u"Skip", 0, kAnyArgs),
      method<&TextStream::read>(u"SkipLine", 0, kAnyArgs),
  };

  unique_fd fd_;
  unsigned codePage_;
  bool unicode_;
};

class FileSystemObject final : public TableObject<FileSystemObject> {
public:
  explicit FileSystemObject(const Machine& machine) : machine_(machine) {}

private:
  ObjectRef createTextFile(const Args& args) const {
    // Overwrite defaults to True, Unicode to False, as the type library has them.
    const bool overwrite = args.size() < 2 || args[1].isEmpty() || args[1].toBool();
    const bool unicode = args.size() >= 3 && !args[2].isEmpty() && args[2].toBool();
    return makeTextFile(args[0].toText(), overwrite, unicode);
  }

  ObjectRef makeTextFile(const Text& path, bool overwrite, bool unicode) const {
    const std::string host = machine_.hostPath(path); // 76 for a relative path or no drive

    struct stat st {};
    bool exists = ::lstat(host.c_str(), &st) == 0;
    if (exists) {
      if (!overwrite) throw RuntimeError(err::FileAlreadyExists);
      // A link is replaced, as the copies replace one: writing through it
      // would empty whatever it points to, inside the machine or not.
      if (S_ISLNK(st.st_mode)) {
        if (::unlink(host.c_str()) != 0) failErrno(errno);
        exists = false;
      }
      // Windows refuses to empty a read-only file or to open a folder,
      // whoever asks; the host would let its owner or root do both.
      else if (S_ISDIR(st.st_mode) || !(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)))
        throw RuntimeError(err::PermissionDenied);
    }
    // A link that appears meanwhile is refused, not followed.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK |
                      (overwrite && exists ? O_TRUNC : O_EXCL);
    unique_fd fd(::open(host.c_str(), flags, 0644));
    if (!fd) failErrno(errno);
    // The code page is the machine's when the file is made.
    return std::make_shared<TextStream>(std::move(fd), machine_.ansiCodePage(), unicode);
  }

public:
  static constexpr Member<FileSystemObject> kMembers[] = {
      method<&FileSystemObject::createTextFile>(u"CreateTextFile", 1, 3),
  };

  const Machine& machine_;
};

} // namespace

ObjectRef makeFileSystemObject(ObjectContext ctx) {
  return std::make_shared<FileSystemObject>(ctx.machine);
}

} // namespace vk::posix
