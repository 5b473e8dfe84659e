// Shared by the benchmarks: the driver archive they serve, a launcher that
// measures a program's own peak memory, and small statistics.
#pragma once

#include "platform/runtime.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace bench {

namespace fs = std::filesystem;

// Text that compresses about as well as a program's licence and notes do.
inline std::string textLike(std::size_t size, std::mt19937& rng) {
  static const char* const words[] = {
      "the",           "driver",   "browser",     "session", "version", "license",
      "copyright",     "chromium", "authors",     "source",  "code",    "must",
      "retain",        "above",    "notice",      "this",    "list",    "of",
      "conditions",    "and",      "following",   "binary",  "form",    "reproduce",
      "documentation", "with",     "distribution"};
  std::string out;
  out.reserve(size + 32);
  std::size_t column = 0;
  while (out.size() < size) {
    const char* w = words[rng() % (sizeof words / sizeof *words)];
    out += w;
    column += std::strlen(w) + 1;
    if (column > 72) {
      out += "\r\n";
      column = 0;
    } else {
      out += ' ';
    }
  }
  out.resize(size);
  return out;
}

// One file of the archive being written, dated as the driver's are.
inline void addZipFile(archive* a, const char* name, const std::string& data) {
  archive_entry* e = archive_entry_new();
  archive_entry_set_pathname(e, name);
  archive_entry_set_filetype(e, AE_IFREG);
  archive_entry_set_perm(e, 0644);
  archive_entry_set_size(e, static_cast<la_int64_t>(data.size()));
  archive_entry_set_mtime(e, 1659000000, 0);
  archive_write_header(a, e);
  archive_write_data(a, data.data(), data.size());
  archive_entry_free(e);
}

// An archive of about 8 MB: a text-like file deflated and a random one
// (like an executable that does not compress) stored; under folder (with
// its "/") as the newer driver archives have them.
inline std::string makeArchive(const std::string& path, const std::string& folder = "") {
  std::mt19937 rng(104);
  const std::string text = textLike(4 << 20, rng);
  archive* a = archive_write_new();
  archive_write_set_format_zip(a);
  archive_write_open_filename(a, path.c_str());
  auto add = [&](const char* name, const std::string& data) {
    addZipFile(a, (folder + name).c_str(), data);
  };
  archive_write_zip_set_compression_deflate(a);
  add("LICENSE.chromedriver", text);
  const std::size_t textCompressed = static_cast<std::size_t>(archive_filter_bytes(a, -1));
  std::string random((8u << 20) - textCompressed, '\0');
  for (auto& c : random)
    c = static_cast<char>(rng());
  archive_write_zip_set_compression_store(a);
  add("chromedriver.exe", random);
  archive_write_close(a);
  archive_write_free(a);
  char summary[200];
  std::snprintf(summary, sizeof summary, "%.1f MB text deflated to %.1f MB + %.1f MB random stored",
                text.size() / 1048576.0, textCompressed / 1048576.0, random.size() / 1048576.0);
  return summary;
}

// Starts programs for their peak memory. A process's peak counts the memory
// of the process it was forked from, so they are started by this small
// process, forked before the benchmark grows, rather than by the benchmark.
class Launcher {
public:
  Launcher() {
    int down[2], up[2];
    if (pipe(down) != 0 || pipe(up) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(down[1]);
      close(up[0]);
      serve(down[0], up[1]);
      _exit(0);
    }
    close(down[0]);
    close(up[1]);
    to_ = down[1];
    from_ = up[0];
  }
  ~Launcher() {
    if (to_ >= 0) close(to_);
    if (from_ >= 0) close(from_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }

  // Runs argv to its end; false when it could not run or failed.
  bool run(const std::vector<std::string>& argv, long* maxrssKb) {
    std::string request;
    for (const auto& a : argv)
      request += a + '\0';
    const std::uint32_t size = static_cast<std::uint32_t>(request.size());
    long answer[2] = {-1, 0};
    if (!writeAll(to_, &size, sizeof size) || !writeAll(to_, request.data(), size) ||
        !readAll(from_, answer, sizeof answer))
      return false;
    *maxrssKb = answer[1];
    return answer[0] == 0;
  }

private:
  static bool writeAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t n = write(fd, p, size);
      if (n <= 0) return false;
      p += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }
  static bool readAll(int fd, void* data, std::size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
      const ssize_t n = read(fd, p, size);
      if (n <= 0) return false;
      p += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }
  static void serve(int in, int out) {
    std::uint32_t size = 0;
    while (readAll(in, &size, sizeof size)) {
      std::string request(size, '\0');
      if (!readAll(in, request.data(), size)) return;
      std::vector<char*> args;
      for (std::size_t at = 0; at < request.size(); at = request.find('\0', at) + 1)
        args.push_back(request.data() + at);
      args.push_back(nullptr);
      long answer[2] = {-1, 0};
      const pid_t child = fork();
      if (child == 0) {
        execvp(args[0], args.data());
        _exit(127);
      }
      int status = 0;
      rusage ru{};
      if (child > 0 && wait4(child, &status, 0, &ru) == child) {
        answer[0] = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        answer[1] = ru.ru_maxrss;
      }
      if (!writeAll(out, answer, sizeof answer)) return;
    }
  }

  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
};

// Unpacks a whole archive into a folder as the install run does: NameSpace
// of both, Items, CopyHere with "yes to all" (256).
inline void copyHereAll(vk::Runtime& rt, const vk::Text& archive, const vk::Text& folder) {
  using vk::Variant;
  vk::ObjectRef shell = rt.createObject(u"{13709620-C279-11CE-A49E-444553540000}",
                                        u"{286E6F1B-7113-4355-9562-96B7E9D64C54}");
  const Variant from = shell->call(u"NameSpace", {Variant(archive)});
  const Variant to = shell->call(u"NameSpace", {Variant(folder + u"\\")});
  const Variant items = from.toObject()->get(u"Items");
  to.toObject()->call(u"CopyHere", {items, Variant(std::int16_t{256})});
}

inline void emptyFolder(const std::string& folder) {
  std::error_code ec;
  fs::remove_all(folder, ec);
  fs::create_directories(folder);
}

inline double seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

inline bool sameFile(const std::string& a, const std::string& b) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  if (!fa || !fb) return false;
  return std::equal(std::istreambuf_iterator<char>(fa), std::istreambuf_iterator<char>(),
                    std::istreambuf_iterator<char>(fb), std::istreambuf_iterator<char>());
}

} // namespace bench
