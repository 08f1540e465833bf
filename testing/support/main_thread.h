// The thread that runs a process's message loop, taken to be its first thread: how another
// process asks a server to quit (WM_QUIT to that thread) instead of killing it.
#pragma once

#include <windows.h>

#include <tlhelp32.h>

#include "common/win/unique_handle.h"

namespace korvane::win {

// 0 when the process has no thread that can be read.
inline DWORD MainThreadOf(DWORD processId) {
  UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return 0;
  DWORD main = 0;
  ULONGLONG earliest = ~0ull;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Thread32First(snapshot.get(), &entry); more;
       more = ::Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID != processId) continue;
    UniqueHandle thread(::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID));
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!thread || !::GetThreadTimes(thread.get(), &created, &exited, &kernel, &user)) continue;
    ULONGLONG time = (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    if (time < earliest) {
      earliest = time;
      main = entry.th32ThreadID;
    }
  }
  return main;
}

}  // namespace korvane::win
