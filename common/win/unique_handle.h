// Owning wrapper for a kernel handle.
#pragma once

#include <windows.h>

#include "common/win/unique_resource.h"

namespace korvane::win {

struct HandleTraits {
  static HANDLE Empty() noexcept { return nullptr; }
  // Kernel APIs use both NULL and INVALID_HANDLE_VALUE for "no handle".
  static bool IsValid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static bool Close(HANDLE h) noexcept { return ::CloseHandle(h) != FALSE; }
};

using UniqueHandle = UniqueResource<HANDLE, HandleTraits>;

}  // namespace korvane::win
