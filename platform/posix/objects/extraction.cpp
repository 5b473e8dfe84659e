// Extraction runs before CopyHere returns. It never writes outside the
// destination folder: an entry with an absolute name, a ".." step, a link or
// a special file is refused with a box of its own while the other entries
// still arrive, and folders are entered without following links already in
// the destination. Each file is published as every file is (written beside,
// synced, renamed into place), so no half-written file stays. A file that exists
// already is replaced only when the user confirms it; a damaged archive
// (cut short, or an entry whose checksum fails) gets one error box after
// everything readable arrived, and a damaged entry is never written. No
// progress box is shown, whatever the options.
#include "platform/posix/objects/extraction.h"

#include "platform/posix/host/files.h"
#include "platform/posix/host/stop_signals.h"
#include "platform/posix/host/temp_file.h"
#include "platform/posix/host/unique.h"
#include "platform/posix/host/zip_reader.h"
#include "platform/posix/machine/entry_path.h"
#include "platform/runtime.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace vk::posix {

namespace {

const Text kZipErrorTitle = u"Sıkıştırılmış (zip) Klasörler Hatası";
const Text kReplaceTitle = u"Dosya Değiştirmeyi Onayla";

Text quoted(const Text& name) {
  return u"'" + name + u"'";
}

Text joinBackslash(const std::vector<Text>& parts, std::size_t count) {
  Text out;
  for (std::size_t i = 0; i < count && i < parts.size(); ++i) {
    if (i) out += u'\\';
    out += parts[i];
  }
  return out;
}

// A folder of the host, as the extraction knows it: one that was entered
// is known by its identity and whether the user may write to it, asked once.
struct FolderId {
  dev_t device = 0;
  ino_t inode = 0;
  bool writable = false;
  bool operator<(const FolderId& o) const {
    return std::tie(device, inode) < std::tie(o.device, o.inode);
  }
};

std::optional<FolderId> folderId(int dirFd) {
  struct stat st {};
  if (::fstat(dirFd, &st) != 0) return std::nullopt;
  return FolderId{st.st_dev, st.st_ino, folderWritable(dirFd)};
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

  // The name an entry of the folder has when it matches name without
  // regard to case (Windows names do); name itself when none does.
  Entry existing(int dirFd, const FolderId& id, const std::string& name) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return {name, st};
    const Listing* names = listing(dirFd, id, true);
    const auto it =
        names ? names->find(rtcUpperCaseVar(fromUtf8(name))) : Listing::const_iterator();
    if (!names || it == names->end()) return {name, std::nullopt};
    if (::fstatat(dirFd, it->second.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      return {it->second, std::nullopt};
    return {it->second, st};
  }

  // The folder has an entry called name now.
  void add(int dirFd, const FolderId& id, const std::string& name) {
    if (Listing* names = listing(dirFd, id, false))
      names->emplace(rtcUpperCaseVar(fromUtf8(name)), name);
  }

private:
  using Listing = std::unordered_map<Text, std::string>;

  // The folder's names, read on first need when read is set.
  Listing* listing(int dirFd, const FolderId& id, bool read) {
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

  std::map<FolderId, Listing> folders_;
};

// Unpacks a selection of an archive, or copies files and folders of the
// machine, into one folder of the machine.
class Extraction {
public:
  Extraction(ObjectContext ctx, int destFd, int options)
      : ctx_(ctx), destFd_(destFd), options_(options) {}

  void run(const ZipSelection& sel) {
    Utf8Names names;
    unique_archive a = openZip(sel.source->hostPath);
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
      const Text name = entryName(ctx_.machine.ansiCodePage(), e);
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
    if (const auto id = lastFolder_ ? folderId(lastFolder_.get()) : std::nullopt)
      lastId_ = *id;
    else
      lastFolder_.reset();
    return lastFolder_ ? lastFolder_.get() : -1;
  }

  unique_fd walkFolders(const std::vector<Text>& parts, std::size_t count) {
    unique_fd dir(::openat(destFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return {};
    for (std::size_t i = 0; i < count; ++i) {
      const std::vector<Text> prefix(parts.begin(), parts.begin() + static_cast<long>(i + 1));
      if (blocked(prefix)) return {};
      const auto id = folderId(dir.get());
      if (!id) return {};
      const auto [name, found] = names_.existing(dir.get(), *id, toUtf8(parts[i]));
      if (!found && !id->writable) {
        blockedFolders_.push_back(prefix);
        error(quoted(joinBackslash(parts, i + 1)) + u" klasörü oluşturulamadı.");
        return {};
      }
      if (::mkdirat(dir.get(), name.c_str(), 0777) == 0) {
        names_.add(dir.get(), *id, name);
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
    auto [name, found] = names_.existing(dir, lastId_, toUtf8(parts.back()));
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
    if (!lastId_.writable) {
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
    int result = ARCHIVE_OK;
    const bool written =
        publishFile(dir, name, ".vk-extract-", mode, Publish::Replace, [&](int fd) {
          result = writeEntry(a, e, fd);
          return result == ARCHIVE_OK;
        });
    if (!written) {
      // Damage has its one box at the end; a file that could not be written
      // has its own.
      if (result == ARCHIVE_OK || result == ARCHIVE_WARN) {
        error(quoted(shown) + u" ayıklanamadı: hedefe yazılamıyor.");
        return ARCHIVE_OK;
      }
      return result;
    }
    names_.add(dir, lastId_, name);
    return ARCHIVE_OK;
  }

  // The entry's data into fd: ARCHIVE_OK, ARCHIVE_FAILED or ARCHIVE_FATAL
  // for damage (a checksum that does not match among it), ARCHIVE_WARN with
  // errno set for a write that failed.
  static int writeEntry(archive* a, archive_entry* e, int fd) {
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
      if (r != ARCHIVE_OK) return r == ARCHIVE_FATAL ? ARCHIVE_FATAL : ARCHIVE_FAILED;
      const char* p = static_cast<const char*>(block);
      off_t at = static_cast<off_t>(offset);
      for (std::size_t left = size; left > 0;) {
        const ssize_t w = ::pwrite(fd, p, left, at);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return ARCHIVE_WARN;
        p += w;
        at += w;
        left -= static_cast<std::size_t>(w);
      }
      end = std::max(end, at);
    }
    // A hole at the end of a sparse entry still counts in its length.
    if (archive_entry_size_is_set(e) && archive_entry_size(e) > end &&
        ::ftruncate(fd, static_cast<off_t>(archive_entry_size(e))) != 0)
      return ARCHIVE_WARN;
    if (archive_entry_mtime_is_set(e)) {
      const timespec times[2] = {{0, UTIME_OMIT},
                                 {archive_entry_mtime(e), archive_entry_mtime_nsec(e)}};
      (void)::futimens(fd, times);
    }
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
    if (!in ||
        !publishFile(place->dir, place->name, ".vk-copy-", st.st_mode & 0777, Publish::Replace,
                     [&](int out) { return copyContents(in.get(), out); })) {
      error(quoted(place->shown) + u" kopyalanamadı: hedefe yazılamıyor.");
      return;
    }
    names_.add(place->dir, lastId_, place->name);
  }

private:
  ObjectContext ctx_;
  int destFd_;
  int options_;
  std::vector<std::vector<Text>> blockedFolders_;
  FolderNames names_;
  std::vector<Text> lastParts_;
  unique_fd lastFolder_;
  FolderId lastId_; // lastFolder_'s
};

} // namespace

std::shared_ptr<const ArchiveIndex> readArchiveIndex(const Machine& machine,
                                                     const std::string& hostPath) {
  auto index = std::make_shared<ArchiveIndex>();
  Utf8Names names;
  unique_archive a = openZip(hostPath);
  if (!a) return index;
  archive_entry* e = nullptr;
  for (;;) {
    const int r = archive_read_next_header(a.get(), &e);
    if (r == ARCHIVE_EOF || r == ARCHIVE_FATAL) break;
    if (r == ARCHIVE_FAILED) continue;
    EntryPath p = judge(entryName(machine.ansiCodePage(), e));
    // A name Windows would not make is still an item of its folder.
    if (p.verdict != EntryPath::Verdict::Good && p.verdict != EntryPath::Verdict::Refused) continue;
    index->push_back(
        {std::move(p.parts), archive_entry_filetype(e) == AE_IFDIR, archive_entry_size(e)});
  }
  return index;
}

std::vector<TopEntry> listTopLevel(const ArchiveIndex& index, const std::vector<Text>& base) {
  std::vector<TopEntry> top;
  std::unordered_map<Text, std::size_t> byName; // upper case to its place in top
  for (const IndexEntry& e : index) {
    if (!under(e.parts, base)) continue;
    const Text& name = e.parts[base.size()];
    const bool folder = e.parts.size() > base.size() + 1 || e.isFolder;
    const auto [at, added] = byName.emplace(rtcUpperCaseVar(name), top.size());
    if (added)
      top.push_back({name, folder, folder ? 0 : e.size});
    else
      top[at->second].isFolder = top[at->second].isFolder || folder;
  }
  return top;
}

void extractInto(ObjectContext ctx, int destFd, int options, const ZipSelection& selection) {
  Extraction(ctx, destFd, options).run(selection);
}

void copyInto(ObjectContext ctx, int destFd, int options, const std::vector<CopySource>& sources) {
  Extraction copy(ctx, destFd, options);
  for (const CopySource& s : sources) {
    std::vector<Text> parts{s.name};
    copy.copyEntry(s.hostPath, parts);
  }
}

} // namespace vk::posix
