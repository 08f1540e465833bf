// Paths handed across to programs and libraries that read 8-bit text in the ANSI code page.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace korvane::win {

// Whether the code page carries `text` exactly (ToAnsi would take it): a look-alike spelling
// ("a" for "ā") could name another file that exists.
[[nodiscard]] bool SurvivesCodePage(std::wstring_view text, UINT codePage = CP_ACP);

// The spelling of a path to hand across: `longPath` when the code page spells it, else
// `shortPath` (its 8.3 form, empty when it has none) when that one is spelled; nothing when
// neither is.
[[nodiscard]] std::optional<std::wstring> ChooseAnsiSpelling(std::wstring_view longPath,
                                                             std::wstring_view shortPath,
                                                             UINT codePage = CP_ACP);

// ChooseAnsiSpelling for an existing file or folder: the file system is asked for the short form
// only when the long one is not spelled. A volume without short names gives the long path back,
// so the result is then nothing.
[[nodiscard]] std::optional<std::wstring> AnsiSpellingOfPath(const std::wstring& path,
                                                             UINT codePage = CP_ACP);

}  // namespace korvane::win
