// Starting a child process the way both command runners do: the program taken from the
// command line, every inheritable handle passed on, normal priority, the server's environment
// and current folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "win/scoped_handle.h"

namespace korvane::server {

struct ChildProcess {
  win::UniqueHandle process;
  win::UniqueHandle thread;
};

// Start-up record that only sets the show-window code of the child's first window.
STARTUPINFOA StartupWithShowWindow(int16_t showWindow);

// The same, with standard output and error both on `outputWriteEnd` and no standard input.
STARTUPINFOA StartupWithOutputPipe(int16_t showWindow, HANDLE outputWriteEnd);

// Starts `commandLine`, which the platform may write into, and fills `child`. On failure
// returns false with the creation's last error in `error`.
bool StartChildProcess(std::string& commandLine, STARTUPINFOA& startup, ChildProcess& child,
                       DWORD& error);

}  // namespace korvane::server
