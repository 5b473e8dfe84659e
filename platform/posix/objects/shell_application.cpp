// The shell application object and its folder objects: folders of the
// machine, and ".zip" archives seen as folders whose entries can be copied
// out (extraction.h). A folder inside an archive is a folder object of its
// own, from NameSpace("<archive>\<folder>") or its item's GetFolder.
//
// CopyHere options honoured: 16 (answer "Yes" to every replace question)
// and 1024 (no error boxes). Items of an ordinary folder are copied, folders
// with all under them, with the same questions (a folder named like an
// archive is a folder). Not offered: copying a path given as text, and
// copying into an archive; those fail with 0x80004001 (E_NOTIMPL). NameSpace
// of a special folder number fails with the run-time's 5.
#include "platform/posix/host/unique.h"
#include "platform/posix/objects/extraction.h"
#include "platform/posix/objects/members.h"
#include "platform/posix/objects/objects.h"
#include "platform/runtime.h"

#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace vk::posix {

namespace {

[[noreturn]] void notImplemented() {
  throw RuntimeError(hr::NotImpl, u"Uygulanmadı");
}

ObjectRef makeArchiveFolder(ObjectContext ctx, std::shared_ptr<const ZipSource> source);

// A size as FolderItem.Size gives it: a Long while it fits.
Variant sizeValue(std::int64_t size) {
  if (size <= INT32_MAX) return static_cast<std::int32_t>(size);
  return static_cast<double>(size);
}

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
                                        listTopLevel(zip_->entries(ctx_.machine), zip_->base));
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
      for (const TopEntry& e : listTopLevel(zip_->entries(ctx_.machine), zip_->base))
        if (equalsIgnoreCase(e.name, wanted)) return std::make_shared<ZipItem>(ctx_, zip_, e);
      return nullptr;
    }
    // The name as given first, found without a listing; only a name that
    // differs in case from the entry's needs the listing.
    std::error_code ec;
    if (!wanted.empty() && wanted != u"." && wanted != u".." &&
        wanted.find_first_of(u"\\/") == Text::npos) {
      const std::string host = hostPath_ + "/" + toUtf8(wanted);
      struct stat st {};
      if (::stat(host.c_str(), &st) == 0) {
        const bool folder = S_ISDIR(st.st_mode);
        return std::make_shared<FileItem>(wanted, windowsPath_ + u"\\" + wanted, folder,
                                          folder ? 0 : static_cast<std::int64_t>(st.st_size), host);
      }
    }
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
    if (selection.source) return extractInto(ctx_, dest.get(), options, selection);
    std::vector<CopySource> sources;
    for (const FileItem* f : files)
      sources.push_back({f->host(), f->itemName()});
    copyInto(ctx_, dest.get(), options, sources);
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
      auto source = std::make_shared<ZipSource>(ZipSource{host, archive, std::move(steps)});
      for (const TopEntry& e : listTopLevel(source->entries(ctx_.machine), source->base))
        if (e.isFolder && equalsIgnoreCase(e.name, last)) {
          source->base.push_back(e.name);
          return makeArchiveFolder(ctx_, std::move(source));
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
