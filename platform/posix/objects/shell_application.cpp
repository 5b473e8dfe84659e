// The shell application object and its folder objects: folders of the
// machine, and ".zip" archives seen as folders whose entries can be copied
// out (read with libarchive). A folder inside an archive is a folder object
// of its own, from NameSpace("<archive>\<folder>") or its item's GetFolder.
//
// Extraction runs before CopyHere returns. It never writes outside the
// destination folder: an entry with an absolute name, a ".." step, a link or
// a special file is refused with a box of its own while the other entries
// still arrive, and folders are entered without following links already in
// the destination. Each file is written to a temporary name in its folder
// and renamed into place, so no half-written file stays. A file that exists
// already is replaced only when the user confirms it; a damaged archive
// (cut short, or an entry whose checksum fails) gets one error box after
// everything readable arrived, and a damaged entry is never written.
//
// CopyHere options honoured: 16 (answer "Yes" to every replace question)
// and 1024 (no error boxes). No progress box is shown, whatever the options.
//
// Items of an ordinary folder are copied, folders with all under them,
// with the same questions (a folder named like an archive is a folder).
// Not offered: copying a path given as text, and copying into an archive;
// those fail with 0x80004001 (E_NOTIMPL). NameSpace of a special folder number fails with
// the run-time's 5.
#include "platform/posix/host/files.h"
#include "platform/posix/host/stop_signals.h"
#include "platform/posix/host/temp_file.h"
#include "platform/posix/host/unique.h"
#include "platform/posix/objects/entry_path.h"
#include "platform/posix/objects/members.h"
#include "platform/posix/objects/objects.h"
#include "platform/runtime.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <iconv.h>
#include <locale.h>
#include <map>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vk::posix {

namespace {

constexpr int FOF_NOCONFIRMATION = 16;
constexpr int FOF_NOERRORUI = 1024;

[[noreturn]] void notImplemented() {
  throw RuntimeError(hr::NotImpl, u"Uygulanmadı");
}

const Text kZipErrorTitle = u"Sıkıştırılmış (zip) Klasörler Hatası";
const Text kReplaceTitle = u"Dosya Değiştirmeyi Onayla";

Text quoted(const Text& name) {
  return u"'" + name + u"'";
}

// Names in zip archives that do not say they are UTF-8 are in the OEM code
// page of the Windows that made them; take the one that goes with the
// machine's ANSI code page.
const char* oemCharset(unsigned ansiCodePage) {
  switch (ansiCodePage) {
  case 1250:
    return "CP852";
  case 1251:
    return "CP866";
  case 1252:
    return "CP850";
  case 1253:
    return "CP737";
  case 1254:
    return "CP857";
  case 1255:
    return "CP862";
  case 1257:
    return "CP775";
  default:
    return "CP437";
  }
}

// libarchive converts names to the thread's locale; in a UTF-8 one, names
// marked UTF-8 arrive as they are and unmarked ones keep their bytes, which
// entryName then decodes itself. Held while an archive is read.
class Utf8Names {
public:
  Utf8Names() {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      locale_.reset(::newlocale(LC_CTYPE_MASK, name, locale_t(0)));
      if (locale_) break;
    }
    if (locale_) previous_ = ::uselocale(locale_.get());
  }
  // The thread goes back to its own locale before this one is freed.
  ~Utf8Names() {
    if (locale_) ::uselocale(previous_);
  }
  Utf8Names(const Utf8Names&) = delete;
  Utf8Names& operator=(const Utf8Names&) = delete;

private:
  unique_locale locale_;
  locale_t previous_ = locale_t(0);
};

unique_archive openArchive(const std::string& hostPath) {
  unique_archive a(archive_read_new());
  if (!a) return {};
  archive_read_support_format_zip(a.get());
  if (archive_read_open_filename(a.get(), hostPath.c_str(), 64 * 1024) != ARCHIVE_OK) return {};
  return a;
}

