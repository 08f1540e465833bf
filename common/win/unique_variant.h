// Owning wrapper for a VARIANT: cleared once, movable.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <utility>

namespace korvane::win {

class UniqueVariant {
 public:
  UniqueVariant() noexcept { ::VariantInit(&value_); }
  // Takes over the content of a VARIANT the caller owns.
  explicit UniqueVariant(const VARIANT& owned) noexcept : value_(owned) {}
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  UniqueVariant(UniqueVariant&& other) noexcept : value_(other.release()) {}
  UniqueVariant& operator=(UniqueVariant&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueVariant() { ::VariantClear(&value_); }

  VARIANT* get() noexcept { return &value_; }
  const VARIANT& value() const noexcept { return value_; }

  // Clears the current content and takes over `owned` (empty by default).
  void reset(const VARIANT& owned = Empty()) noexcept {
    ::VariantClear(&value_);
    value_ = owned;
  }
  // Hands the content to the caller, who must clear it; this one is left empty.
  [[nodiscard]] VARIANT release() noexcept { return std::exchange(value_, Empty()); }
  // Clears the current content and hands out the slot.
  VARIANT* put() noexcept {
    reset();
    return &value_;
  }

 private:
  static VARIANT Empty() noexcept {
    VARIANT v;
    ::VariantInit(&v);
    return v;
  }

  VARIANT value_;
};

}  // namespace korvane::win
