// Owning wrapper for an automation string (BSTR).
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <string_view>
#include <utility>

namespace korvane::win {

class UniqueBstr {
 public:
  UniqueBstr() noexcept = default;
  // Takes ownership of an already allocated BSTR.
  explicit UniqueBstr(BSTR owned) noexcept : value_(owned) {}
  // Allocates a copy of the text (embedded NULs kept). An empty view gives an empty, non-null BSTR.
  explicit UniqueBstr(std::wstring_view text)
      : value_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;
  UniqueBstr(UniqueBstr&& other) noexcept : value_(other.release()) {}
  UniqueBstr& operator=(UniqueBstr&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueBstr() { reset(); }

  // A private copy of a caller's BSTR, length-exact; a null BSTR stays null.
  static UniqueBstr CopyOf(BSTR source) {
    return UniqueBstr(source ? ::SysAllocStringLen(source, ::SysStringLen(source)) : nullptr);
  }

  BSTR get() const noexcept { return value_; }
  [[nodiscard]] BSTR release() noexcept { return std::exchange(value_, nullptr); }
  void reset(BSTR value = nullptr) noexcept {
    BSTR old = std::exchange(value_, value);
    ::SysFreeString(old);
  }
  BSTR* put() noexcept {
    reset();
    return &value_;
  }

  // Length in characters; a null BSTR counts as empty.
  UINT length() const noexcept { return ::SysStringLen(value_); }
  std::wstring_view view() const noexcept { return {value_ ? value_ : L"", length()}; }

 private:
  BSTR value_ = nullptr;
};

}  // namespace korvane::win
