// The debug-log writer's file handling: one line appended through a fresh scripting
// file-system object, late-bound, with every error swallowed.
#pragma once

#include <string>
#include <string_view>

namespace korvane::server {

// Appends `line` and a CR LF to the 8-bit text file at `path`, creating the file when it is
// missing. A step that fails is abandoned and the next one is tried; nothing is reported.
void AppendLogLine(const std::wstring& path, std::wstring_view line) noexcept;

}  // namespace korvane::server
