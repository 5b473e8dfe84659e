// Ownership of the host's resources: one RAII template for handle-like
// values and a short alias per kind, as the Windows side has them.
#pragma once

#include <archive.h>
#include <curl/curl.h>
#include <dirent.h>
#include <unistd.h>

#include <utility>

namespace vk::posix {

// Owns one value of a resource kind: Close frees it, Invalid is the value
// that holds nothing. Move-only.
template <class T, auto Close, T Invalid> class unique_resource {
public:
  using pointer = T;

  unique_resource() noexcept = default;
  explicit unique_resource(T value) noexcept : value_(value) {}
  unique_resource(unique_resource&& other) noexcept : value_(other.release()) {}
  unique_resource& operator=(unique_resource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  unique_resource(const unique_resource&) = delete;
  unique_resource& operator=(const unique_resource&) = delete;
  ~unique_resource() { reset(); }

  T get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Invalid; }
  // Gives up ownership; the caller closes what it gets (and may look at
  // what closing says, which reset() ignores).
  T release() noexcept { return std::exchange(value_, Invalid); }
  void reset(T value = Invalid) noexcept {
    const T old = std::exchange(value_, value);
    if (old != Invalid) (void)Close(old);
  }

private:
  T value_ = Invalid;
};

using unique_fd = unique_resource<int, ::close, -1>;
using unique_dir = unique_resource<DIR*, ::closedir, nullptr>;
using unique_curl = unique_resource<CURL*, curl_easy_cleanup, nullptr>;
using unique_curl_slist = unique_resource<curl_slist*, curl_slist_free_all, nullptr>;
using unique_archive = unique_resource<archive*, archive_read_free, nullptr>; // a reader

} // namespace vk::posix
