// Calls on automation objects by member name through IDispatch, as a script makes them.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/win/unique_excep_info.h"
#include "common/win/unique_variant.h"

namespace korvane::win {

// What a late-bound call gave back: its status, its result and, for DISP_E_EXCEPTION, the
// exception the object raised.
struct DispatchOutcome {
  HRESULT hr = E_FAIL;
  UniqueVariant result;
  UniqueExcepInfo excep;

  const VARIANT& value() const noexcept { return result.value(); }
  // The result as text; empty for a null string, "<not a string>" for any other type.
  std::wstring Text() const;
};

// Looks up `name` and invokes it with `args` in natural order (the first argument first). The
// arguments are borrowed: the caller keeps and clears them. With DISPATCH_PROPERTYPUT the last
// argument is the value put.
DispatchOutcome InvokeByName(IDispatch* object, std::wstring_view name,
                             const std::vector<VARIANT>& args, WORD flags = DISPATCH_METHOD);

// Creates an object by ProgID on the local machine and hands out its IDispatch.
[[nodiscard]] HRESULT CreateObjectByProgId(const wchar_t* progId, IDispatch** object);

}  // namespace korvane::win
