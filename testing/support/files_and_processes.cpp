#include "testing/support/files_and_processes.h"

#include <tlhelp32.h>

#include "common/win/ansi_text.h"
#include "common/win/unique_handle.h"

namespace korvane::test {

std::wstring WindowsPathOf(std::string_view unixPath) {
  std::wstring path = L"Z:" + win::FromAnsi(unixPath, CP_UTF8);
  for (auto& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

void DeleteTree(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = path + L"\\" + name;
      ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        DeleteTree(child);
      else
        ::DeleteFileW(child.c_str());
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
  }
  ::RemoveDirectoryW(path.c_str());
}

bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<DWORD> ProcessIdsOf(const std::wstring& imageNameOrPath) {
  const size_t slash = imageNameOrPath.find_last_of(L'\\');
  const bool fullPath = slash != std::wstring::npos;
  const wchar_t* image = imageNameOrPath.c_str() + (fullPath ? slash + 1 : 0);
  std::vector<DWORD> ids;
  win::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (::lstrcmpiW(entry.szExeFile, image) != 0) continue;
    if (fullPath) {
      win::UniqueHandle process(
          ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
      wchar_t path[MAX_PATH];
      DWORD size = MAX_PATH;
      if (!process || !::QueryFullProcessImageNameW(process.get(), 0, path, &size) ||
          ::lstrcmpiW(path, imageNameOrPath.c_str()) != 0)
        continue;
    }
    ids.push_back(entry.th32ProcessID);
  }
  return ids;
}

}  // namespace korvane::test
