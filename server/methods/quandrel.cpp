#include "server/methods/quandrel.h"

#include <string>
#include <vector>

#include "common/win/ansi_text.h"
#include "server/methods/engine_library.h"

namespace korvane::server::methods {

MethodStatus Quandrel(std::optional<std::wstring_view> commandLine, LONG& result) {
  // The engine gets a writable private copy in the ANSI code page; what it writes there stays
  // here. The buffer has the size engines are built to expect (they may write anywhere inside it).
  // Text that the code page cannot carry exactly never reaches the engine; the error is one the
  // engine's own result codes cannot be mistaken for.
  std::vector<char> buffer;
  char* argument = nullptr;
  if (commandLine) {
    win::AnsiText ansi = win::ToAnsi(*commandLine);
    if (!ansi.ok()) return MethodStatus::RuntimeError(kErrInvalidCall, ansi.refused->Describe());
    buffer = engine_api::ArgumentBuffer(ansi.bytes);
    argument = buffer.data();
  }

  engine_api::ConverterFn convert = nullptr;
  const HRESULT bound = BindEngineLibrary(&convert);
  if (FAILED(bound)) {
    // The run time names the library, or the entry point and its library.
    const long number = RuntimeErrorNumberOf(bound);
    return MethodStatus::RuntimeError(
        number, number == kErrEntryPointNotFound ? std::wstring(engine_api::kConverterExportNameW) +
                                                       L" in " + engine_api::kLibraryFileNameW
                                                 : std::wstring(engine_api::kLibraryFileNameW));
  }

  // No messages are pumped: the engine holds the server's thread until it returns.
  result = convert(argument);
  return MethodStatus();
}

}  // namespace korvane::server::methods
