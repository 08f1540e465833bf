// Conversions between UTF-16 and 8-bit text: by default the process's ANSI code page, the form in
// which text crosses to the engine and to child processes.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "win/unique_bstr.h"

namespace korvane::win {

// UTF-16 to 8-bit text with the platform's standard conversion (unmappable characters as it makes
// them). Any length: the text is converted in pieces that never cut a surrogate pair.
std::string ToAnsi(std::wstring_view text, UINT codePage = CP_ACP);

// 8-bit text to UTF-16. A multi-byte character must not be split across two calls.
std::wstring FromAnsi(std::string_view bytes, UINT codePage = CP_ACP);

// 8-bit text straight into an automation string, converted once, as a whole (a multi-byte
// character split between two reads of a pipe joins up), without an intermediate copy. Null when
// the string cannot be allocated.
UniqueBstr BstrFromAnsi(std::string_view bytes, UINT codePage = CP_ACP);

}  // namespace korvane::win
