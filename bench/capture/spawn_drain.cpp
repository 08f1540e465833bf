// The console-less floor of RunCmd2: a GUI-subsystem program (no console, like the server that
// COM starts) that spawns a child the way RunCmd2 does (inheritable pipe for standard output
// and error, STARTF_USESTDHANDLES, hidden window, normal priority, every inheritable handle
// passed on) and drains the pipe with reads of a given size into one growing buffer (any
// capture keeps the bytes), nothing else.
//   bench_spawn_drain.exe <runs> <read size> <child command line...>
// Writes a line "<seconds> <bytes> <console>" per run to the standard output handle it was
// given: the time from just before the spawn to the child's end with the pipe drained, the
// bytes drained, and 1 if this program has a console of its own (it should not), else 0. The
// first run also pays for what a process sets up on its first spawn; the server has long done
// that when it serves a call, so the later runs are the floor.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "win/unique_handle.h"

namespace {

using korvane::win::UniqueHandle;

double Now() {
  LARGE_INTEGER frequency, now;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

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

// One spawn and drain; the seconds it took, the bytes drained into `bytes`.
double SpawnAndDrain(std::string child, DWORD readSize, std::string& bytes) {
  double start = Now();
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  UniqueHandle readEnd, writeEnd;
  if (!::CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0)) return -1;
  ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  startup.hStdOutput = startup.hStdError = writeEnd.get();
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, child.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &info))
    return -1;
  UniqueHandle process(info.hProcess), thread(info.hThread);
  writeEnd.reset();
  std::vector<char> buffer(readSize);
  std::string().swap(bytes);  // every run grows its buffer from nothing, as RunCmd2 does
  DWORD got = 0;
  while (::ReadFile(readEnd.get(), buffer.data(), readSize, &got, nullptr))
    bytes.append(buffer.data(), got);
  ::WaitForSingleObject(process.get(), INFINITE);
  return Now() - start;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (__argc < 4) return 2;
  const int runs = std::atoi(__argv[1]);
  const DWORD readSize = static_cast<DWORD>(std::strtoul(__argv[2], nullptr, 10));
  const std::string child = ChildCommandLine(::GetCommandLineA());
  if (runs <= 0 || readSize == 0 || child.empty()) return 2;
  const int console = ::GetConsoleWindow() != nullptr || ::GetConsoleCP() != 0 ? 1 : 0;
  std::string bytes, report;
  for (int run = 0; run < runs; ++run) {
    double seconds = SpawnAndDrain(child, readSize, bytes);
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
