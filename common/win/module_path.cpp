#include "common/win/module_path.h"

#include <windows.h>

#include <vector>

namespace korvane::win {

std::wstring FolderOfPath(std::wstring_view filePath) {
  size_t slash = filePath.find_last_of(L'\\');
  if (slash == std::wstring_view::npos) return {};
  std::wstring folder(filePath.substr(0, slash));
  // "C:" alone would name the drive's current folder, not its root.
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
  return folder;
}

std::wstring FileInFolder(std::wstring_view folder, std::wstring_view fileName) {
  std::wstring path(folder);
  if (path.empty() || path.back() != L'\\') path += L'\\';
  path += fileName;
  return path;
}

std::wstring ModulePath(HMODULE module) {
  // Grows until the path fits: a path cut at the buffer's end would name another file.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD n = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring FullLongPath(const std::wstring& path) {
  if (path.empty()) return {};
  std::wstring full(::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
  if (full.empty()) return path;
  full.resize(
      ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
  std::wstring longPath(::GetLongPathNameW(full.c_str(), nullptr, 0), L'\0');
  if (longPath.empty()) return full;
  longPath.resize(
      ::GetLongPathNameW(full.c_str(), longPath.data(), static_cast<DWORD>(longPath.size())));
  return longPath.empty() ? full : longPath;
}

std::wstring ShortPathOf(const std::wstring& path) {
  std::wstring shortPath;
  DWORD size = ::GetShortPathNameW(path.c_str(), nullptr, 0);
  // The path may change between the calls; the size asked for again then.
  while (size > shortPath.size()) {
    shortPath.resize(size);
    size = ::GetShortPathNameW(path.c_str(), shortPath.data(), size);
  }
  shortPath.resize(size);
  return shortPath;
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace korvane::win
