// Where the engine library lies: beside the program, in the program's own folder.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace korvane::cli {

// The longest library path handed to the loader, in characters with the terminating zero (the
// platform's classic path limit).
inline constexpr size_t kMaxLibraryPath = 260;

// `fileName` in the folder of `programPath`: the program path's drive (a letter and a colon) and
// directory (up to and including its last "\" or "/"), then the file name unchanged. A program
// path without a directory gives the bare file name. Nothing when the result would not fit in
// kMaxLibraryPath characters.
std::optional<std::wstring> LibraryPathFromProgramPath(std::wstring_view programPath,
                                                       std::wstring_view fileName);

}  // namespace korvane::cli
