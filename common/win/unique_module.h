// Owning wrapper for a loaded library: released once.
#pragma once

#include <windows.h>

#include "common/win/unique_resource.h"

namespace korvane::win {

struct ModuleTraits {
  static HMODULE Empty() noexcept { return nullptr; }
  static bool IsValid(HMODULE h) noexcept { return h != nullptr; }
  static bool Close(HMODULE h) noexcept { return ::FreeLibrary(h) != FALSE; }
};

using UniqueModule = UniqueResource<HMODULE, ModuleTraits>;

}  // namespace korvane::win
