// The one error vocabulary below the automation boundary: HRESULT values, and a few helpers in
// the spirit of WIL's result macros to return them early. Nothing here throws.
#pragma once

#include <windows.h>

namespace korvane::win {

// A Win32 error code as an HRESULT; a failure that left no code still counts as a failure.
[[nodiscard]] inline HRESULT HresultFromWin32(DWORD error) noexcept {
  return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}
// A registry-style status (ERROR_SUCCESS on success) as an HRESULT.
[[nodiscard]] inline HRESULT HresultFromStatus(LONG status) noexcept {
  return HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}
[[nodiscard]] inline HRESULT LastErrorAsHresult() noexcept {
  return HresultFromWin32(::GetLastError());
}

// The Win32 error an HRESULT carries (its low word for FACILITY_WIN32), else the HRESULT itself.
inline DWORD Win32ErrorOf(HRESULT hr) noexcept {
  return HRESULT_FACILITY(hr) == FACILITY_WIN32 ? static_cast<DWORD>(HRESULT_CODE(hr))
                                                : static_cast<DWORD>(hr);
}

}  // namespace korvane::win

// Returns the HRESULT of `expr` from the calling function when it is a failure.
#define KORVANE_RETURN_IF_FAILED(expr)           \
  do {                                           \
    const HRESULT korvane_hr_ = (expr);          \
    if (FAILED(korvane_hr_)) return korvane_hr_; \
  } while (0)

// Returns a Win32 status of `expr` (ERROR_SUCCESS on success, as the registry and security
// functions return it) as an HRESULT from the calling function when it is a failure.
#define KORVANE_RETURN_IF_WIN32_ERROR(expr)                     \
  do {                                                          \
    const DWORD korvane_status_ = static_cast<DWORD>(expr);     \
    if (korvane_status_ != ERROR_SUCCESS)                       \
      return ::korvane::win::HresultFromWin32(korvane_status_); \
  } while (0)

// Returns the calling thread's last error as an HRESULT when `condition` holds.
#define KORVANE_RETURN_LAST_ERROR_IF(condition)                 \
  do {                                                          \
    if (condition) return ::korvane::win::LastErrorAsHresult(); \
  } while (0)
