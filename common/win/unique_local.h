// Owning wrapper for memory that a system function allocated with LocalAlloc for its caller
// (security descriptors and their text form, for example).
#pragma once

#include <windows.h>

#include "common/win/unique_resource.h"

namespace korvane::win {

template <typename T>
struct LocalTraits {
  static T* Empty() noexcept { return nullptr; }
  static bool IsValid(T* memory) noexcept { return memory != nullptr; }
  static bool Close(T* memory) noexcept { return ::LocalFree(memory) == nullptr; }
};

template <typename T = void>
using UniqueLocal = UniqueResource<T*, LocalTraits<T>>;

}  // namespace korvane::win
