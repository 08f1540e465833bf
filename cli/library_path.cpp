#include "cli/library_path.h"

namespace korvane::cli {

std::optional<std::wstring> LibraryPathFromProgramPath(std::wstring_view programPath,
                                                       std::wstring_view fileName) {
  std::wstring_view drive;
  std::wstring_view rest = programPath;
  if (rest.size() >= 2 && rest[1] == L':' &&
      ((rest[0] >= L'A' && rest[0] <= L'Z') || (rest[0] >= L'a' && rest[0] <= L'z'))) {
    drive = rest.substr(0, 2);
    rest.remove_prefix(2);
  }
  size_t lastSeparator = rest.find_last_of(L"\\/");
  std::wstring_view directory = lastSeparator == std::wstring_view::npos
                                    ? std::wstring_view()
                                    : rest.substr(0, lastSeparator + 1);

  std::wstring path;
  path.reserve(drive.size() + directory.size() + fileName.size());
  path += drive;
  path += directory;
  path += fileName;
  if (path.size() + 1 > kMaxLibraryPath) return std::nullopt;
  return path;
}

}  // namespace korvane::cli
