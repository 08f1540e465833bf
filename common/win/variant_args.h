// Arguments for late-bound calls, as a script would pass them.
#pragma once

#include <windows.h>

#include <oleauto.h>

namespace korvane::win {

// Borrows the caller's BSTR: the VARIANT must not be cleared, and the BSTR must outlive the call.
inline VARIANT BorrowedTextArg(BSTR text) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = text;
  return v;
}

inline VARIANT LongArg(LONG value) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

inline VARIANT BoolArg(bool value) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

}  // namespace korvane::win
