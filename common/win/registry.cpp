#include "common/win/registry.h"

#include "common/win/unique_hkey.h"

namespace korvane::win {

bool SameText(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::optional<std::wstring> ReadText(HKEY key, const wchar_t* name) {
  // The value may grow between the two calls; a second try takes the new size.
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD bytes = 0;
    if (::RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
        ERROR_SUCCESS)
      return std::nullopt;
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    const LONG status =
        ::RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, value.data(), &bytes);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) return std::nullopt;
    value.resize(::lstrlenW(value.c_str()));
    return value;
  }
  return std::nullopt;
}

std::optional<std::wstring> ReadText(HKEY root, const std::wstring& path, const wchar_t* name,
                                     REGSAM view) {
  UniqueHkey key;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS)
    return std::nullopt;
  return ReadText(key.get(), name);
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
  UniqueHkey key;
  return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

bool IsSixtyFourBitWindows() {
  if (sizeof(void*) == 8) return true;
  BOOL wow64 = FALSE;
  return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace korvane::win
