// Start-up cost of quandrelcmd: launches it (start, bind, one engine call, exit) against the
// bare baseline bench_direct_call doing the same conversion, and prints the medians.
//   bench_cli.exe [runs]   (default 50 of each)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/win/unique_handle.h"

namespace {

using korvane::win::UniqueHandle;

std::string WindowsPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

bool Copy(const std::string& from, const std::string& to) {
  if (::CopyFileA(from.c_str(), to.c_str(), FALSE)) return true;
  std::fprintf(stderr, "bench_cli: cannot copy %s (error %lu)\n", from.c_str(), ::GetLastError());
  return false;
}

// Milliseconds from CreateProcess to the child's end, or a negative value on failure.
double TimeRun(const std::string& commandLine, const std::string& folder, HANDLE nul) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = nul;
  si.hStdOutput = nul;
  si.hStdError = nul;
  PROCESS_INFORMATION pi{};
  std::string line = commandLine;
  LARGE_INTEGER start, end, frequency;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(),
                        &si, &pi)) {
    std::fprintf(stderr, "bench_cli: cannot start %s (error %lu)\n", line.c_str(),
                 ::GetLastError());
    return -1;
  }
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  ::WaitForSingleObject(process.get(), INFINITE);
  ::QueryPerformanceCounter(&end);
  DWORD code = 1;
  ::GetExitCodeProcess(process.get(), &code);
  if (code != 0) {
    std::fprintf(stderr, "bench_cli: %s exited with %ld\n", line.c_str(), static_cast<long>(code));
    return -1;
  }
  return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 50;
  if (runs < 1) runs = 50;

  char temp[MAX_PATH];
  ::GetTempPathA(MAX_PATH, temp);
  std::string folder = std::string(temp) + "bench_cli-" + std::to_string(::GetCurrentProcessId());
  if (!::CreateDirectoryA(folder.c_str(), nullptr)) {
    std::fprintf(stderr, "bench_cli: cannot create %s\n", folder.c_str());
    return 1;
  }
  const std::string files[] = {"quandrelcmd.exe", "bench_direct_call.exe", "quandrelsdk.dll",
                               "sample.txt", "sample.html"};
  if (!Copy(WindowsPath(KORVANE_QUANDRELCMD), folder + "\\quandrelcmd.exe") ||
      !Copy(WindowsPath(KORVANE_DIRECT_CALL), folder + "\\bench_direct_call.exe") ||
      !Copy(WindowsPath(KORVANE_ENGINE_SDK), folder + "\\quandrelsdk.dll") ||
      !Copy(WindowsPath(KORVANE_SAMPLE), folder + "\\sample.txt"))
    return 1;

  UniqueHandle nul(
      ::CreateFileA("NUL", GENERIC_WRITE | GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ::SetHandleInformation(nul.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  const std::string args = " sample.txt sample.html";
  const std::string cmd = "\"" + folder + "\\quandrelcmd.exe\"" + args;
  const std::string direct = "\"" + folder + "\\bench_direct_call.exe\"" + args;

  std::vector<double> viaCmd, viaDirect;
  bool ok = true;
  for (int i = -3; i < runs && ok; ++i) {  // three warm-up rounds are not counted
    double a = TimeRun(cmd, folder, nul.get());
    double b = TimeRun(direct, folder, nul.get());
    ok = a >= 0 && b >= 0;
    if (ok && i >= 0) {
      viaCmd.push_back(a);
      viaDirect.push_back(b);
    }
  }
  for (const std::string& file : files) ::DeleteFileA((folder + "\\" + file).c_str());
  ::RemoveDirectoryA(folder.c_str());
  if (!ok) return 1;

  double medianCmd = Median(viaCmd), medianDirect = Median(viaDirect);
  std::printf("runs each:                  %d\n", runs);
  std::printf("quandrelcmd median:         %.2f ms\n", medianCmd);
  std::printf("direct call median:         %.2f ms\n", medianDirect);
  std::printf("ratio quandrelcmd / direct: %.3f\n", medianCmd / medianDirect);
  return 0;
}
