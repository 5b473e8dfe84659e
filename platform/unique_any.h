// Ownership of handle-like values, the same on both platforms: one template
// in the shape of WIL's unique_any, and a scope-exit helper in the shape of
// WIL's scope_exit. No platform header here: each platform names its own
// kinds as aliases (platform/posix/host/unique.h, platform/win32/handles.h).
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

namespace vk {

// Owns one value of a resource kind: Close frees it, Invalid is the value
// that holds nothing. Invalid may be of another type than the value, since
// some kinds mark "nothing" with a value no constant expression can hold:
// Windows' INVALID_HANDLE_VALUE is the integer -1 seen as a pointer, so it
// is given as an integer and made a pointer when it is needed. Move-only.
template <class Pointer, auto Close, auto Invalid = nullptr> class unique_any {
public:
  using pointer = Pointer;

  static pointer invalid() noexcept {
    if constexpr (std::is_pointer_v<pointer> && std::is_integral_v<decltype(Invalid)>)
      return reinterpret_cast<pointer>(static_cast<std::intptr_t>(Invalid));
    else
      return static_cast<pointer>(Invalid);
  }

  unique_any() noexcept = default;
  explicit unique_any(pointer value) noexcept : value_(value) {}
  unique_any(unique_any&& other) noexcept : value_(other.release()) {}
  unique_any& operator=(unique_any&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  unique_any(const unique_any&) = delete;
  unique_any& operator=(const unique_any&) = delete;
  ~unique_any() { reset(); }

  pointer get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != invalid(); }
  // Gives up ownership; the caller frees what it gets (and may look at what
  // freeing says, which reset() ignores).
  [[nodiscard]] pointer release() noexcept { return std::exchange(value_, invalid()); }
  void reset(pointer value = invalid()) noexcept {
    const pointer old = std::exchange(value_, value);
    if (old != invalid()) (void)Close(old);
  }
  // For out-parameters: frees what is held and hands out the slot.
  pointer* put() noexcept {
    reset();
    return &value_;
  }

private:
  pointer value_ = invalid();
};

// Runs a callable when it goes, unless release() dismissed it first.
template <class F> class [[nodiscard]] scope_exit_call {
public:
  explicit scope_exit_call(F f) noexcept(std::is_nothrow_move_constructible_v<F>)
      : f_(std::move(f)) {}
  scope_exit_call(scope_exit_call&& other) noexcept(std::is_nothrow_move_constructible_v<F>)
      : f_(std::move(other.f_)), armed_(std::exchange(other.armed_, false)) {}
  scope_exit_call(const scope_exit_call&) = delete;
  scope_exit_call& operator=(const scope_exit_call&) = delete;
  scope_exit_call& operator=(scope_exit_call&&) = delete;
  ~scope_exit_call() { reset(); }

  // Runs it now, once.
  void reset() noexcept {
    if (std::exchange(armed_, false)) f_();
  }
  // It will not run.
  void release() noexcept { armed_ = false; }

private:
  F f_;
  bool armed_ = true;
};

template <class F> [[nodiscard]] auto scope_exit(F&& f) {
  return scope_exit_call<std::decay_t<F>>(std::forward<F>(f));
}

} // namespace vk
