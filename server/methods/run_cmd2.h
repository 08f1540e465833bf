// RunCmd2: runs a command line with its standard output and error on one pipe and returns
// everything written there. While it waits the server's thread keeps serving other calls.
#pragma once

#include <windows.h>

#include <string_view>

#include "common/win/unique_bstr.h"
#include "server/methods/debug_log.h"
#include "server/methods/runtime_error.h"

namespace korvane::server::methods {

// What RunCmd2 answers for a program it cannot start (QuandrelRunCmd answers the same when it
// cannot name the engine).
inline constexpr wchar_t kFailedToExecute[] = L"failed to execute command";

// `result` is the child's whole output, or kFailedToExecute when it could not be started.
// Output that cannot be held fails the call with E_OUTOFMEMORY.
[[nodiscard]] MethodStatus RunCmd2(std::wstring_view commandLine, LONG showWindow,
                                   const DebugLog& log, win::UniqueBstr& result);

}  // namespace korvane::server::methods
