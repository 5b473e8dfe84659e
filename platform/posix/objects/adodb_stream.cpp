// "ADODB.Stream": an in-memory byte stream that can be saved to a file.
//
// Failures carry ADO's numbers as the run-time shows them (the low word of
// ADO's 0x800A.... results) with ADO's Turkish texts:
//
//   3001  arguments of the wrong type or out of range (bad Type, Position,
//         save option, a source given to "Open")
//   3004  "SaveToFile" could not write the file (folder missing, file exists
//         with option 1, a folder in the way, no permission, a bad path)
//   3219  not allowed in this context ("Write" on a text stream)
//   3704  the stream is closed
//   3705  the stream is open already
//
// Text streams ("Type" 2, the default) are accepted as a type but this
// stream offers no text members; the program only writes bytes.
#include "platform/posix/host/files.h"
#include "platform/posix/host/temp_file.h"
#include "platform/posix/objects/members.h"
#include "platform/posix/objects/objects.h"

#include <algorithm>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>

namespace vk::posix {

namespace {

constexpr std::int32_t kBadArguments = 3001;
constexpr std::int32_t kWriteFailed = 3004;
constexpr std::int32_t kNotInContext = 3219;
constexpr std::int32_t kClosed = 3704;
constexpr std::int32_t kOpen = 3705;

constexpr std::int32_t adTypeBinary = 1;
constexpr std::int32_t adTypeText = 2;
constexpr std::int32_t adSaveCreateNotExist = 1;
constexpr std::int32_t adSaveCreateOverWrite = 2;

// ADO's numbers and Windows' Turkish texts for them.
constexpr err::Row kRows[] = {
    {kBadArguments, u"Bağımsız değişkenler yanlış türde, kabul edilebilir aralığın dışında "
                    u"veya birbiriyle çakışıyor."},
    {kWriteFailed, u"Dosyaya yazma başarısız oldu."},
    {kNotInContext, u"Bu bağlamda işleme izin verilmiyor."},
    {kClosed, u"Nesne kapalıyken işleme izin verilmiyor."},
    {kOpen, u"Nesne açıkken işleme izin verilmiyor."},
};

[[noreturn]] void fail(std::int32_t number) {
  raiseFrom(kRows, number);
}

// Saves the bytes at path through a temporary file in the same folder, so
// the path holds either its old content or the whole new one, never a part.
void saveAtomically(const std::string& path, const Bytes& bytes, bool overwrite) {
  const std::string folder = parentFolder(path);
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !folderWritable(folder))
    fail(kWriteFailed);
  if (::lstat(path.c_str(), &st) == 0) {
    if (!overwrite || S_ISDIR(st.st_mode)) fail(kWriteFailed);
  }

  // open() applies the umask, so the saved file gets the usual rights.
  if (!publishFile(AT_FDCWD, path, folder + "/.vk-stream-", 0666,
                   overwrite ? Publish::Replace : Publish::OnlyIfAbsent,
                   [&](int fd) { return writeAll(fd, bytes.data(), bytes.size()); }))
    fail(kWriteFailed);
}

class AdodbStream final : public TableObject<AdodbStream> {
public:
  explicit AdodbStream(ObjectContext ctx) : machine_(ctx.machine) {}

private:
  void open(const Args& args) {
    if (open_) fail(kOpen);
    // Only an empty stream: no source, no URL.
    if (!args.empty() && !args[0].isEmpty()) {
      const auto* ref = std::get_if<ObjectRef>(&args[0].value());
      if (!(ref && !*ref) && !(args[0].isText() && args[0].toText().empty())) fail(kBadArguments);
    }
    open_ = true;
    data_.clear();
    shared_.reset();
    position_ = 0;
  }

  void close() {
    requireOpen();
    open_ = false;
    Bytes().swap(data_);
    shared_.reset();
    position_ = 0;
  }

  void write(const Args& args) {
    requireOpen();
    if (type_ != adTypeBinary) fail(kNotInContext);
    if (!args[0].isBytes()) fail(kBadArguments);
    if (bytes().empty()) {
      // The whole of an empty stream: the array is shared, not copied (a
      // download's body would otherwise be held twice).
      shared_ = args[0].sharedBytes();
      position_ = shared_->size();
      return;
    }
    writeBytes(args[0].toBytes());
  }

