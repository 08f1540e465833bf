// Calls on automation objects by member name through IDispatch, as a script would make them.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <initializer_list>
#include <string_view>

namespace korvane::server {

// Looks up `name` and invokes it as a method with `args` in natural order (the first argument
// first). `result` may be null. Returns the call's status.
HRESULT CallMethodByName(IDispatch* object, std::wstring_view name,
                         std::initializer_list<VARIANT> args, VARIANT* result);

// Creates an object by ProgID on the local machine and hands out its IDispatch.
HRESULT CreateObjectByProgId(const wchar_t* progId, IDispatch** object);

}  // namespace korvane::server
