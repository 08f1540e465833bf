// The least a program can do to reach the engine: join its arguments as quandrelcmd does, bind
// quandrelsdk.dll beside itself, call the export once. The baseline for bench_cli.
#include <windows.h>

#include <string>

#include "common/win/unique_module.h"
#include "engine_api/quandrelsdk.h"

int main(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) (line += '"').append(argv[i]) += "\" ";
  char self[MAX_PATH];
  DWORD n = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  std::string path(self, n);
  path = path.substr(0, path.find_last_of("\\/") + 1) + korvane::engine_api::kLibraryFileName;
  korvane::win::UniqueModule library(::LoadLibraryA(path.c_str()));
  if (!library) return 2;
  korvane::engine_api::ConverterFn convert = korvane::engine_api::FindConverter(library.get());
  if (convert == nullptr) return 3;
  return convert(line.data());
}
