#include "engine_binding.h"

#include <windows.h>

#include "library_path.h"
#include "win/scoped_handle.h"

namespace korvane::cli {

namespace {

// The program path is asked for with this limit; a longer one comes back cut at it.
constexpr DWORD kProgramPathLimit = 256;

using ConverterFn = int(__stdcall*)(char*);

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
  std::optional<std::string> path = LibraryPathBesideProgram("quandrelsdk.dll");
  if (!path) return 0;
  win::UniqueModule library(::LoadLibraryA(path->c_str()));
  if (!library) return 0;
  // The entry point lives only as long as the library: it is kept in this call, not beyond.
  FARPROC export_ = ::GetProcAddress(library.get(), "KorvaneQuandrelConverter");
  if (export_ == nullptr) return 0;
  // Through void(*)(), the generic function pointer type, to the export's real signature.
  auto converter = reinterpret_cast<ConverterFn>(reinterpret_cast<void (*)()>(export_));
  int result = converter(commandLine);
  library.reset();
  return result;
}

}  // namespace korvane::cli
