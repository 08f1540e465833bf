// Loading a library from a known place: the library from its full path alone, and the libraries
// it needs from its own folder and the system's, never from the current folder or PATH.
#pragma once

#include <windows.h>

#include <string>

#include "common/win/unique_module.h"

namespace korvane::win {

// Where the loader looks for the libraries that a loaded library needs.
enum class DependencySearch {
  // The library's own folder, the program's folder and the system folder.
  kSafeFolders,
  // The library's own folder first, then the loader's standard order.
  kAlteredSearchPath,
};

// kSafeFolders where the loader offers it, else kAlteredSearchPath.
[[nodiscard]] DependencySearch AvailableDependencySearch() noexcept;

// The flags that LoadLibraryAtPath hands the loader for `search`.
[[nodiscard]] DWORD DependencySearchFlags(DependencySearch search) noexcept;

// A loaded library, or the loader's error when it could not be loaded.
struct LoadedLibrary {
  UniqueModule module;
  DWORD error = ERROR_SUCCESS;
};

// Loads the library at `fullPath`, which must be fully qualified, with no system error dialog.
[[nodiscard]] LoadedLibrary LoadLibraryAtPath(
    const std::wstring& fullPath, DependencySearch search = AvailableDependencySearch()) noexcept;

}  // namespace korvane::win
