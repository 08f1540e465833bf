// Quandrel: the engine library's conversion export, called inside the server process.
#include <string>

#include "ansi_text.h"
#include "engine_library.h"
#include "quandrel_com.h"

namespace korvane::server {

MethodStatus QuandrelCom::QuandrelBody(LONG& result, const win::UniqueBstr& strCmdLine) {
  // The engine gets a writable private copy in the ANSI code page; what it writes there stays
  // here. A null string from the client reaches the engine as a null pointer.
  std::string commandLine;
  char* argument = nullptr;
  if (strCmdLine.get() != nullptr) {
    commandLine = ToAnsi(strCmdLine.view());
    argument = commandLine.data();
  }

  EngineConverter convert = nullptr;
  MethodStatus bound = BindEngineLibrary(&convert);
  if (!bound.ok()) return bound;

  // No messages are pumped: the engine holds the server's thread until it returns.
  result = convert(argument);
  return MethodStatus();
}

}  // namespace korvane::server
