// The console-less floor of RunCmd2: a GUI-subsystem program (no console, like the server that
// COM starts) that runs BareDrainSeconds (bench/bench_support.h).
//   bench_spawn_drain.exe <runs> <read size> <child command line...>
// Writes a line "<seconds> <bytes> <console>" per run to the standard output handle it was
// given: the drain's seconds and bytes, and 1 if this program has a console of its own (it
// should not), else 0. The first run also pays for what a process sets up on its first spawn;
// the server has long done that when it serves a call, so the later runs are the floor.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_support.h"

namespace {

// The command line after the first three words (program, runs, read size), as given.
std::string ChildCommandLine(const char* line) {
  int words = 0;
  bool quoted = false;
  for (; *line != '\0'; ++line) {
    if (*line == '"') quoted = !quoted;
    if (!quoted && (*line == ' ' || *line == '\t')) {
      while (line[1] == ' ' || line[1] == '\t') ++line;
      if (++words == 3) return line + 1;
    }
  }
  return {};
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (__argc < 4) return 2;
  const int runs = std::atoi(__argv[1]);
  const DWORD readSize = static_cast<DWORD>(std::strtoul(__argv[2], nullptr, 10));
  const std::string narrow = ChildCommandLine(::GetCommandLineA());
  const std::wstring child(narrow.begin(), narrow.end());  // back to the same bytes inside
  if (runs <= 0 || readSize == 0 || child.empty()) return 2;
  const int console = ::GetConsoleWindow() != nullptr || ::GetConsoleCP() != 0 ? 1 : 0;
  std::string bytes, report;
  for (int run = 0; run < runs; ++run) {
    double seconds = korvane::bench::BareDrainSeconds(child, readSize, &bytes);
    char line[96];
    std::snprintf(line, sizeof line, "%.6f %llu %d\n", seconds,
                  static_cast<unsigned long long>(bytes.size()), console);
    report += line;
  }
  DWORD wrote = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), report.data(), static_cast<DWORD>(report.size()),
              &wrote, nullptr);
  return 0;
}
