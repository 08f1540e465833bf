// The whole content of a file as bytes; empty when it cannot be opened.
#pragma once

#include <windows.h>

#include <string>

#include "common/win/unique_handle.h"

namespace korvane::win {

inline std::string ReadWholeFile(const std::wstring& path) {
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  if (!file) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
    bytes.append(buffer, got);
  return bytes;
}

}  // namespace korvane::win
