// Quandrel: the engine library's conversion export, called inside the server process.
#include <string>
#include <vector>

#include "engine_library.h"
#include "quandrel_com.h"
#include "win/ansi_text.h"

namespace korvane::server {

MethodStatus QuandrelCom::QuandrelBody(LONG& result, const win::UniqueBstr& strCmdLine) {
  // The engine gets a writable private copy in the ANSI code page; what it writes there stays
  // here. A null string from the client reaches the engine as a null pointer.
  // The buffer has the size engines are built to expect (they may write anywhere inside it).
  std::vector<char> commandLine;
  char* argument = nullptr;
  if (strCmdLine.get() != nullptr) {
    commandLine = engine_api::ArgumentBuffer(win::ToAnsi(strCmdLine.view()));
    argument = commandLine.data();
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

}  // namespace korvane::server
