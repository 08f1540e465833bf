// QuandrelRunCmd: the engine executable beside the server, run hidden through RunCmd2.
#pragma once

#include <windows.h>

#include <functional>
#include <string_view>

#include "common/win/unique_bstr.h"
#include "server/methods/debug_log.h"
#include "server/methods/runtime_error.h"

namespace korvane::server::methods {

// RunCmd2 of the object the call came to, hidden (its show-window argument 0), called through the
// object's own interface.
using ObjectRunCmd2 = std::function<HRESULT(BSTR commandLine, BSTR* output)>;

[[nodiscard]] MethodStatus QuandrelRunCmd(const ObjectRunCmd2& runCmd2, std::wstring_view arguments,
                                          const DebugLog& log, win::UniqueBstr& result);

}  // namespace korvane::server::methods