// An entry's name: UTF-8 when its bytes are UTF-8 (marked so, or written by
// a tool that did not mark it), else the OEM code page Windows reads them in.
Text entryName(const Machine& machine, archive_entry* e) {
  const char* raw = archive_entry_pathname(e);
  if (!raw) raw = archive_entry_pathname_utf8(e);
  if (!raw) return Text();
  const std::string bytes = raw;
  Text name = fromUtf8(bytes);
  if (toUtf8(name) == bytes) return name;
  const unique_iconv cd(::iconv_open("UTF-8", oemCharset(machine.ansiCodePage())));
  if (!cd) return name;
  std::string out(bytes.size() * 4, '\0');
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char* to = out.data();
  std::size_t outLeft = out.size();
  if (::iconv(cd.get(), &in, &inLeft, &to, &outLeft) == static_cast<std::size_t>(-1)) return name;
  out.resize(out.size() - outLeft);
  return fromUtf8(out);
}

Text joinBackslash(const std::vector<Text>& parts, std::size_t count) {
  Text out;
  for (std::size_t i = 0; i < count && i < parts.size(); ++i) {
    if (i) out += u'\\';
    out += parts[i];
  }
  return out;
}

// The names in the folders an extraction writes to, by their upper case:
// with thousands of entries in one folder, finding each one's existing name
// by listing the folder again would cost the square of their number.
class FolderNames {
public:
  struct Entry {
    std::string name;
    std::optional<struct stat> found; // what the entry is, when there is one
  };

  // The name an entry of dirFd already has when it matches name without
  // regard to case (Windows names do); name itself when none does.
  Entry existing(int dirFd, const std::string& name) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return {name, st};
    const Listing* names = listing(dirFd, true);
    const auto it =
        names ? names->find(rtcUpperCaseVar(fromUtf8(name))) : Listing::const_iterator();
    if (!names || it == names->end()) return {name, std::nullopt};
    if (::fstatat(dirFd, it->second.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      return {it->second, std::nullopt};
    return {it->second, st};
  }

  // dirFd has an entry called name now.
  void add(int dirFd, const std::string& name) {
    if (Listing* names = listing(dirFd, false))
      names->emplace(rtcUpperCaseVar(fromUtf8(name)), name);
  }

private:
  using Listing = std::unordered_map<Text, std::string>;

  // The folder's names, read on first need when read is set.
  Listing* listing(int dirFd, bool read) {
    struct stat st {};
    if (::fstat(dirFd, &st) != 0) return nullptr;
    const std::pair<dev_t, ino_t> id{st.st_dev, st.st_ino};
    if (const auto it = folders_.find(id); it != folders_.end()) return &it->second;
    if (!read) return nullptr;
    unique_fd listFd(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listFd) return nullptr;
    const unique_dir dir(::fdopendir(listFd.get()));
    if (!dir) return nullptr;
    (void)listFd.release(); // the listing owns it now
    Listing names;
    // The first of names that differ only in case answers, as it did when
    // the folder was searched in its listing's order.
    while (const dirent* d = ::readdir(dir.get()))
      names.emplace(rtcUpperCaseVar(fromUtf8(d->d_name)), d->d_name);
    return &folders_.emplace(id, std::move(names)).first->second;
  }

  std::map<std::pair<dev_t, ino_t>, Listing> folders_;
};

// One entry of a folder of an archive, as its Items show it.
struct TopEntry {
  Text name;
  bool isFolder = false;
  std::int64_t size = 0; // a file's, as the archive lists it
};

// A size as FolderItem.Size gives it: a Long while it fits.
Variant sizeValue(std::int64_t size) {
  if (size <= INT32_MAX) return static_cast<std::int32_t>(size);
  return static_cast<double>(size);
}

// Whether an entry's steps lie under the folder whose steps are base
// (matched as Windows matches names), and below it rather than at it.
bool under(const std::vector<Text>& parts, const std::vector<Text>& base) {
  if (parts.size() <= base.size()) return false;
  for (std::size_t i = 0; i < base.size(); ++i)
    if (!equalsIgnoreCase(parts[i], base[i])) return false;
  return true;
}

// The entries of the archive's folder base ({} for its top level).
std::vector<TopEntry> listTopLevel(const Machine& machine, const std::string& hostPath,
                                   const std::vector<Text>& base) {
  std::vector<TopEntry> top;
  std::unordered_map<Text, std::size_t> byName; // upper case to its place in top
  Utf8Names names;
  unique_archive a = openArchive(hostPath);
  if (!a) return top;
  archive_entry* e = nullptr;
  for (;;) {
    const int r = archive_read_next_header(a.get(), &e);
    if (r == ARCHIVE_EOF || r == ARCHIVE_FATAL) break;
    if (r == ARCHIVE_FAILED) continue;
    const EntryPath p = judge(entryName(machine, e));
    // A name Windows would not make is still an item of the folder.
    if (p.verdict != EntryPath::Verdict::Good && p.verdict != EntryPath::Verdict::Refused) continue;
    if (!under(p.parts, base)) continue;
    const Text& name = p.parts[base.size()];
    const bool folder = p.parts.size() > base.size() + 1 || archive_entry_filetype(e) == AE_IFDIR;
    const auto [at, added] = byName.emplace(rtcUpperCaseVar(name), top.size());
    if (added)
      top.push_back({name, folder, folder ? 0 : archive_entry_size(e)});
    else
      top[at->second].isFolder = top[at->second].isFolder || folder;
  }
  return top;
}

// A folder of an archive as the shell sees it: the archive itself (base
// empty), or a folder inside it, which the shell shows as a folder of its own.
struct ZipSource {
  std::string hostPath;
  Text windowsPath; // the archive's
  std::vector<Text> base;

