// Joins the calling thread to a COM apartment for the object's lifetime.
#pragma once

#include <objbase.h>

namespace korvane::win {

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
