// Quandrel: the engine library's conversion export, called inside the server process.
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>

#include "server/methods/runtime_error.h"

namespace korvane::server::methods {

// `result` is what the export returned. No command line (a null string from the client) reaches
// the engine as a null pointer. A library that cannot be bound is run-time error 53, 48 or 453.
[[nodiscard]] MethodStatus Quandrel(std::optional<std::wstring_view> commandLine, LONG& result);

}  // namespace korvane::server::methods
