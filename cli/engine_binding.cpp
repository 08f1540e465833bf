#include "cli/engine_binding.h"

#include <windows.h>

#include "cli/library_path.h"
#include "common/win/library_load.h"
#include "engine_api/quandrelsdk.h"

namespace korvane::cli {

namespace {

// The program path is asked for with this limit; a longer one comes back cut at it.
constexpr DWORD kProgramPathLimit = 256;

}  // namespace

std::optional<std::wstring> LibraryPathBesideProgram(const wchar_t* fileName) {
  // In wide characters: the ANSI code page may not spell the program's folder.
  wchar_t programPath[kProgramPathLimit + 1] = {};
  DWORD length = ::GetModuleFileNameW(nullptr, programPath, kProgramPathLimit);
  // A result of the full limit means the path was cut (and may lack its terminator).
  if (length == 0 || length >= kProgramPathLimit) return std::nullopt;
  return LibraryPathFromProgramPath(std::wstring_view(programPath, length), fileName);
}

int RunEngine(char* commandLine) {
  if (commandLine == nullptr || commandLine[0] == '\0') return 0;
  std::optional<std::wstring> path = LibraryPathBesideProgram(engine_api::kLibraryFileNameW);
  if (!path) return 0;
  win::LoadedLibrary library = win::LoadLibraryAtPath(*path);
  if (!library.module) return 0;
  // The entry point lives only as long as the library: it is kept in this call, not beyond.
  engine_api::ConverterFn converter = engine_api::FindConverter(library.module.get());
  if (converter == nullptr) return 0;
  int result = converter(commandLine);
  library.module.reset();
  return result;
}

}  // namespace korvane::cli
