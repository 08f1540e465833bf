// RunCmd: starts a command line as a child process, optionally waits for its end without
// serving other calls meanwhile, and answers whether every step succeeded.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string_view>

#include "server/methods/debug_log.h"
#include "server/methods/runtime_error.h"

namespace korvane::server::methods {

// `result` is VARIANT_TRUE only when the child started and, with `wait`, ended and was asked
// for its exit code. A failed step is a log line, not an error; an unusable `showWindow` is
// run-time error 6.
[[nodiscard]] MethodStatus RunCmd(std::wstring_view commandLine, LONG showWindow, bool wait,
                                  const DebugLog& log, VARIANT_BOOL& result);

}  // namespace korvane::server::methods
