// Ownership of Windows resources: one alias per handle kind over the
// template both platforms share, a COM pointer, and an owned VARIANT.
#pragma once

#include "platform/unique_any.h"
#include "platform/win32/win32.h"

#include <cstdint>
#include <utility>

namespace vk::win32 {

inline void releaseScreenDc(HDC dc) noexcept {
  ::ReleaseDC(nullptr, dc);
}

// The kinds this program owns. Failing calls give nullptr for most and
// INVALID_HANDLE_VALUE for files and listings.
using unique_handle = unique_any<HANDLE, ::CloseHandle>;
using unique_hfile = unique_any<HANDLE, ::CloseHandle, std::intptr_t{-1}>;
using unique_find = unique_any<HANDLE, ::FindClose, std::intptr_t{-1}>;
using unique_hwnd = unique_any<HWND, ::DestroyWindow>;
using unique_hfont = unique_any<HFONT, ::DeleteObject>;
using unique_hbrush = unique_any<HBRUSH, ::DeleteObject>;
using unique_hpen = unique_any<HPEN, ::DeleteObject>;
using unique_screen_dc = unique_any<HDC, releaseScreenDc>;
using unique_bstr = unique_any<BSTR, ::SysFreeString>;
using unique_hlocal = unique_any<HLOCAL, ::LocalFree>;

// The types below are no single value freed by a single call: a COM
// pointer is shared by counting references, a VARIANT is a struct cleared
// in place, a class registration is a name with its module, and COM on a
// thread is a result to check. So they are classes of their own.

// An owned reference to a COM interface.
template <class T> class com_ptr {
public:
  com_ptr() noexcept = default;
  // Adopts a reference the caller already holds.
  static com_ptr attach(T* p) noexcept {
    com_ptr r;
    r.p_ = p;
    return r;
  }
  // Takes a reference of its own.
  static com_ptr copy(T* p) noexcept {
    if (p) p->AddRef();
    return attach(p);
  }
  com_ptr(const com_ptr& other) noexcept : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  com_ptr(com_ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  com_ptr& operator=(com_ptr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~com_ptr() { reset(); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void reset() noexcept {
    if (T* old = std::exchange(p_, nullptr)) old->Release();
  }
  T* detach() noexcept { return std::exchange(p_, nullptr); }
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

  // QueryInterface for another interface; empty when it is not supported.
  template <class U> com_ptr<U> query(HRESULT* result = nullptr) const noexcept {
    com_ptr<U> other;
    const HRESULT hr = p_ ? p_->QueryInterface(__uuidof(U), other.put_void()) : E_POINTER;
    if (result) *result = hr;
    return other;
  }

private:
  T* p_ = nullptr;
};

// A VARIANT that is cleared when it goes.
class unique_variant {
public:
  unique_variant() noexcept { ::VariantInit(&v_); }
  unique_variant(unique_variant&& other) noexcept : v_(other.v_) { ::VariantInit(&other.v_); }
  unique_variant& operator=(unique_variant&& other) noexcept {
    if (this != &other) {
      ::VariantClear(&v_);
      v_ = other.v_;
      ::VariantInit(&other.v_);
    }
    return *this;
  }
  unique_variant(const unique_variant&) = delete;
  unique_variant& operator=(const unique_variant&) = delete;
  ~unique_variant() { ::VariantClear(&v_); }

  VARIANT* get() noexcept { return &v_; }
  const VARIANT* get() const noexcept { return &v_; }
  VARIANT* operator->() noexcept { return &v_; }
  const VARIANT* operator->() const noexcept { return &v_; }
  // Clears what is held and hands out the VARIANT to be filled.
  VARIANT* put() noexcept {
    ::VariantClear(&v_);
    return &v_;
  }

private:
  VARIANT v_;
};

// A class registration, unregistered when it goes.
class unique_window_class {
public:
  unique_window_class() noexcept = default;
  unique_window_class(HINSTANCE instance, const wchar_t* name) noexcept
      : instance_(instance), name_(name) {}
  unique_window_class(unique_window_class&& other) noexcept
      : instance_(other.instance_), name_(std::exchange(other.name_, nullptr)) {}
  unique_window_class& operator=(unique_window_class&& other) noexcept {
    if (this != &other) {
      reset();
      instance_ = other.instance_;
      name_ = std::exchange(other.name_, nullptr);
    }
    return *this;
  }
  ~unique_window_class() { reset(); }
  void reset() noexcept {
    if (name_) ::UnregisterClassW(std::exchange(name_, nullptr), instance_);
  }

private:
  HINSTANCE instance_ = nullptr;
  const wchar_t* name_ = nullptr;
};

// COM on this thread for as long as it lives.
class com_apartment {
public:
  com_apartment() noexcept : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  com_apartment(const com_apartment&) = delete;
  com_apartment& operator=(const com_apartment&) = delete;
  ~com_apartment() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  HRESULT result() const noexcept { return result_; }

private:
  HRESULT result_;
};

} // namespace vk::win32
