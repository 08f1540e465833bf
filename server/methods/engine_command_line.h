// How the server addresses the engine executable beside itself and what it hands it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane::server::methods {

// The engine executable in the server folder (one backslash, also at a drive root).
std::wstring EngineExecutablePath(std::wstring_view serverFolder);

// The quoted engine path, one space, and the client's text unchanged.
std::wstring EngineCommandLine(std::wstring_view enginePath, std::wstring_view clientText);

// The result when the engine executable is missing.
std::wstring EngineNotFoundMessage(std::wstring_view enginePath);

// The file's length in bytes, or -1 when it cannot be read as a file (missing, a folder, access
// denied): the engine cannot be started from it either way.
int64_t FileLengthOrMinusOne(const std::wstring& path);

}  // namespace korvane::server::methods
