#include "platform/posix/host/temp_file.h"

#include "platform/posix/host/unique.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <signal.h>
#include <string_view>
#include <sys/random.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace vk::posix {

namespace {

// The folders (device, inode, name prefix) swept in this run: once is
// enough, and a folder that receives thousands of files is read once.
std::set<std::tuple<dev_t, ino_t, std::string>>& sweptFolders() {
  static std::set<std::tuple<dev_t, ino_t, std::string>> swept;
  return swept;
}

// Whether an unnamed file is given its name by its descriptor alone
// (linkat's AT_EMPTY_PATH, which Linux grants the privileged, and from 6.10
// whoever opened the file), so that no /proc path need be walked: found out
// by the first file named, the same for the whole run.
enum class EmptyPath { Unknown, Works, Refused };
EmptyPath& emptyPathLinks() {
  static EmptyPath known = EmptyPath::Unknown;
  return known;
}

// Removes the files of this prefix that a run killed outright left in the
// folder: those whose process is gone. A running instance's are never
// touched, however old.
void removeStale(int dirFd, const std::string& prefix) {
  // An extraction makes thousands of files in one folder in a row: the
  // folder just swept is not looked up again.
  static std::pair<int, std::string> last{-1, {}};
  if (dirFd != AT_FDCWD && last.first == dirFd && last.second == prefix) return;
  last = {dirFd, prefix};
  const auto slash = prefix.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : prefix.substr(0, slash + 1);
  const std::string start = slash == std::string::npos ? prefix : prefix.substr(slash + 1);
  struct stat st {};
  if (::fstatat(dirFd, folder.c_str(), &st, 0) != 0 ||
      !sweptFolders().emplace(st.st_dev, st.st_ino, start).second)
    return;
  const unique_dir listing(
      ::fdopendir(::openat(dirFd, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
  if (!listing) return;
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string_view name = entry->d_name;
    if (name.size() <= start.size() || name.substr(0, start.size()) != start) continue;
    if (!ownerGone(ownerOf(name.substr(start.size()), 16, "0123456789abcdef"))) continue;
    struct stat file {};
    if (::fstatat(::dirfd(listing.get()), entry->d_name, &file, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(file.st_mode))
      ::unlinkat(::dirfd(listing.get()), entry->d_name, 0);
  }
}

} // namespace

pid_t ownerOf(std::string_view rest, std::size_t randomLength, std::string_view alphabet) {
  const auto dash = rest.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 9 ||
      rest.size() != dash + 1 + randomLength ||
      rest.find_first_not_of(alphabet, dash + 1) != std::string_view::npos)
    return 0;
  pid_t pid = 0;
  for (char c : rest.substr(0, dash)) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

bool ownerGone(pid_t owner) {
  return owner > 0 && owner != ::getpid() && ::kill(owner, 0) != 0 && errno == ESRCH;
}

void removeStaleFolders(const std::string& parent, std::string_view prefix) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(parent, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) != 0) continue;
    const pid_t owner = ownerOf(std::string_view(name).substr(prefix.size()), 6,
                                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    struct stat st {};
    if (!ownerGone(owner) || ::lstat(entry.path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid())
      continue;
    std::error_code removal;
    std::filesystem::remove_all(entry.path(), removal);
  }
}

// A new file in the folder of the file it is to become, so that the
// destination holds its old content or the whole new one, never a part.
// Until it is moved into place it is closed and removed when it goes. Where
// the file system allows, it has no name until then (O_TMPFILE), so even a
// process killed outright leaves nothing.
class TempFile {
public:
  // Makes an unnamed file, or "<prefix><pid>-<16 hex digits>", in the folder
  // dirFd stands for (with AT_FDCWD the prefix is a path), mode as open()
  // takes it, so the umask applies. Empty, with errno set, when no such file could be made.
  // The first one of a prefix in a folder removes the files of that prefix
  // whose process is gone: left by a run killed outright.
  TempFile(int dirFd, const std::string& prefix, mode_t mode);
  ~TempFile() { discard(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  explicit operator bool() const noexcept { return static_cast<bool>(fd_); }
  int fd() const noexcept { return fd_.get(); }

  // Closes the file; false, with errno set, when closing reports a failure
  // (a write that did not land).
  bool close() noexcept;
  // Renames it over target (in the same folder descriptor's terms); false,
  // with errno set, when that fails.
  bool replace(const std::string& target) noexcept;
  // Gives it the name target only if no file has that name, even one that
  // appeared meanwhile; the temporary name goes either way. False, with
  // errno set, when the name was taken or the link failed.
  bool link(const std::string& target) noexcept;
  // Closes and removes it now, unless it is in place already.
  void discard() noexcept;

private:
  std::string randomName(int attempt) const;
  bool unnamed() const noexcept;
  // Links the unnamed file in as target; false, with errno set, when that fails.
  bool name(const std::string& target) noexcept;

  int dirFd_;
  std::string prefix_;
  std::string path_; // empty while unnamed, and once moved into place or removed
  unique_fd fd_;
};

TempFile::TempFile(int dirFd, const std::string& prefix, mode_t mode)
    : dirFd_(dirFd), prefix_(prefix) {
  removeStale(dirFd, prefix);
  // A file without a name first: killed outright, the process leaves
  // nothing behind, and placing it takes one entry in the folder, not a
  // name and a rename. It is given its name through /proc; without /proc,
  // or on a file system without such files, the file is named from the
  // start.
  if (emptyPathLinks() == EmptyPath::Works || ::access("/proc/self/fd", X_OK) == 0) {
    const auto slash = prefix.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : prefix.substr(0, slash + 1);
    fd_.reset(::openat(dirFd_, folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (fd_ || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return;
  }
  for (int attempt = 0; !fd_ && attempt < 100; ++attempt) {
    std::string path = randomName(attempt);
    fd_.reset(::openat(dirFd_, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (fd_)
      path_ = std::move(path);
    else if (errno != EEXIST)
      break;
  }
}

std::string TempFile::randomName(int attempt) const {
  // One system call, no device opened: an extraction makes a file apiece.
  std::uint64_t random = 0;
  if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != sizeof random)
    random = static_cast<std::uint64_t>(::clock()) * 0x9E3779B97F4A7C15u + attempt;
  char suffix[40];
  std::snprintf(suffix, sizeof suffix, "%lu-%016llx", static_cast<unsigned long>(::getpid()),
                static_cast<unsigned long long>(random));
  return prefix_ + suffix;
}

bool TempFile::unnamed() const noexcept {
  return fd_ && path_.empty();
}

bool TempFile::name(const std::string& target) noexcept {
  EmptyPath& emptyPath = emptyPathLinks();
  if (emptyPath != EmptyPath::Refused) {
    if (::linkat(fd_.get(), "", dirFd_, target.c_str(), AT_EMPTY_PATH) == 0) {
      emptyPath = EmptyPath::Works;
      return true;
    }
    if (errno != ENOENT && errno != EPERM) return false;
    emptyPath = EmptyPath::Refused;
  }
  const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
  return ::linkat(AT_FDCWD, self.c_str(), dirFd_, target.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

bool TempFile::close() noexcept {
  // Closed before it has a name, an unnamed file would be gone: it is
  // closed once placed.
  return unnamed() || closeNow(fd_);
}

bool TempFile::replace(const std::string& target) noexcept {
  if (unnamed()) {
    if (name(target)) return closeNow(fd_);
    // The target exists: a name of its own first, then renamed over it.
    for (int attempt = 0; unnamed() && attempt < 100; ++attempt) {
      if (errno != EEXIST) return false;
      std::string path = randomName(attempt);
      if (name(path)) path_ = std::move(path);
    }
    if (!closeNow(fd_) || path_.empty()) return false;
  }
  if (::renameat(dirFd_, path_.c_str(), dirFd_, target.c_str()) != 0) return false;
  path_.clear();
  return true;
}

bool TempFile::link(const std::string& target) noexcept {
  const bool linked =
      unnamed() ? name(target) : ::linkat(dirFd_, path_.c_str(), dirFd_, target.c_str(), 0) == 0;
  const int error = errno;
  discard();
  errno = error;
  return linked;
}

bool publishFile(int dirFd, const std::string& target, const std::string& tempPrefix, mode_t mode,
                 Publish how, const std::function<bool(int fd)>& write) {
  TempFile temp(dirFd, tempPrefix, mode);
  const bool published = temp && write(temp.fd()) && ::fsync(temp.fd()) == 0 && temp.close() &&
                         (how == Publish::Replace ? temp.replace(target) : temp.link(target));
  const int error = errno;
  temp.discard(); // a temporary left by a failure
  errno = error;
  return published;
}

void TempFile::discard() noexcept {
  fd_.reset();
  if (path_.empty()) return;
  ::unlinkat(dirFd_, path_.c_str(), 0);
  path_.clear();
}

} // namespace vk::posix
