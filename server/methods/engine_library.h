// The server's binding of the engine library: made by the first call that succeeds, shared by
// every object of the process, and kept (library loaded) until the process ends.
#pragma once

#include <windows.h>

#include "engine_api/quandrelsdk.h"

namespace korvane::server::methods {

// Hands out the bound entry point, binding first when nothing is bound yet: the library in the
// server's folder (what it needs from there and the system folder), then the export. A failure
// binds nothing and returns the run-time error the caller fails with (runtime_error.h): 53
// when the library (or one it needs) is not found, 48 when it cannot be loaded, 453 when the
// export is missing.
[[nodiscard]] HRESULT BindEngineLibrary(engine_api::ConverterFn* converter);

}  // namespace korvane::server::methods
