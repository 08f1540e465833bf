// The frame every method of the class runs in, written once:
//   1. a reference on the object for the length of the call (a call served while the method
//      pumps messages may release the client's last reference);
//   2. private copies of the text arguments, so the client's strings are never touched;
//   3. the result starts at its empty value; a text result slot is cleared before the body runs;
//   4. the body runs and hands back a MethodStatus;
//   5. copies and temporaries are freed, the reference is dropped, then the result is stored (on
//      success) or the error information is published (on failure);
//   6. no C++ exception leaves it: memory running out is E_OUTOFMEMORY, anything else
//      E_UNEXPECTED, with no error information.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <new>
#include <tuple>
#include <type_traits>
#include <utility>

#include "common/win/com_ptr.h"
#include "common/win/unique_bstr.h"
#include "server/com/quandrelcom.h"
#include "server/methods/runtime_error.h"

namespace korvane::server::com {

// The local result variable of a method whose [out, retval] slot has type T.
template <typename T>
struct FrameResult {
  using Local = T;
  static void Store(Local& local, T* slot) { *slot = local; }
};
template <>
struct FrameResult<BSTR> {
  using Local = win::UniqueBstr;
  static void Store(Local& local, BSTR* slot) { *slot = local.release(); }
};

// A method that delivers no result.
struct NoResult {};

// Text arguments become owned copies; everything else is passed by value. A text that cannot be
// copied marks the copies incomplete: the call then fails instead of seeing an empty or null text.
struct CopyCheck {
  bool whole = true;
};
inline win::UniqueBstr PrivateCopy(BSTR text, CopyCheck& check) {
  win::UniqueBstr copy = win::UniqueBstr::CopyOf(text);
  if (text != nullptr && copy.get() == nullptr) check.whole = false;
  return copy;
}
template <typename T>
T PrivateCopy(T value, CopyCheck&) {
  return value;
}

// Runs `run` (which returns an HRESULT) so that no C++ exception ever leaves a COM method: one
// unwinding into the RPC run time would end the server and every client's objects with it.
// Error information from anything half-done is cleared, so none goes stale to the client.
template <typename Run>
[[nodiscard]] HRESULT NoExceptionEscapes(Run&& run) noexcept {
  try {
    return run();
  } catch (const std::bad_alloc&) {
    ::SetErrorInfo(0, nullptr);
    return E_OUTOFMEMORY;
  } catch (...) {
    ::SetErrorInfo(0, nullptr);
    return E_UNEXPECTED;
  }
}

// Runs `body(result, copies...)` in the frame. `self` is the object (its IUnknown), `slot` the
// caller's [out, retval] pointer.
template <typename T, typename Body, typename... Args>
[[nodiscard]] HRESULT InvokeInFrame(IUnknown* self, T* slot, Body&& body, Args... args) noexcept {
  if (slot == nullptr) return E_POINTER;
  if constexpr (std::is_same_v<T, BSTR>) *slot = nullptr;
  return NoExceptionEscapes([&]() -> HRESULT {
    typename FrameResult<T>::Local result{};
    methods::MethodStatus status;
    {
      win::ComPtr<IUnknown> hold(self);  // a reference of the frame's own
      CopyCheck check;
      auto copies = std::make_tuple(PrivateCopy(args, check)...);
      status = check.whole
                   ? std::apply([&](auto&... copy) { return body(result, copy...); }, copies)
                   : methods::MethodStatus::Failure(E_OUTOFMEMORY);
    }
    if (!status.ok()) return status.Report(IID__QuandrelCom);
    FrameResult<T>::Store(result, slot);
    return S_OK;
  });
}

// The same frame for a method without a result.
template <typename Body, typename... Args>
[[nodiscard]] HRESULT InvokeInFrame(IUnknown* self, NoResult, Body&& body, Args... args) noexcept {
  return NoExceptionEscapes([&]() -> HRESULT {
    methods::MethodStatus status;
    {
      win::ComPtr<IUnknown> hold(self);  // a reference of the frame's own
      CopyCheck check;
      auto copies = std::make_tuple(PrivateCopy(args, check)...);
      status = check.whole ? std::apply([&](auto&... copy) { return body(copy...); }, copies)
                           : methods::MethodStatus::Failure(E_OUTOFMEMORY);
    }
    return status.ok() ? S_OK : status.Report(IID__QuandrelCom);
  });
}

}  // namespace korvane::server::com
