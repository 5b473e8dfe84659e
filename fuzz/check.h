// What the fuzz targets share: a broken property aborts, so libFuzzer keeps
// the input as a crash just as it keeps a sanitizer report.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#define VK_FUZZ_CHECK(condition)                                                                   \
  ((condition) ? void(0) : ::vk::fuzz::fail(#condition, __FILE__, __LINE__))

namespace vk::fuzz {

[[noreturn]] inline void fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
  std::abort();
}

inline std::string_view bytes(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

} // namespace vk::fuzz
