// quandrelsdk.dll: the engine as a library. One export, silent (no console output): the caller
// gets the result code only.
#include <windows.h>

#include <cstring>

#include "engine/engine.h"
#include "engine_api/quandrelsdk.h"

// The argument is read up to its terminating zero and never written, though the established
// signature declares it writable.
extern "C" int __stdcall KorvaneQuandrelConverter(char* commandLine) {
  if (commandLine == nullptr) return korvane::engine::kBadUsage;
  return korvane::engine::RunConversion(std::string_view(commandLine, std::strlen(commandLine)))
      .code;
}
