#include "engine_binding.h"

#include <windows.h>

#include "library_path.h"
#include "quandrelsdk.h"
#include "win/unique_module.h"

namespace korvane::cli {

namespace {

// The program path is asked for with this limit; a longer one comes back cut at it.
constexpr DWORD kProgramPathLimit = 256;

}  // namespace

std::optional<std::string> LibraryPathBesideProgram(const char* fileName) {
  char programPath[kProgramPathLimit + 1] = {};
  DWORD length = ::GetModuleFileNameA(nullptr, programPath, kProgramPathLimit);
  // A result of the full limit means the path was cut (and may lack its terminator).
  if (length == 0 || length >= kProgramPathLimit) return std::nullopt;
  return LibraryPathFromProgramPath(std::string_view(programPath, length), fileName);
}

int RunEngine(char* commandLine) {
  if (commandLine == nullptr || commandLine[0] == '\0') return 0;
  std::optional<std::string> path = LibraryPathBesideProgram(engine_api::kLibraryFileName);
  if (!path) return 0;
  win::UniqueModule library(::LoadLibraryA(path->c_str()));
  if (!library) return 0;
  // The entry point lives only as long as the library: it is kept in this call, not beyond.
  engine_api::ConverterFn converter = engine_api::FindConverter(library.get());
  if (converter == nullptr) return 0;
  int result = converter(commandLine);
  library.reset();
  return result;
}

}  // namespace korvane::cli
