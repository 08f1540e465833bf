#include "server/methods/engine_library.h"

#include <windows.h>

#include <string>

#include "common/win/library_load.h"
#include "common/win/module_path.h"
#include "server/methods/runtime_error.h"

namespace korvane::server::methods {

namespace {

// Process-wide slot. Only the server's one thread calls the methods that use it.
engine_api::ConverterFn g_engineConverter = nullptr;

bool IsNotFound(DWORD error) {
  switch (error) {
    case ERROR_MOD_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DLL_NOT_FOUND:
      return true;
    default:
      return false;
  }
}

}  // namespace

HRESULT BindEngineLibrary(engine_api::ConverterFn* converter) {
  *converter = nullptr;
  if (g_engineConverter == nullptr) {
    // Beside the server only (library_load.h): never the current folder or PATH.
    const std::wstring folder = win::RunningExecutableFolder();
    if (folder.empty()) return HresultOfRuntimeError(kErrFileNotFound);
    const std::wstring path = win::FileInFolder(folder, engine_api::kLibraryFileNameW);
    win::LoadedLibrary loaded = win::LoadLibraryAtPath(path);
    if (!loaded.module) {
      // A folder of that name is no library file either: not found, as /Check says.
      return HresultOfRuntimeError(
          IsNotFound(loaded.error) || win::IsFolder(path) ? kErrFileNotFound : kErrDllLoadFailed);
    }
    engine_api::ConverterFn entry = engine_api::FindConverter(loaded.module.get());
    // The library is released again; the next call binds anew.
    if (entry == nullptr) return HresultOfRuntimeError(kErrEntryPointNotFound);
    static_cast<void>(loaded.module.release());  // kept loaded for the life of the process
    g_engineConverter = entry;
  }
  *converter = g_engineConverter;
  return S_OK;
}

}  // namespace korvane::server::methods
