// The registry hive parser on any text, taken as both hives (links resolve
// differently in each). The keys the text names are looked up, and a key a
// value is read from always exists.
#include "fuzz/check.h"
#include "platform/posix/machine/registry_file.h"

#include <sys/mman.h>
#include <unistd.h>

namespace {

// The parser reads hive files; the input is handed over in an in-memory one.
class MemoryFile {
public:
  MemoryFile() : fd_(memfd_create("hive", 0)) {
    if (fd_ < 0) std::abort();
  }
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }
  void fill(std::string_view bytes) {
    if (ftruncate(fd_, 0) != 0 ||
        pwrite(fd_, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
      std::abort();
  }

private:
  int fd_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vk;
  static MemoryFile file;
  const std::string_view text = fuzz::bytes(data, size);
  file.fill(text);
  const auto registry = posix::openRegistryFiles(file.path(), file.path());

  // The keys to ask about: a few the program reads, and those of the text's
  // own "[...]" lines, with the names of its "name"= lines.
  std::vector<Text> keys = {u"", u"Software\\Google\\Chrome\\BLBeacon",
                            u"System\\CurrentControlSet\\Control\\Nls\\CodePage"};
  std::vector<Text> names = {u"", u"version", u"ACP"};
  for (std::size_t pos = 0; pos < text.size() && keys.size() + names.size() < 14;) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(pos, end - pos);
    const std::size_t close = line.find_first_of(line.empty() || line[0] == '[' ? "]" : "\"", 1);
    if (!line.empty() && (line[0] == '[' || line[0] == '"') && close != std::string_view::npos)
      (line[0] == '[' ? keys : names).push_back(fromUtf8(line.substr(1, close - 1)));
    pos = end + 1;
  }
  for (const posix::Hive hive : {posix::Hive::CurrentUser, posix::Hive::LocalMachine}) {
    for (const Text& key : keys) {
      const bool exists = registry->keyExists(hive, key);
      for (const Text& name : names)
        if (registry->read(hive, key, name)) VK_FUZZ_CHECK(exists);
    }
  }
  return 0;
}
