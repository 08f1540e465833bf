// Where the server's own files are: the folder of the running executable, and files in it.
#pragma once

#include <string>
#include <string_view>

namespace korvane::server {

// The folder part of a full file path, as the automation run time reports a program's folder:
// no trailing backslash, except for a drive's root folder ("C:\"), which keeps it.
std::wstring FolderOfPath(std::wstring_view filePath);

// A file in a folder: the folder, a backslash unless the folder already ends with one, the name.
std::wstring FileInFolder(std::wstring_view folder, std::wstring_view fileName);

// The full path of the running executable.
std::wstring RunningExecutablePath();

// The folder that holds the running executable.
std::wstring ServerFolder();

}  // namespace korvane::server
