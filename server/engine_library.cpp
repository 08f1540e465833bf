#include "engine_library.h"

#include <windows.h>

#include "win/scoped_handle.h"

namespace korvane::server {

namespace {

// Process-wide slot. Only the server's one thread calls the methods that use it.
HMODULE g_engineModule = nullptr;
EngineConverter g_engineConverter = nullptr;

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

MethodStatus BindEngineLibrary(EngineConverter* converter) {
  if (g_engineConverter == nullptr) {
    // No system dialog about a missing or broken library: the client gets the error instead.
    DWORD oldMode = 0;
    ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    win::UniqueModule module(::LoadLibraryW(kEngineLibraryName));
    DWORD error = ::GetLastError();
    ::SetThreadErrorMode(oldMode, nullptr);
    if (!module) {
      return MethodStatus::RuntimeError(IsNotFound(error) ? kErrFileNotFound : kErrDllLoadFailed,
                                        kEngineLibraryName);
    }
    // Through void*: FARPROC and the entry point's type are unrelated function types.
    auto entry = reinterpret_cast<EngineConverter>(
        reinterpret_cast<void*>(::GetProcAddress(module.get(), kEngineExportName)));
    if (entry == nullptr) {
      // The library is released again; the next call binds anew.
      return MethodStatus::RuntimeError(kErrEntryPointNotFound,
                                        L"KorvaneQuandrelConverter in quandrelsdk.dll");
    }
    g_engineModule = module.release();  // kept loaded for the life of the process
    g_engineConverter = entry;
  }
  *converter = g_engineConverter;
  return MethodStatus();
}

}  // namespace korvane::server
