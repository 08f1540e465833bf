// Helpers the benchmarks share: paths of the build tree, a clock, starting programs, finding the
// processes of one executable.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "win/unique_handle.h"

namespace korvane::bench {

// A Windows path for a file of the Linux build tree (Wine maps / to drive Z:).
inline std::wstring WindowsPathOf(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* c = unixPath; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
  return path;
}

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

// Runs a program to its end: its exit code, or the error that kept it from starting.
inline DWORD RunAndWait(std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
    return ::GetLastError();
  win::UniqueHandle process(info.hProcess), thread(info.hThread);
  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 1;
  ::GetExitCodeProcess(process.get(), &code);
  return code;
}

// Windows process ids of running processes of exactly this executable (its full path).
inline std::vector<DWORD> ProcessIdsOf(const std::wstring& exe) {
  const wchar_t* image = exe.c_str() + exe.find_last_of(L'\\') + 1;
  std::vector<DWORD> ids;
  win::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (::lstrcmpiW(entry.szExeFile, image) != 0) continue;
    win::UniqueHandle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    wchar_t path[MAX_PATH];
    DWORD size = MAX_PATH;
    if (process && ::QueryFullProcessImageNameW(process.get(), 0, path, &size) &&
        ::lstrcmpiW(path, exe.c_str()) == 0)
      ids.push_back(entry.th32ProcessID);
  }
  return ids;
}

}  // namespace korvane::bench
