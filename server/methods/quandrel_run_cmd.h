// QuandrelRunCmd: the engine executable beside the server, run hidden through RunCmd2.
#pragma once

#include <string_view>

#include "common/win/unique_bstr.h"
#include "server/com/quandrelcom.h"
#include "server/methods/debug_log.h"
#include "server/methods/runtime_error.h"

namespace korvane::server::methods {

// `self` is the object the call came to: RunCmd2 is called through it.
[[nodiscard]] MethodStatus QuandrelRunCmd(_QuandrelCom* self, std::wstring_view arguments,
                                          const DebugLog& log, win::UniqueBstr& result);

}  // namespace korvane::server::methods
