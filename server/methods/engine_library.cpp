#include "engine_library.h"

#include <windows.h>

#include "automation_error.h"
#include "win/unique_module.h"

namespace korvane::server {

namespace {

// Process-wide slot. Only the server's one thread calls the methods that use it.
HMODULE g_engineModule = nullptr;
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
    // No system dialog about a missing or broken library: the client gets the error instead.
    DWORD oldMode = 0;
    ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    win::UniqueModule module(::LoadLibraryW(engine_api::kLibraryFileNameW));
    DWORD error = ::GetLastError();
    ::SetThreadErrorMode(oldMode, nullptr);
    if (!module) {
      return HresultOfRuntimeError(IsNotFound(error) ? kErrFileNotFound : kErrDllLoadFailed);
    }
    engine_api::ConverterFn entry = engine_api::FindConverter(module.get());
    // The library is released again; the next call binds anew.
    if (entry == nullptr) return HresultOfRuntimeError(kErrEntryPointNotFound);
    g_engineModule = module.release();  // kept loaded for the life of the process
    g_engineConverter = entry;
  }
  *converter = g_engineConverter;
  return S_OK;
}

}  // namespace korvane::server
