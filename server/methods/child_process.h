// Starting a child process the way both command runners do: the program taken from the
// command line, every inheritable handle passed on, normal priority, the server's environment
// and current folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "common/win/unique_handle.h"
#include "server/methods/debug_log.h"

namespace korvane::server::methods {

// A started child, or why it could not be started.
struct ChildProcess {
  HRESULT hr = E_FAIL;  // S_OK once started; E_INVALIDARG for refused text; else the creation's
                        // last error as an HRESULT
  DWORD lastError = 0;  // the creation's last error as the platform reported it (for the log);
                        // 0 for refused text
  win::UniqueHandle process;
  win::UniqueHandle thread;

  bool started() const { return SUCCEEDED(hr); }
};

// Start-up record that only sets the show-window code of the child's first window.
STARTUPINFOA StartupWithShowWindow(int16_t showWindow);

// The same, with standard output and error both on `outputWriteEnd` and no standard input.
STARTUPINFOA StartupWithOutputPipe(int16_t showWindow, HANDLE outputWriteEnd);

// The runners' line for a step that failed: "<tag> Pos=<position>, ErrorCode=<error>". `error` is
// the last error as read right after the failing call, before writing the line can change it.
void LogStepFailed(const DebugLog& log, std::wstring_view tag, int position, DWORD error);

// Starts `commandLine` if the ANSI code page, in which the child reads it, carries it exactly:
// text it cannot carry is refused rather than handed over as a look-alike. A refusal or a failed
// start (at `failedStartPosition`) is logged under `tag` and starts nothing.
ChildProcess StartExactly(std::wstring_view commandLine, STARTUPINFOA& startup, const DebugLog& log,
                          std::wstring_view tag, int failedStartPosition);

}  // namespace korvane::server::methods
