// The frame every method of the class runs in, written once:
//   1. a reference on the object for the length of the call (a call served while the method
//      pumps messages may release the client's last reference);
//   2. private copies of the text arguments, so the client's strings are never touched;
//   3. the result starts at its empty value; a text result slot is cleared before the body runs;
//   4. the body runs and hands back a MethodStatus;
//   5. copies and temporaries are freed, the reference is dropped, then the result is stored (on
//      success) or the error information is published (on failure).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <tuple>
#include <type_traits>
#include <utility>

#include "automation_error.h"
#include "win/com_ptr.h"
#include "win/unique_bstr.h"

namespace korvane::server {

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

// Text arguments become owned copies; everything else is passed by value.
inline win::UniqueBstr PrivateCopy(BSTR text) { return win::UniqueBstr::CopyOf(text); }
template <typename T>
T PrivateCopy(T value) {
  return value;
}

// Runs `body(result, copies...)` in the frame. `self` is the object (its IUnknown), `slot` the
// caller's [out, retval] pointer.
template <typename T, typename Body, typename... Args>
HRESULT InvokeInFrame(IUnknown* self, T* slot, Body&& body, Args... args) {
  if (slot == nullptr) return E_POINTER;
  if constexpr (std::is_same_v<T, BSTR>) *slot = nullptr;
  typename FrameResult<T>::Local result{};
  MethodStatus status;
  {
    win::ComPtr<IUnknown> hold(self);  // a reference of the frame's own
    auto copies = std::make_tuple(PrivateCopy(args)...);
    status = std::apply([&](auto&... copy) { return body(result, copy...); }, copies);
  }
  if (!status.ok()) return status.Report();
  FrameResult<T>::Store(result, slot);
  return S_OK;
}

// The same frame for a method without a result.
template <typename Body, typename... Args>
HRESULT InvokeInFrame(IUnknown* self, NoResult, Body&& body, Args... args) {
  MethodStatus status;
  {
    win::ComPtr<IUnknown> hold(self);  // a reference of the frame's own
    auto copies = std::make_tuple(PrivateCopy(args)...);
    status = std::apply([&](auto&... copy) { return body(copy...); }, copies);
  }
  return status.ok() ? S_OK : status.Report();
}

}  // namespace korvane::server
