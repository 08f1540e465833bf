// The one place quandrelcmd touches the engine: bind quandrelsdk.dll beside the program for the
// length of one call.
#pragma once

#include <optional>
#include <string>

namespace korvane::cli {

// `fileName` in the folder of the running program, or nothing when the program's own path
// cannot be had whole (it is longer than the 256 characters asked for) or the result would be
// too long: a library is never looked for at a cut-off path.
std::optional<std::wstring> LibraryPathBesideProgram(const wchar_t* fileName);

// Loads quandrelsdk.dll from the program's folder (what it needs from there and the system
// folder: library_load.h), calls KorvaneQuandrelConverter with `commandLine`, releases the
// library and returns the engine's result unchanged. Returns 0
// without loading anything for an absent or empty command line, and 0 when the library or its
// export cannot be bound. The engine receives `commandLine` itself and may write into it.
int RunEngine(char* commandLine);

}  // namespace korvane::cli
