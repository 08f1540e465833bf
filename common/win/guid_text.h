// A GUID in the registry's form, "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
#pragma once

#include <objbase.h>

#include <string>

namespace korvane::win {

inline std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  ::StringFromGUID2(guid, text, 40);
  return text;
}

}  // namespace korvane::win
