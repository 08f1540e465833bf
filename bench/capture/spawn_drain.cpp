// The console-less floor of RunCmd2: a GUI-subsystem program (no console, like the server that
// COM starts) that spawns a child the way RunCmd2 does (inheritable pipe for standard output
// and error, STARTF_USESTDHANDLES, hidden window, normal priority, every inheritable handle
// passed on) and drains the pipe with reads of a given size into one growing buffer (any
// capture keeps the bytes), nothing else.
//   bench_spawn_drain.exe <read size> <child command line...>
// Writes "<seconds> <bytes> <console>" to the standard output handle it was given: the time
// from just before the spawn to the child's end with the pipe drained, the bytes drained, and
// 1 if this program has a console of its own (it should not), else 0.
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

// The command line after the first two words (program and read size), as given.
std::string ChildCommandLine(const char* line) {
  int words = 0;
  bool quoted = false;
  for (; *line != '\0'; ++line) {
    if (*line == '"') quoted = !quoted;
    if (!quoted && (*line == ' ' || *line == '\t')) {
      while (line[1] == ' ' || line[1] == '\t') ++line;
      if (++words == 2) return line + 1;
    }
  }
  return {};
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const char* line = ::GetCommandLineA();
  std::string child = ChildCommandLine(line);
  DWORD readSize = static_cast<DWORD>(std::strtoul(__argv[1], nullptr, 10));
  if (__argc < 3 || readSize == 0 || child.empty()) return 2;

  double start = Now();
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  UniqueHandle readEnd, writeEnd;
  if (!::CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0)) return 3;
  ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  startup.hStdOutput = startup.hStdError = writeEnd.get();
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, child.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &info))
    return 4;
  UniqueHandle process(info.hProcess), thread(info.hThread);
  writeEnd.reset();
  std::vector<char> buffer(readSize);
  std::string bytes;
  DWORD got = 0;
  while (::ReadFile(readEnd.get(), buffer.data(), readSize, &got, nullptr))
    bytes.append(buffer.data(), got);
  ::WaitForSingleObject(process.get(), INFINITE);
  double seconds = Now() - start;

  char report[96];
  int length = std::snprintf(report, sizeof report, "%.6f %llu %d\n", seconds,
                             static_cast<unsigned long long>(bytes.size()),
                             ::GetConsoleWindow() != nullptr || ::GetConsoleCP() != 0 ? 1 : 0);
  DWORD wrote = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), report, static_cast<DWORD>(length), &wrote,
              nullptr);
  return 0;
}