  Text folderPath() const {
    Text path = windowsPath;
    for (const Text& step : base)
      path += u"\\" + step;
    return path;
  }
};

// A selection of the entries of an archive's folder: all of them, or those
// under the given names.
struct ZipSelection {
  std::shared_ptr<const ZipSource> source;
  bool all = true;
  std::vector<Text> names;

  bool covers(const std::vector<Text>& parts) const {
    if (!under(parts, source->base)) return false;
    if (all) return true;
    for (const auto& n : names)
      if (equalsIgnoreCase(n, parts[source->base.size()])) return true;
    return false;
  }
};

ObjectRef makeArchiveFolder(ObjectContext ctx, std::shared_ptr<const ZipSource> source);

// Items take no arguments at all: any member called with some fails with
// 450, a known one or not.
class ZipItem final : public TableObject<ZipItem> {
public:
  ZipItem(ObjectContext ctx, std::shared_ptr<const ZipSource> source, TopEntry entry)
      : ctx_(ctx), source_(std::move(source)), entry_(std::move(entry)) {}

  ZipSelection selection() const { return {source_, false, {entry_.name}}; }

  Variant call(TextView member, const Args& args) override {
    expectArgs(args, 0, 0);
    return TableObject::call(member, args);
  }

private:
  const Text& name() const { return entry_.name; }
  Text path() const { return source_->folderPath() + u"\\" + entry_.name; }
  bool isFolder() const { return entry_.isFolder; }
  Variant size() const { return sizeValue(entry_.size); }

  // A folder of the archive is a folder object of its own; a file has none.
  ObjectRef getFolder() const {
    if (!entry_.isFolder) notImplemented();
    auto inner = std::make_shared<ZipSource>(*source_);
    inner->base.push_back(entry_.name);
    return makeArchiveFolder(ctx_, std::move(inner));
  }

public:
  static constexpr Member<ZipItem> kMembers[] = {
      propertyGet<&ZipItem::name>(u"Name"),         propertyGet<&ZipItem::path>(u"Path"),
      propertyGet<&ZipItem::isFolder>(u"IsFolder"), propertyGet<&ZipItem::getFolder>(u"GetFolder"),
      propertyGet<&ZipItem::size>(u"Size"),
  };

private:
  ObjectContext ctx_;
  std::shared_ptr<const ZipSource> source_;
  TopEntry entry_;
};

class ZipItems final : public TableObject<ZipItems> {
public:
  ZipItems(ObjectContext ctx, std::shared_ptr<const ZipSource> source, std::vector<TopEntry> top)
      : ctx_(ctx), source_(std::move(source)), top_(std::move(top)) {}

  // The whole collection stands for every entry of the archive, including
  // those the extraction will refuse, so that each refusal is reported.
  ZipSelection selection() const { return {source_, true, {}}; }

private:
  std::int32_t count() const { return static_cast<std::int32_t>(top_.size()); }

  // Nothing for an index out of range.
  ObjectRef item(const Args& args) const {
    const std::int32_t i = args[0].toInt32();
    if (i < 0 || static_cast<std::size_t>(i) >= top_.size()) return nullptr;
    return std::make_shared<ZipItem>(ctx_, source_, top_[i]);
  }

public:
  static constexpr Member<ZipItems> kMembers[] = {
      propertyGet<&ZipItems::count>(u"Count"),
      method<&ZipItems::item>(u"Item", 1, 1),
  };

private:
  ObjectContext ctx_;
  std::shared_ptr<const ZipSource> source_;
  std::vector<TopEntry> top_;
};

// An entry of an ordinary folder; like an archive's, it refuses arguments
// before it looks at the name.
class FileItem final : public TableObject<FileItem> {
public:
  FileItem(Text name, Text path, bool isFolder, std::int64_t size, std::string host)
      : name_(std::move(name)), path_(std::move(path)), isFolder_(isFolder), size_(size),
        host_(std::move(host)) {}

