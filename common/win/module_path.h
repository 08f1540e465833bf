// Paths of loaded modules and of files beside them.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace korvane::win {

// The folder part of a full file path, as the automation run time reports a program's folder:
// no trailing backslash, except for a drive's root folder ("C:\"), which keeps it.
std::wstring FolderOfPath(std::wstring_view filePath);

// A file in a folder: the folder, a backslash unless the folder already ends with one, the name.
std::wstring FileInFolder(std::wstring_view folder, std::wstring_view fileName);

// The full path of a loaded module (null: the running executable), however long; empty when the
// platform cannot tell it.
std::wstring ModulePath(HMODULE module = nullptr);

// `path` in full with long names, so that a short (8.3) or relative spelling of a file compares
// equal to its long one. Only for a file that exists: expanding a name that does not, with a
// component longer than a file name may be, has crashed Wine.
std::wstring FullLongPath(const std::wstring& path);
// The short (8.3) form of an existing path as the file system gives it; empty when it gives none.
std::wstring ShortPathOf(const std::wstring& path);

// The full path of the running executable, and its folder.
inline std::wstring RunningExecutablePath() { return ModulePath(nullptr); }
inline std::wstring RunningExecutableFolder() { return FolderOfPath(ModulePath(nullptr)); }

// Whether `path` names an existing file (not a folder), or an existing folder.
[[nodiscard]] bool IsFile(const std::wstring& path);
[[nodiscard]] bool IsFolder(const std::wstring& path);

}  // namespace korvane::win
