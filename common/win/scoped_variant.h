// Owning wrapper for a VARIANT.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace korvane::win {

class UniqueVariant {
 public:
  UniqueVariant() noexcept { ::VariantInit(&value_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  ~UniqueVariant() { ::VariantClear(&value_); }

  VARIANT* get() noexcept { return &value_; }
  const VARIANT& value() const noexcept { return value_; }
  // Clears the current content and hands out the slot.
  VARIANT* put() noexcept {
    ::VariantClear(&value_);
    return &value_;
  }

 private:
  VARIANT value_;
};

}  // namespace korvane::win
