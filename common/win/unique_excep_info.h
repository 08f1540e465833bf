// Owning wrapper for the EXCEPINFO a late-bound call fills: its three strings are freed once.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string_view>
#include <utility>

namespace korvane::win {

class UniqueExcepInfo {
 public:
  UniqueExcepInfo() noexcept = default;
  UniqueExcepInfo(const UniqueExcepInfo&) = delete;
  UniqueExcepInfo& operator=(const UniqueExcepInfo&) = delete;
  UniqueExcepInfo(UniqueExcepInfo&& other) noexcept : value_(std::exchange(other.value_, {})) {}
  UniqueExcepInfo& operator=(UniqueExcepInfo&& other) noexcept {
    if (this != &other) {
      reset();
      value_ = std::exchange(other.value_, {});
    }
    return *this;
  }
  ~UniqueExcepInfo() { reset(); }

  EXCEPINFO* get() noexcept { return &value_; }
  const EXCEPINFO& value() const noexcept { return value_; }
  const EXCEPINFO* operator->() const noexcept { return &value_; }

  // The status the exception stands for: scode, or the one wCode maps to.
  SCODE status() const noexcept {
    return value_.scode != 0
               ? value_.scode
               : (value_.wCode != 0 ? MAKE_HRESULT(1, FACILITY_DISPATCH, value_.wCode) : S_OK);
  }
  std::wstring_view description() const noexcept {
    return value_.bstrDescription
               ? std::wstring_view(value_.bstrDescription, ::SysStringLen(value_.bstrDescription))
               : std::wstring_view();
  }

  void reset() noexcept {
    ::SysFreeString(value_.bstrSource);
    ::SysFreeString(value_.bstrDescription);
    ::SysFreeString(value_.bstrHelpFile);
    value_ = {};
  }
  // Frees the current content and hands out the record for a call to fill.
  EXCEPINFO* put() noexcept {
    reset();
    return &value_;
  }

 private:
  EXCEPINFO value_{};
};

}  // namespace korvane::win