  Bytes read(const Args& args) {
    requireOpen();
    if (type_ != adTypeBinary) fail(kNotInContext);
    const Bytes& data = bytes();
    std::size_t count = data.size() - position_;
    if (!args.empty() && !args[0].isEmpty()) {
      const std::int32_t n = args[0].toInt32();
      if (n < -1) fail(kBadArguments);
      if (n >= 0) count = std::min<std::size_t>(count, static_cast<std::size_t>(n));
    }
    Bytes out(data.begin() + static_cast<std::ptrdiff_t>(position_),
              data.begin() + static_cast<std::ptrdiff_t>(position_ + count));
    position_ += count;
    return out;
  }

  void saveToFile(const Args& args) {
    requireOpen();
    const std::int32_t option =
        args.size() > 1 && !args[1].isEmpty() ? args[1].toInt32() : adSaveCreateNotExist;
    if (option != adSaveCreateNotExist && option != adSaveCreateOverWrite) fail(kBadArguments);
    std::string path;
    try {
      path = machine_.hostPath(args[0].toText());
    } catch (const RuntimeError&) {
      fail(kWriteFailed);
    }
    saveAtomically(path, bytes(), option == adSaveCreateOverWrite);
  }

  void setEos() {
    requireOpen();
    if (position_ < bytes().size()) owned().resize(position_);
  }

  std::int32_t type() const { return type_; }

  void setType(const Variant& value) {
    const std::int32_t type = value.toInt32();
    if (type != adTypeBinary && type != adTypeText) fail(kBadArguments);
    // ADO lets the type change only at the start of the stream.
    if (open_ && position_ != 0) fail(kNotInContext);
    type_ = type;
  }

  std::int32_t position() const {
    requireOpen();
    return static_cast<std::int32_t>(position_);
  }

  void setPosition(const Variant& value) {
    requireOpen();
    const std::int32_t position = value.toInt32();
    if (position < 0 || static_cast<std::size_t>(position) > bytes().size()) fail(kBadArguments);
    position_ = static_cast<std::size_t>(position);
  }

  std::int32_t size() const {
    requireOpen();
    return static_cast<std::int32_t>(bytes().size());
  }

  bool eos() const {
    requireOpen();
    return position_ >= bytes().size();
  }

  std::int32_t state() const { return open_ ? 1 : 0; }

  void requireOpen() const {
    if (!open_) fail(kClosed);
  }

  // The stream's bytes: an array shared with whoever wrote it whole, or the
  // stream's own.
  const Bytes& bytes() const { return shared_ ? *shared_ : data_; }

  // The stream's own bytes, copied from the shared array before a change.
  Bytes& owned() {
    if (shared_) {
      data_ = *shared_;
      shared_.reset();
    }
    return data_;
  }

  // Writes at the current position, overwriting and then extending.
  void writeBytes(const Bytes& in) {
    Bytes& data = owned();
    const std::size_t overlap = std::min(in.size(), data.size() - position_);
    const auto split = in.begin() + static_cast<std::ptrdiff_t>(overlap);
    std::copy(in.begin(), split, data.begin() + static_cast<std::ptrdiff_t>(position_));
    data.insert(data.end(), split, in.end());
    position_ += in.size();
  }

public:
  static constexpr Member<AdodbStream> kMembers[] = {
      method<&AdodbStream::open>(u"Open", 0, 5),
      method<&AdodbStream::close>(u"Close", 0, 0),
      method<&AdodbStream::write>(u"Write", 1, 2),
      method<&AdodbStream::read>(u"Read", 0, 1),
      method<&AdodbStream::saveToFile>(u"SaveToFile", 1, 2),
      method<&AdodbStream::setEos>(u"SetEOS", 0, 0),
      propertyGet<&AdodbStream::type>(u"Type"),
      propertyLet<&AdodbStream::setType>(u"Type"),
      propertyGet<&AdodbStream::position>(u"Position"),
      propertyLet<&AdodbStream::setPosition>(u"Position"),
      readOnlyProperty<&AdodbStream::size>(u"Size"),
      readOnlyProperty<&AdodbStream::eos>(u"EOS"),
      readOnlyProperty<&AdodbStream::state>(u"State"),
  };

  const Machine& machine_;
  bool open_ = false;
  std::int32_t type_ = adTypeText;
  Bytes data_;
  SharedBytes shared_; // when set, the stream's bytes instead of data_
  std::size_t position_ = 0;
};

} // namespace

ObjectRef makeAdodbStream(ObjectContext ctx) {
  return std::make_shared<AdodbStream>(ctx);
}

} // namespace vk::posix
