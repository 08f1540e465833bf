// Run-time errors that end a method, and how they reach the client: status 0x800A0000 plus the
// error number, with error information carrying a description.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>

#include "common/win/com_ptr.h"

namespace korvane::server::methods {

// The automation run time's error numbers that the methods can raise.
enum RuntimeErrorNumber : long {
  kErrInvalidCall = 5,
  kErrOverflow = 6,
  kErrDllLoadFailed = 48,
  kErrFileNotFound = 53,
  kErrEntryPointNotFound = 453,
};

// 0x800A0000 plus the error number.
[[nodiscard]] HRESULT HresultOfRuntimeError(long number);
// The error number of such an HRESULT (its low word).
inline long RuntimeErrorNumberOf(HRESULT hr) { return static_cast<long>(hr & 0xFFFF); }

// The run time's usual wording for an error number; `detail` names the file or entry point
// where the run time would.
std::wstring DescriptionOfRuntimeError(long number, const std::wstring& detail = {});

// What a method body hands back to the frame: success, or the error that ends the call.
class MethodStatus {
 public:
  MethodStatus() = default;

  static MethodStatus RuntimeError(long number, const std::wstring& detail = {});
  // A failed call through the object's own interface: the same status fails the caller, with
  // the error information the inner call left.
  static MethodStatus FromFailedCall(HRESULT hr);
  // A failure of the method's own (memory running out) with no error information: none goes
  // stale from a call served while it waited.
  static MethodStatus Failure(HRESULT hr);

  bool ok() const { return SUCCEEDED(hr_); }
  HRESULT hresult() const { return hr_; }
  const std::wstring& description() const { return description_; }

  // Publishes the error information on the calling thread (a run-time error's names the
  // interface the call came through) and returns the status.
  [[nodiscard]] HRESULT Report(REFGUID interfaceId) const;

 private:
  HRESULT hr_ = S_OK;
  std::wstring description_;
  bool describe_ = false;         // a run-time error: its information is made when reported
  win::ComPtr<IErrorInfo> info_;  // taken over from a failed inner call
};

}  // namespace korvane::server::methods
