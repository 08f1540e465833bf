// Owning wrapper for an open registry key. Predefined roots (HKEY_CURRENT_USER, ...) are never
// wrapped: they are not ours to close.
#pragma once

#include <windows.h>

#include "common/win/unique_resource.h"

namespace korvane::win {

struct HkeyTraits {
  static HKEY Empty() noexcept { return nullptr; }
  static bool IsValid(HKEY key) noexcept { return key != nullptr; }
  static bool Close(HKEY key) noexcept { return ::RegCloseKey(key) == ERROR_SUCCESS; }
};

using UniqueHkey = UniqueResource<HKEY, HkeyTraits>;

}  // namespace korvane::win
