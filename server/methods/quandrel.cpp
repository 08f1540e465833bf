#include "methods/quandrel.h"

#include <string>
#include <vector>

#include "methods/engine_library.h"
#include "win/ansi_text.h"

namespace korvane::server::methods {

MethodStatus Quandrel(std::optional<std::wstring_view> commandLine, LONG& result) {
  // The engine gets a writable private copy in the ANSI code page; what it writes there stays
  // here. The buffer has the size engines are built to expect (they may write anywhere inside it).
  std::vector<char> buffer;
  char* argument = nullptr;
  if (commandLine) {
    buffer = engine_api::ArgumentBuffer(win::ToAnsi(*commandLine));
    argument = buffer.data();
  }

  engine_api::ConverterFn convert = nullptr;
  const HRESULT bound = BindEngineLibrary(&convert);
  if (FAILED(bound)) {
    // The run time names the library, or the entry point and its library.
    const long number = RuntimeErrorNumberOf(bound);
    return MethodStatus::RuntimeError(
        number, number == kErrEntryPointNotFound
                    ? std::wstring(L"KorvaneQuandrelConverter in ") + engine_api::kLibraryFileNameW
                    : std::wstring(engine_api::kLibraryFileNameW));
  }

  // No messages are pumped: the engine holds the server's thread until it returns.
  result = convert(argument);
  return MethodStatus();
}

}  // namespace korvane::server::methods