  const std::string& host() const { return host_; }
  const Text& itemName() const { return name_; }

  Variant call(TextView member, const Args& args) override {
    expectArgs(args, 0, 0);
    return TableObject::call(member, args);
  }

private:
  const Text& name() const { return name_; }
  const Text& path() const { return path_; }
  bool isFolder() const { return isFolder_; }
  Variant size() const { return sizeValue(size_); }

public:
  static constexpr Member<FileItem> kMembers[] = {
      propertyGet<&FileItem::name>(u"Name"),
      propertyGet<&FileItem::path>(u"Path"),
      propertyGet<&FileItem::isFolder>(u"IsFolder"),
      propertyGet<&FileItem::size>(u"Size"),
  };

private:
  Text name_, path_;
  bool isFolder_;
  std::int64_t size_;
  std::string host_;
};

class FileItems final : public TableObject<FileItems> {
public:
  explicit FileItems(std::vector<ObjectRef> items) : items_(std::move(items)) {}

  const std::vector<ObjectRef>& all() const { return items_; }

private:
  std::int32_t count() const { return static_cast<std::int32_t>(items_.size()); }

  // Nothing for an index out of range.
  ObjectRef item(const Args& args) const {
    const std::int32_t i = args[0].toInt32();
    if (i < 0 || static_cast<std::size_t>(i) >= items_.size()) return nullptr;
    return items_[static_cast<std::size_t>(i)];
  }

public:
  static constexpr Member<FileItems> kMembers[] = {
      propertyGet<&FileItems::count>(u"Count"),
      method<&FileItems::item>(u"Item", 1, 1),
  };

private:
  std::vector<ObjectRef> items_;
};

Text withoutTrailingSeparator(Text path) {
  while (path.size() > 3 && (path.back() == u'\\' || path.back() == u'/'))
    path.pop_back();
  return path;
}

Text lastComponent(const Text& path) {
  const Text p = withoutTrailingSeparator(path);
  const auto cut = p.find_last_of(u"\\/");
  return cut == Text::npos ? p : p.substr(cut + 1);
}

// Unpacks a selection of an archive into one folder of the machine.
class Extraction {
public:
  Extraction(ObjectContext ctx, int destFd, int options)
      : ctx_(ctx), destFd_(destFd), options_(options) {}

  void run(const ZipSelection& sel) {
    Utf8Names names;
    unique_archive a = openArchive(sel.source->hostPath);
    if (!a) {
      damaged(sel.source->windowsPath);
      return;
    }
    bool broken = false;
    archive_entry* e = nullptr;
    for (;;) {
      const int r = archive_read_next_header(a.get(), &e);
      if (r == ARCHIVE_EOF) break;
      if (r == ARCHIVE_FATAL) {
        broken = true;
        break;
      }
      if (r == ARCHIVE_FAILED) {
        broken = true;
        continue;
      }
      const Text name = entryName(ctx_.machine, e);
      const EntryPath p = judge(name);
      // Entries outside any folder are the whole archive's business.
      const bool wholeArchive = sel.all && sel.source->base.empty();
      switch (p.verdict) {
      case EntryPath::Verdict::Empty:
        continue;
      case EntryPath::Verdict::Absolute:
        if (wholeArchive) error(quoted(name) + u" öğesi mutlak bir yol taşıdığı için ayıklanmadı.");
        continue;
      case EntryPath::Verdict::Outside:
        if (wholeArchive)
          error(quoted(name) + u" öğesi hedef klasörün dışına yazılmak istediği için ayıklanmadı.");
        continue;
      case EntryPath::Verdict::Refused:
        if (sel.covers(p.parts))
          error(quoted(name) + u" öğesinin adı Windows'ta geçerli bir dosya adı olmadığı için "
                               u"ayıklanmadı.");
        continue;
      case EntryPath::Verdict::Good:
        break;
      }
      if (!sel.covers(p.parts)) continue;
      // Steps below the folder copied from, as they land in the destination.
      const std::vector<Text> steps(p.parts.begin() + static_cast<long>(sel.source->base.size()),
                                    p.parts.end());
      const auto type = archive_entry_filetype(e);
      if (type == AE_IFLNK || archive_entry_hardlink(e)) {
        error(quoted(name) + u" öğesi bir bağlantı (link) olduğu için ayıklanmadı.");
        continue;
      }
      if (type == AE_IFDIR) {
        (void)enterFolders(steps, steps.size());
        continue;
      }
      if (type != AE_IFREG) {
        error(quoted(name) + u" öğesi desteklenmeyen bir dosya türünde olduğu için ayıklanmadı.");
        continue;
      }
      const int written = extractFile(a.get(), e, steps);
      if (written == ARCHIVE_FATAL) {
        broken = true;
        break;
      }
      if (written != ARCHIVE_OK) broken = true;
    }
    if (broken) damaged(sel.source->windowsPath);
  }

private:
  void error(const Text& prompt) {
    if (options_ & FOF_NOERRORUI) return;
    ctx_.runtime.rtcMsgBox(prompt, vbOKOnly + vbCritical, kZipErrorTitle);
  }

