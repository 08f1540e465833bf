// How many handles a process holds, read from the system's handle list: Wine's
// GetProcessHandleCount always answers 0, the list (SystemHandleInformation) is kept there too.
#pragma once

#include <windows.h>

#include <winternl.h>

#include <cstddef>
#include <vector>

namespace korvane::test {

// 0 when the list cannot be read.
inline size_t HandleCountOf(DWORD processId) {
  struct Entry {
    ULONG processId;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    void* object;
    ACCESS_MASK access;
  };
  struct List {
    ULONG count;
    Entry entries[1];
  };
  using Query = NTSTATUS(NTAPI*)(ULONG, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return 0;
  constexpr ULONG kSystemHandleInformation = 16;
  constexpr NTSTATUS kLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
  std::vector<char> buffer(1 << 20);
  NTSTATUS status;
  while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                         nullptr)) == kLengthMismatch)
    buffer.resize(buffer.size() * 2);
  if (status != 0) return 0;
  const auto* list = reinterpret_cast<const List*>(buffer.data());
  size_t count = 0;
  // Windows keeps only the low 16 bits of the process id in this list.
  for (ULONG i = 0; i < list->count; ++i)
    if ((list->entries[i].processId & 0xFFFF) == (processId & 0xFFFF)) ++count;
  return count;
}

}  // namespace korvane::test
