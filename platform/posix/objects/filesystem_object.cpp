// "Scripting.FileSystemObject" and the text files it writes.
#include "platform/posix/machine/codepage.h"
#include "platform/posix/host/error_number.h"
#include "platform/posix/host/io.h"
#include "platform/posix/objects/objects.h"
#include "platform/posix/host/unique.h"

#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace vk::posix {

namespace {

bool is(TextView member, TextView name) {
  return equalsIgnoreCase(member, name);
}

[[noreturn]] void failErrno(int error) {
  throw RuntimeError(runtimeNumber(error).value_or(err::DeviceIo));
}

// A text file open for writing. Every write reaches the file at once, so
// Close has nothing left to flush but the descriptor; a file released
// without Close is closed all the same.
class TextStream final : public Object {
public:
  TextStream(unique_fd fd, unsigned codePage, bool unicode)
      : fd_(std::move(fd)), codePage_(codePage), unicode_(unicode) {
    if (unicode_) writeBytes(std::string_view("\xFF\xFE", 2)); // UTF-16LE mark
  }

  Variant call(TextView member, const Args& args) override {
    if (is(member, u"Write")) {
      expectArgs(args, 1, 1);
      write(args[0].toText());
    } else if (is(member, u"WriteLine")) {
      expectArgs(args, 0, 1);
      write((args.empty() ? Text() : args[0].toText()) + u"\r\n");
    } else if (is(member, u"WriteBlankLines")) {
      expectArgs(args, 1, 1);
      const std::int32_t lines = args[0].toInt32();
      if (lines < 0) throw RuntimeError(err::InvalidCall);
      Text text;
      for (std::int32_t i = 0; i < lines; ++i)
        text += u"\r\n";
      write(text);
    } else if (is(member, u"Close")) {
      expectArgs(args, 0, 0);
      close();
    } else if (is(member, u"Read") || is(member, u"ReadLine") || is(member, u"ReadAll") ||
               is(member, u"Skip") || is(member, u"SkipLine")) {
      throw RuntimeError(err::BadFileMode); // opened for writing only
    } else {
      noSuchMember(member);
    }
    return {};
  }

  void put(TextView member, const Variant&) override { noSuchMember(member); }

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

  // A second Close is harmless, as on Windows.
  void close() {
    if (!fd_) return;
    if (::close(fd_.release()) != 0 && errno != EINTR) failErrno(errno);
  }

  unique_fd fd_;
  unsigned codePage_;
  bool unicode_;
};

class FileSystemObject final : public Object {
public:
  explicit FileSystemObject(const Machine& machine) : machine_(machine) {}

  Variant call(TextView member, const Args& args) override {
    if (is(member, u"CreateTextFile")) {
      expectArgs(args, 1, 3);
      // Overwrite defaults to True, Unicode to False, as the type library has them.
      const bool overwrite = args.size() < 2 || args[1].isEmpty() || args[1].toBool();
      const bool unicode = args.size() >= 3 && !args[2].isEmpty() && args[2].toBool();
      return createTextFile(args[0].toText(), overwrite, unicode);
    }
    noSuchMember(member);
  }

  void put(TextView member, const Variant&) override { noSuchMember(member); }

private:
  ObjectRef createTextFile(const Text& path, bool overwrite, bool unicode) const {
    const std::string host = machine_.hostPath(path); // 76 for a relative path or no drive

    struct stat st {};
    if (::stat(host.c_str(), &st) == 0) {
      if (!overwrite) throw RuntimeError(err::FileAlreadyExists);
      // Windows refuses to empty a read-only file or to open a folder,
      // whoever asks; the host would let its owner or root do both.
      if (S_ISDIR(st.st_mode) || !(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)))
        throw RuntimeError(err::PermissionDenied);
    }
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL);
    unique_fd fd(::open(host.c_str(), flags, 0644));
    if (!fd) failErrno(errno);
    // The code page is the machine's when the file is made.
    return std::make_shared<TextStream>(std::move(fd), machine_.ansiCodePage(), unicode);
  }

  const Machine& machine_;
};

} // namespace

ObjectRef makeFileSystemObject(ObjectContext ctx) {
  return std::make_shared<FileSystemObject>(ctx.machine);
}

} // namespace vk::posix
