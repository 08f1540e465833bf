// Helpers the benchmarks share (beyond files_and_processes.h and server_install.h, which the
// tests use too): a clock, the bare drain and the timed RunCmd2 call, the wait for a server to
// end, and the host (Linux) side of a Wine process.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "common/win/file_bytes.h"
#include "common/win/unique_bstr.h"
#include "common/win/unique_handle.h"
#include "testing/support/files_and_processes.h"
#include "testing/support/main_thread.h"

namespace korvane::bench {

using test::AsciiLower;
using test::ProcessIdsOf;
using test::WindowsPathOf;

// Seconds on the performance counter.
inline double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The floor under RunCmd2's capture, in this process: the child spawned as RunCmd2 spawns it
// (inheritable pipe for standard output and error, STARTF_USESTDHANDLES, hidden window, normal
// priority, every inheritable handle passed on), its pipe read with `readSize` into one growing
// buffer, nothing else. The seconds from just before the spawn to the child's end with the pipe
// drained; -1 when the pipe or the child could not be made.
inline double BareDrainSeconds(const std::wstring& commandLine, DWORD readSize,
                               std::string* bytes) {
  double start = Now();
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  win::UniqueHandle readEnd, writeEnd;
  if (!::CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0)) return -1;
  ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdOutput = startup.hStdError = writeEnd.get();
  std::string line(commandLine.begin(), commandLine.end());
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &info))
    return -1;
  win::UniqueHandle process(info.hProcess), thread(info.hThread);
  writeEnd.reset();
  std::string().swap(*bytes);  // every run grows its buffer from nothing, as RunCmd2 does
  std::vector<char> buffer(readSize);
  DWORD read = 0;
  while (::ReadFile(readEnd.get(), buffer.data(), readSize, &read, nullptr))
    bytes->append(buffer.data(), read);
  ::WaitForSingleObject(process.get(), INFINITE);
  return Now() - start;
}

// One RunCmd2 call through `object` (the server's interface): its seconds, and the length of
// its result in `chars` (0 when it failed).
template <typename Server>
inline double RunCmd2Seconds(Server* object, const std::wstring& commandLine, size_t* chars) {
  win::UniqueBstr line(commandLine);
  win::UniqueBstr text;
  double start = Now();
  HRESULT hr = object->RunCmd2(line.get(), 0, text.put());
  double seconds = Now() - start;
  *chars = SUCCEEDED(hr) ? text.length() : 0;
  return seconds;
}

// Waits for the server processes of `exe` to end on their own (after their last object is
// released); one still running after that is asked to quit through its main thread. Never
// killed: under Wine a killed server stays registered with the RPC service.
inline void AwaitServersEnded(const std::wstring& exe) {
  for (DWORD id : ProcessIdsOf(exe)) {
    win::UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, id));
    if (!process || ::WaitForSingleObject(process.get(), 8000) == WAIT_OBJECT_0) continue;
    ::PostThreadMessageW(win::MainThreadOf(id), WM_QUIT, 0, 0);
    if (::WaitForSingleObject(process.get(), 10000) != WAIT_OBJECT_0)
      std::printf("note: %ls (pid %lu) did not end\n", exe.c_str(), id);
  }
}

// The host (Linux) process of a Wine process, found in the host's /proc (reached through drive
// Z:) by its command line, which names the executable (by its Windows path, or by its host path
// when started from the host, as the benchmarks are), and by its name, which Wine sets
// to the executable's file name (cut to 15 characters). Its status file gives RssAnon (private
// resident memory) and VmHWM. /proc/self would not do: the wineserver opens files for Wine
// processes, so it would name the wineserver.
class HostProcess {
 public:
  explicit HostProcess(const std::wstring& windowsExe) {
    std::string wanted = AsciiLower(std::string(windowsExe.begin(), windowsExe.end()));
    std::string name = wanted.substr(wanted.find_last_of("\\/") + 1).substr(0, 15);
    std::string hostPath;  // of a file on drive Z:, the host's root
    if (wanted.compare(0, 3, "z:\\") == 0) {
      hostPath = wanted.substr(2);
      std::replace(hostPath.begin(), hostPath.end(), '\\', '/');
    }
    WIN32_FIND_DATAW entry;
    HANDLE find = ::FindFirstFileW(L"Z:\\proc\\*", &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
      std::wstring pid = entry.cFileName;
      if (pid.empty() || pid.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
      std::string line = AsciiLower(win::ReadWholeFile(L"Z:\\proc\\" + pid + L"\\cmdline"));
      if (line.find(wanted) == std::string::npos &&
          (hostPath.empty() || line.find(hostPath) == std::string::npos))
        continue;
      std::string status = AsciiLower(win::ReadWholeFile(L"Z:\\proc\\" + pid + L"\\status"));
      if (status.compare(0, 6 + name.size(), "name:\t" + name) != 0) continue;
      pid_ = pid;
      break;
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
  }
  static HostProcess Self() {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    return HostProcess(self);
  }
  bool found() const { return !pid_.empty(); }
  const std::wstring& pid() const { return pid_; }
  // A field of /proc/<pid>/status in bytes (the file gives kB); 0 when absent.
  double StatusBytes(const char* field) const {
    std::string status = win::ReadWholeFile(L"Z:\\proc\\" + pid_ + L"\\status");
    size_t at = status.find(std::string(field) + ":");
    if (at == std::string::npos) return 0;
    return std::atof(status.c_str() + at + std::char_traits<char>::length(field) + 1) * 1024;
  }

  // User plus system time in seconds, from /proc/<pid>/stat (clock ticks of 1/100 s): Wine
  // reports no CPU time through GetProcessTimes for other processes.
  double CpuSeconds() const {
    std::string stat = win::ReadWholeFile(L"Z:\\proc\\" + pid_ + L"\\stat");
    size_t at = stat.rfind(')');
    if (at == std::string::npos) return 0;
    // After the name: state is field 3, utime 14, stime 15.
    std::istringstream fields(stat.substr(at + 1));
    std::string skipped;
    for (int field = 3; field < 14; ++field) fields >> skipped;
    double user = 0, system = 0;
    if (!(fields >> user >> system)) return 0;
    return (user + system) / 100.0;
  }

 private:
  std::wstring pid_;
};

}  // namespace korvane::bench
