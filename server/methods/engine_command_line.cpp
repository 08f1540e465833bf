#include "server/methods/engine_command_line.h"

#include <windows.h>

#include "common/win/module_path.h"
#include "engine_api/quandrelsdk.h"

namespace korvane::server::methods {

std::wstring EngineExecutablePath(std::wstring_view serverFolder) {
  return win::FileInFolder(serverFolder, engine_api::kExecutableFileNameW);
}

std::wstring EngineCommandLine(std::wstring_view enginePath, std::wstring_view clientText) {
  std::wstring line;
  line.reserve(enginePath.size() + clientText.size() + 3);
  line += L'"';
  line += enginePath;
  line += L"\" ";
  line += clientText;
  return line;
}

std::wstring EngineNotFoundMessage(std::wstring_view enginePath) {
  return std::wstring(enginePath) + L" file is not exist.";
}

int64_t FileLengthOrMinusOne(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  // A folder of that name is no engine file either.
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace korvane::server::methods
