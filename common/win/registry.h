// Reading the registry: a key's presence, a text value, and names compared as Windows compares
// them. One set for the registration, the self-check and the tests.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace korvane::win {

// Whether two names are equal ignoring case, as the registry and the file system compare them.
[[nodiscard]] bool SameText(std::wstring_view a, std::wstring_view b);

// A REG_SZ value of an open key (nullptr: the default value); nothing when it is missing or not
// text.
[[nodiscard]] std::optional<std::wstring> ReadText(HKEY key, const wchar_t* name);
// The same below `root` at `path`, opened in `view` (0, KEY_WOW64_64KEY or KEY_WOW64_32KEY).
[[nodiscard]] std::optional<std::wstring> ReadText(HKEY root, const std::wstring& path,
                                                   const wchar_t* name, REGSAM view = 0);

// Whether `path` below `root` can be opened for reading in `view`.
[[nodiscard]] bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = 0);

// Whether the system is a 64-bit Windows: two registry views, and 64-bit programs run (for a
// 32-bit program: whether it runs under WOW64).
[[nodiscard]] bool IsSixtyFourBitWindows();

}  // namespace korvane::win
