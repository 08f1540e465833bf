// Conversions between automation strings (UTF-16) and the process's 8-bit ANSI code page, the
// form in which text crosses to the engine and to child processes.
#pragma once

#include <string>
#include <string_view>

namespace korvane::server {

// UTF-16 to ANSI with the platform's standard conversion (unmappable characters as it makes them).
std::string ToAnsi(std::wstring_view text);

// ANSI bytes to UTF-16. A multi-byte character must not be split across two calls.
std::wstring FromAnsi(std::string_view bytes);

}  // namespace korvane::server