  void damaged(const Text& archivePath) {
    error(u"Windows ayıklama işlemini tamamlayamıyor.\n\nSıkıştırılmış (zip) klasör " +
          quoted(archivePath) + u" geçersiz ya da bozuk.");
  }

  bool blocked(const std::vector<Text>& parts) const {
    for (const auto& b : blockedFolders_) {
      if (b.size() > parts.size()) continue;
      bool same = true;
      for (std::size_t i = 0; i < b.size() && same; ++i)
        same = equalsIgnoreCase(b[i], parts[i]);
      if (same) return true;
    }
    return false;
  }

  // Opens (creating as needed) the folder made of the first count parts,
  // refusing to pass through anything that is not a real folder. The
  // descriptor stays the extraction's until the next call; -1 when that
  // cannot be done, and the user has been told once.
  int enterFolders(const std::vector<Text>& parts, std::size_t count) {
    // Entries of one folder mostly follow each other: the folder entered
    // last is entered again without walking down to it.
    const auto end = parts.begin() + static_cast<long>(count);
    if (lastFolder_ && std::equal(parts.begin(), end, lastParts_.begin(), lastParts_.end()))
      return lastFolder_.get();
    lastFolder_ = walkFolders(parts, count);
    lastParts_.assign(parts.begin(), end);
    return lastFolder_.get();
  }

