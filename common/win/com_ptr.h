// Owning pointer to a COM interface, and the apartment a thread joins.
#pragma once

#include <objbase.h>
#include <unknwn.h>

#include <utility>

namespace korvane::win {

template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  // Takes over a reference the caller owns.
  explicit ComPtr(T* owned) noexcept : ptr_(owned) {}
  ComPtr(const ComPtr& other) noexcept : ptr_(other.ptr_) {
    if (ptr_) ptr_->AddRef();
  }
  ComPtr& operator=(const ComPtr& other) noexcept {
    if (this != &other) {
      if (other.ptr_) other.ptr_->AddRef();
      reset(other.ptr_);
    }
    return *this;
  }
  ComPtr(ComPtr&& other) noexcept : ptr_(other.release()) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const noexcept { return ptr_; }
  T* operator->() const noexcept { return ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }
  T* release() noexcept { return std::exchange(ptr_, nullptr); }
  void reset(T* owned = nullptr) noexcept {
    T* old = std::exchange(ptr_, owned);
    if (old) old->Release();
  }
  T** put() noexcept {
    reset();
    return &ptr_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

  template <typename U>
  HRESULT As(ComPtr<U>* out) const noexcept {
    return ptr_ ? ptr_->QueryInterface(__uuidof(U), out->put_void()) : E_POINTER;
  }

 private:
  T* ptr_ = nullptr;
};

// Joins the calling thread to a COM apartment for the wrapper's lifetime.
class ScopedComInit {
 public:
  explicit ScopedComInit(DWORD model = COINIT_APARTMENTTHREADED) noexcept
      : hr_(::CoInitializeEx(nullptr, model)) {}
  ScopedComInit(const ScopedComInit&) = delete;
  ScopedComInit& operator=(const ScopedComInit&) = delete;
  ~ScopedComInit() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  HRESULT status() const noexcept { return hr_; }
  bool ok() const noexcept { return SUCCEEDED(hr_); }

 private:
  HRESULT hr_;
};

}  // namespace korvane::win
