// The server's binding of the engine library: made by the first call that succeeds, shared by
// every object of the process, and kept (library loaded) until the process ends.
#pragma once

#include "automation_error.h"

namespace korvane::server {

inline constexpr wchar_t kEngineLibraryName[] = L"quandrelsdk.dll";
inline constexpr char kEngineExportName[] = "KorvaneQuandrelConverter";

using EngineConverter = int(__stdcall*)(char*);

// Hands out the bound entry point, binding first when nothing is bound yet: the library by its
// bare name (the loader's standard search, the server folder first), then the export. A failure
// binds nothing and is the run-time error the caller fails with: 53 when the library (or one it
// needs) is not found, 48 when it cannot be loaded, 453 when the export is missing.
MethodStatus BindEngineLibrary(EngineConverter* converter);

}  // namespace korvane::server
