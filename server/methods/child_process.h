// Starting a child process the way both command runners do: the program taken from the
// command line, every inheritable handle passed on, normal priority, the server's environment
// and current folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "common/win/unique_handle.h"

namespace korvane::server::methods {

// A started child, or why it could not be started.
struct ChildProcess {
  HRESULT hr = E_FAIL;  // S_OK once started; else the creation's last error as an HRESULT
  DWORD lastError = 0;  // the creation's last error as the platform reported it (for the log)
  win::UniqueHandle process;
  win::UniqueHandle thread;

  bool started() const { return SUCCEEDED(hr); }
};

// Start-up record that only sets the show-window code of the child's first window.
STARTUPINFOA StartupWithShowWindow(int16_t showWindow);

// The same, with standard output and error both on `outputWriteEnd` and no standard input.
STARTUPINFOA StartupWithOutputPipe(int16_t showWindow, HANDLE outputWriteEnd);

// Starts `commandLine`, which the platform may write into.
ChildProcess StartChildProcess(std::string& commandLine, STARTUPINFOA& startup);

}  // namespace korvane::server::methods
