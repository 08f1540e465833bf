// What the tests and the benchmarks both need of the machine they run on: Windows paths of the
// Linux build tree, deleting a folder, and finding the processes of an executable. No test
// framework: failures come back as values.
#pragma once

#include <windows.h>

#include <cctype>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::test {

// A Windows path for a file of the Linux build tree (Wine maps / to drive Z:); UTF-8 in.
std::wstring WindowsPathOf(std::string_view unixPath);

// Deletes a folder and everything below it, as far as it can.
void DeleteTree(const std::wstring& path);
bool FileExists(const std::wstring& path);

// Windows process ids of the running processes whose image is named `imageName`
// ("QuandrelCom.exe"), or, given a full path, of exactly that executable.
std::vector<DWORD> ProcessIdsOf(const std::wstring& imageNameOrPath);

inline std::string AsciiLower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace korvane::test
