#include "common/win/library_load.h"

namespace korvane::win {

// The library is named by its full path, so the loader looks nowhere else for it. The
// LOAD_LIBRARY_SEARCH flags keep the current folder and PATH out of the search for the libraries
// it needs as well. Windows 7 without its loader update does not know those flags; there
// LOAD_WITH_ALTERED_SEARCH_PATH still takes the library from its path and looks in its folder
// first for what it needs. Whether the flags are known is told by the presence of
// AddDllDirectory, as the loader's documentation advises, not by retrying after
// ERROR_INVALID_PARAMETER: a path that is not fully qualified gives that error too, and the
// retry would then search PATH for it.
DependencySearch AvailableDependencySearch() noexcept {
  HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  return kernel32 != nullptr && ::GetProcAddress(kernel32, "AddDllDirectory") != nullptr
             ? DependencySearch::kSafeFolders
             : DependencySearch::kAlteredSearchPath;
}

DWORD DependencySearchFlags(DependencySearch search) noexcept {
  return search == DependencySearch::kSafeFolders
             ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
             : LOAD_WITH_ALTERED_SEARCH_PATH;
}

LoadedLibrary LoadLibraryAtPath(const std::wstring& fullPath, DependencySearch search) noexcept {
  const DWORD flags = DependencySearchFlags(search);
  // A missing or broken library is the caller's error to report, never a system dialog.
  DWORD oldMode = 0;
  ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
  LoadedLibrary loaded;
  loaded.module.reset(::LoadLibraryExW(fullPath.c_str(), nullptr, flags));
  loaded.error = loaded.module ? ERROR_SUCCESS : ::GetLastError();
  ::SetThreadErrorMode(oldMode, nullptr);
  return loaded;
}

}  // namespace korvane::win
