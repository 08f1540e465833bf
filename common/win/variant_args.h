// Arguments for late-bound calls, as a script would pass them.
#pragma once

#include <windows.h>

#include <oleauto.h>

namespace korvane::win {

// A VARIANT of `type` whose value `set` fills in.
template <typename Set>
VARIANT MakeArg(VARTYPE type, Set set) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = type;
  set(v);
  return v;
}

// Borrows the caller's BSTR: the VARIANT must not be cleared, and the BSTR must outlive the call.
inline VARIANT BorrowedTextArg(BSTR text) {
  return MakeArg(VT_BSTR, [text](VARIANT& v) { v.bstrVal = text; });
}

inline VARIANT LongArg(LONG value) {
  return MakeArg(VT_I4, [value](VARIANT& v) { v.lVal = value; });
}

inline VARIANT BoolArg(bool value) {
  return MakeArg(VT_BOOL,
                 [value](VARIANT& v) { v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; });
}

}  // namespace korvane::win
