#include "library_path.h"

namespace korvane::cli {

std::optional<std::string> LibraryPathFromProgramPath(std::string_view programPath,
                                                      std::string_view fileName) {
  std::string_view drive;
  std::string_view rest = programPath;
  if (rest.size() >= 2 && rest[1] == ':' &&
      ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z'))) {
    drive = rest.substr(0, 2);
    rest.remove_prefix(2);
  }
  size_t lastSeparator = rest.find_last_of("\\/");
  std::string_view directory = lastSeparator == std::string_view::npos
                                   ? std::string_view()
                                   : rest.substr(0, lastSeparator + 1);

  std::string path;
  path.reserve(drive.size() + directory.size() + fileName.size());
  path += drive;
  path += directory;
  path += fileName;
  if (path.size() + 1 > kMaxLibraryPath) return std::nullopt;
  return path;
}

}  // namespace korvane::cli
