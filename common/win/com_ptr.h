// Owning pointer to a COM interface, with the semantics of WRL's and WIL's (and WIL's lower-case
// names): built or assigned from a raw pointer it adds a reference; attach takes over one the
// caller owns, detach gives it up.
#pragma once

#include <objbase.h>
#include <unknwn.h>

#include <utility>

namespace korvane::win {

template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Shares the pointer: adds a reference of its own.
  ComPtr(T* other) noexcept : ptr_(other) { add_ref_if_any(); }
  ComPtr(const ComPtr& other) noexcept : ComPtr(other.ptr_) {}
  ComPtr(ComPtr&& other) noexcept : ptr_(other.detach()) {}
  ComPtr& operator=(T* other) noexcept {
    if (other) other->AddRef();
    attach(other);
    return *this;
  }
  ComPtr& operator=(const ComPtr& other) noexcept { return *this = other.ptr_; }
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) attach(other.detach());
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const noexcept { return ptr_; }
  T* operator->() const noexcept { return ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

  // Takes over a reference the caller owns, releasing the current one.
  void attach(T* owned) noexcept {
    T* old = std::exchange(ptr_, owned);
    if (old) old->Release();
  }
  // Hands the reference to the caller, who must release it.
  [[nodiscard]] T* detach() noexcept { return std::exchange(ptr_, nullptr); }
  void reset() noexcept { attach(nullptr); }

  // A new reference for an out-parameter (null stays null).
  [[nodiscard]] HRESULT copy_to(T** out) const noexcept {
    if (out == nullptr) return E_POINTER;
    *out = ptr_;
    if (ptr_) ptr_->AddRef();
    return S_OK;
  }

  // For out-parameters: releases the current pointer and hands out the slot.
  T** put() noexcept {
    reset();
    return &ptr_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

  template <typename U>
  [[nodiscard]] HRESULT query_to(ComPtr<U>* out) const noexcept {
    if (out == nullptr) return E_POINTER;
    if (ptr_ == nullptr) {
      out->reset();
      return E_POINTER;
    }
    return ptr_->QueryInterface(__uuidof(U), out->put_void());
  }

 private:
  void add_ref_if_any() noexcept {
    if (ptr_) ptr_->AddRef();
  }

  T* ptr_ = nullptr;
};

}  // namespace korvane::win