  unique_fd walkFolders(const std::vector<Text>& parts, std::size_t count) {
    unique_fd dir(::openat(destFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return {};
    for (std::size_t i = 0; i < count; ++i) {
      const std::vector<Text> prefix(parts.begin(), parts.begin() + static_cast<long>(i + 1));
      if (blocked(prefix)) return {};
      const auto [name, found] = names_.existing(dir.get(), toUtf8(parts[i]));
      if (!found && !folderWritable(dir.get())) {
        blockedFolders_.push_back(prefix);
        error(quoted(joinBackslash(parts, i + 1)) + u" klasörü oluşturulamadı.");
        return {};
      }
      if (::mkdirat(dir.get(), name.c_str(), 0777) == 0) {
        names_.add(dir.get(), name);
      } else if (errno != EEXIST) {
        blockedFolders_.push_back(prefix);
        error(quoted(joinBackslash(parts, i + 1)) + u" klasörü oluşturulamadı.");
        return {};
      }
      unique_fd next(
          ::openat(dir.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!next) {
        // A file or a link has the folder's name: never follow it.
        blockedFolders_.push_back(prefix);
        error(quoted(joinBackslash(parts, i + 1)) +
              u" klasörü oluşturulamadı: hedefte aynı adlı bir dosya ya da bağlantı var.");
        return {};
      }
      dir = std::move(next);
    }
    return dir;
  }

  // Returns ARCHIVE_OK, or the archive's failure while reading the data (the
  // file is then not written).
  // Where a file of these steps goes: its folder and its name there; nothing
  // when it is not to be written (the user was told, or answered No).
  struct Place {
    int dir;
    std::string name;
    Text shown;
  };
  std::optional<Place> placeFile(const std::vector<Text>& parts) {
    const int dir = enterFolders(parts, parts.size() - 1);
    if (dir < 0) return std::nullopt;
    const Text shown = joinBackslash(parts, parts.size());
    auto [name, found] = names_.existing(dir, toUtf8(parts.back()));
    if (found) {
      if (S_ISDIR(found->st_mode)) {
        error(quoted(shown) + u" ayıklanamadı: hedefte aynı adlı bir klasör var.");
        return std::nullopt;
      }
      if (!(options_ & FOF_NOCONFIRMATION)) {
        const int answer = ctx_.runtime.rtcMsgBox(
            u"Hedef klasörde " + quoted(shown) +
                u" adlı bir dosya zaten var.\n\nVarolan dosya bu dosyayla değiştirilsin mi?",
            vbYesNo + vbQuestion, kReplaceTitle);
        if (answer != vbYes) return std::nullopt;
      }
    }
    // A folder the user may not write to refuses, even to the host's root.
    if (!folderWritable(dir)) {
      error(quoted(shown) + u" ayıklanamadı: hedefe yazılamıyor.");
      return std::nullopt;
    }
    return Place{dir, std::move(name), shown};
  }

  int extractFile(archive* a, archive_entry* e, const std::vector<Text>& parts) {
    const auto place = placeFile(parts);
    if (!place) return ARCHIVE_OK;
    const auto& [dir, name, shown] = *place;

    // Executable bits survive; Windows has no use for them, the stand-in has.
    const mode_t mode = (archive_entry_perm(e) & 0111) ? 0777 : 0666;
    TempFile out(dir, ".vk-extract-", mode);
    if (!out) {
      error(quoted(shown) + u" ayıklanamadı: hedefe yazılamıyor.");
      return ARCHIVE_OK;
    }

    int result = ARCHIVE_OK;
    bool writeFailed = false;
    // Blocks straight from the archive's buffers: stored data is not copied
    // on its way to the file.
    off_t end = 0;
    for (;;) {
      endIfStopRequested(); // a stop ends a long extraction, the part written removed
      const void* block = nullptr;
      std::size_t size = 0;
      la_int64_t offset = 0;
      const int r = archive_read_data_block(a, &block, &size, &offset);
      if (r == ARCHIVE_EOF) break;
      if (r != ARCHIVE_OK) {
        // A warning here is a checksum that does not match: damage too.
        result = r == ARCHIVE_FATAL ? ARCHIVE_FATAL : ARCHIVE_FAILED;
        break;
      }
      const char* p = static_cast<const char*>(block);
      off_t at = static_cast<off_t>(offset);
      std::size_t left = size;
      while (left > 0) {
        const ssize_t w = ::pwrite(out.fd(), p, left, at);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
          writeFailed = true;
          break;
        }
        p += w;
        at += w;
        left -= static_cast<std::size_t>(w);
      }
      if (writeFailed) break;
      end = std::max(end, at);
    }
    // A hole at the end of a sparse entry still counts in its length.
    if (result == ARCHIVE_OK && !writeFailed && archive_entry_size_is_set(e) &&
        archive_entry_size(e) > end)
      writeFailed = ::ftruncate(out.fd(), static_cast<off_t>(archive_entry_size(e))) != 0;
    if (result == ARCHIVE_OK && !writeFailed && archive_entry_mtime_is_set(e)) {
      const timespec times[2] = {{0, UTIME_OMIT},
                                 {archive_entry_mtime(e), archive_entry_mtime_nsec(e)}};
      (void)::futimens(out.fd(), times);
    }
    const bool closed = out.close();
    if (result != ARCHIVE_OK || writeFailed || !closed || !out.replace(name)) {
      out.discard();
      if (result == ARCHIVE_OK) error(quoted(shown) + u" ayıklanamadı: hedefe yazılamıyor.");
      return result;
    }
    names_.add(dir, name);
    return ARCHIVE_OK;
  }

public:
  // Copies files and folders of the machine, with everything under them,
  // as the shell copies a folder's items.
  void copyEntry(const std::string& source, std::vector<Text>& parts) {
    endIfStopRequested();
    struct stat st {};
    if (::lstat(source.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
      if (enterFolders(parts, parts.size()) < 0) return;
      std::error_code ec;
      for (const auto& d : std::filesystem::directory_iterator(source, ec)) {
        parts.push_back(fromUtf8(d.path().filename().string()));
        copyEntry(d.path().string(), parts);
        parts.pop_back();
      }
      return;
    }
    if (!S_ISREG(st.st_mode)) return; // links and devices are not followed
    const auto place = placeFile(parts);
    if (!place) return;
    const unique_fd in(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    TempFile out(place->dir, ".vk-copy-", st.st_mode & 0777);
    bool ok = in && out;
    std::vector<char> buffer(1 << 16);
    while (ok) {
      const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = n == 0;
        break;
      }
      ok = writeAll(out.fd(), buffer.data(), static_cast<std::size_t>(n));
    }
    if (!ok || !out.close() || !out.replace(place->name)) {
      out.discard();
      error(quoted(place->shown) + u" kopyalanamadı: hedefe yazılamıyor.");
      return;
    }
    names_.add(place->dir, place->name);
  }

private:
  ObjectContext ctx_;
  int destFd_;
  int options_;
  std::vector<std::vector<Text>> blockedFolders_;
  FolderNames names_;
  std::vector<Text> lastParts_;
  unique_fd lastFolder_;
};

class Folder final : public TableObject<Folder> {
public:
  // An ordinary folder when zip is null, else a folder of that archive.
  Folder(ObjectContext ctx, Text windowsPath, std::string hostPath,
         std::shared_ptr<const ZipSource> zip)
      : ctx_(ctx), windowsPath_(withoutTrailingSeparator(std::move(windowsPath))),
        hostPath_(std::move(hostPath)), zip_(std::move(zip)) {}

private:
  ObjectRef items() const {
    if (zip_)
      return std::make_shared<ZipItems>(ctx_, zip_,
                                        listTopLevel(ctx_.machine, zip_->hostPath, zip_->base));
    std::vector<ObjectRef> entries;
    std::error_code ec;
    for (const auto& d : std::filesystem::directory_iterator(hostPath_, ec))
      entries.push_back(fileItem(d));
    return std::make_shared<FileItems>(std::move(entries));
  }

  ObjectRef fileItem(const std::filesystem::directory_entry& d) const {
    std::error_code ec;
    const Text name = fromUtf8(d.path().filename().string());
    const bool folder = d.is_directory(ec);
    const auto size = folder ? 0 : d.file_size(ec);
    return std::make_shared<FileItem>(name, windowsPath_ + u"\\" + name, folder,
                                      ec ? 0 : static_cast<std::int64_t>(size), d.path().string());
  }

  // The item of that name, matched as Windows matches names; Nothing when
  // the folder has none.
  ObjectRef parseName(const Args& args) const {
    const Text wanted = args[0].toText();
    if (zip_) {
      for (const TopEntry& e : listTopLevel(ctx_.machine, zip_->hostPath, zip_->base))
        if (equalsIgnoreCase(e.name, wanted)) return std::make_shared<ZipItem>(ctx_, zip_, e);
      return nullptr;
    }
    std::error_code ec;
    for (const auto& d : std::filesystem::directory_iterator(hostPath_, ec))
      if (equalsIgnoreCase(fromUtf8(d.path().filename().string()), wanted)) return fileItem(d);
    return nullptr;
  }

  void copyHere(const Args& args) {
    const int options = args.size() > 1 && !args[1].isEmpty() ? args[1].toInt32() : 0;
    copy(args[0], options);
  }

  Text title() const { return lastComponent(windowsPath_); }

  // Whatever the arguments.
  [[noreturn]] void moveHere() const { notImplemented(); }

  void copy(const Variant& what, int options) {
    if (zip_) notImplemented(); // adding to an archive
    const auto* ref = std::get_if<ObjectRef>(&what.value());
    if (!ref) {
      if (what.isText()) notImplemented(); // copying a file named by its path
      throw RuntimeError(hr::InvalidArg, u"Parametre yanlış.");
    }
    ZipSelection selection;
    std::vector<const FileItem*> files; // items of a folder of the machine
    if (const auto* items = dynamic_cast<const ZipItems*>(ref->get()))
      selection = items->selection();
    else if (const auto* item = dynamic_cast<const ZipItem*>(ref->get()))
      selection = item->selection();
    else if (const auto* fileItems = dynamic_cast<const FileItems*>(ref->get()))
      for (const ObjectRef& f : fileItems->all())
        files.push_back(static_cast<const FileItem*>(f.get()));
    else if (const auto* file = dynamic_cast<const FileItem*>(ref->get()))
      files.push_back(file);
    else
      throw RuntimeError(hr::InvalidArg, u"Parametre yanlış.");

    const unique_fd dest(::open(hostPath_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dest) throw RuntimeError(err::PathNotFound);
    Extraction copy(ctx_, dest.get(), options);
    if (!selection.source) {
      for (const FileItem* f : files) {
        std::vector<Text> parts{f->itemName()};
        copy.copyEntry(f->host(), parts);
      }
      return;
    }
    copy.run(selection);
  }

public:
  static constexpr Member<Folder> kMembers[] = {
      method<&Folder::items>(u"Items", 0, 0),
      method<&Folder::parseName>(u"ParseName", 1, 1),
      method<&Folder::copyHere>(u"CopyHere", 1, 2),
      propertyGet<&Folder::title>(u"Title"),
      method<&Folder::moveHere>(u"MoveHere", 0, kAnyArgs),
  };

private:
  ObjectContext ctx_;
  Text windowsPath_;
  std::string hostPath_;
  std::shared_ptr<const ZipSource> zip_;
};

ObjectRef makeArchiveFolder(ObjectContext ctx, std::shared_ptr<const ZipSource> source) {
  const Text path = source->folderPath();
  std::string host = source->hostPath;
  return std::make_shared<Folder>(ctx, path, std::move(host), std::move(source));
}

bool hasZipExtension(const Text& path) {
  const Text p = withoutTrailingSeparator(path);
  return p.size() >= 4 && equalsIgnoreCase(TextView(p).substr(p.size() - 4), u".zip");
}

class ShellApplication final : public TableObject<ShellApplication> {
public:
  explicit ShellApplication(ObjectContext ctx) : ctx_(ctx) {}

private:
  // A folder given by path; special folder numbers are not offered.
  ObjectRef nameSpace(const Args& args) const {
    if (!args[0].isText()) throw RuntimeError(err::InvalidCall);
    return folderAt(args[0].toText());
  }

  ObjectRef folderAt(const Text& path) const {
    std::string host;
    try {
      host = ctx_.machine.hostPath(path);
    } catch (const RuntimeError&) {
      return nullptr; // no such place: Nothing, as the shell answers
    }
    struct stat st {};
    if (::stat(host.c_str(), &st) != 0) return folderInArchive(path);
    if (S_ISDIR(st.st_mode)) return std::make_shared<Folder>(ctx_, path, host, nullptr);
    if (S_ISREG(st.st_mode) && hasZipExtension(path))
      return makeArchiveFolder(ctx_, std::make_shared<const ZipSource>(ZipSource{host, path, {}}));
    return nullptr;
  }

  // "<archive>.zip\<folder>...": a folder inside an archive, when the
  // archive holds one by that name; else Nothing.
  ObjectRef folderInArchive(const Text& given) const {
    const Text path = withoutTrailingSeparator(given);
    for (std::size_t cut = path.find_first_of(u"\\/"); cut != Text::npos;
         cut = path.find_first_of(u"\\/", cut + 1)) {
      const Text archive = path.substr(0, cut);
      if (!hasZipExtension(archive)) continue;
      std::string host;
      try {
        host = ctx_.machine.hostPath(archive);
      } catch (const RuntimeError&) {
        return nullptr;
      }
      struct stat st {};
      if (::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      std::vector<Text> steps;
      for (std::size_t from = cut + 1; from <= path.size();) {
        const std::size_t to = std::min(path.find_first_of(u"\\/", from), path.size());
        if (to > from) steps.push_back(path.substr(from, to - from));
        from = to + 1;
      }
      if (steps.empty()) return nullptr;
      const Text last = steps.back();
      steps.pop_back();
      for (const TopEntry& e : listTopLevel(ctx_.machine, host, steps))
        if (e.isFolder && equalsIgnoreCase(e.name, last)) {
          steps.push_back(e.name);
          return makeArchiveFolder(
              ctx_, std::make_shared<const ZipSource>(ZipSource{host, archive, std::move(steps)}));
        }
      return nullptr;
    }
    return nullptr;
  }

public:
  static constexpr Member<ShellApplication> kMembers[] = {
      method<&ShellApplication::nameSpace>(u"NameSpace", 1, 1),
  };

private:
  ObjectContext ctx_;
};

} // namespace

ObjectRef makeShellApplication(ObjectContext ctx) {
  return std::make_shared<ShellApplication>(ctx);
}

} // namespace vk::posix
