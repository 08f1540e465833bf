#include "common/win/ansi_path.h"

#include "common/win/ansi_text.h"

namespace korvane::win {

namespace {

// The path's short form as the file system gives it, or empty when it gives none.
std::wstring ShortPathOf(const std::wstring& path) {
  std::wstring shortPath;
  DWORD size = ::GetShortPathNameW(path.c_str(), nullptr, 0);
  // The path may change between the calls; the size asked for again then.
  while (size > shortPath.size()) {
    shortPath.resize(size);
    size = ::GetShortPathNameW(path.c_str(), shortPath.data(), size);
  }
  shortPath.resize(size);
  return shortPath;
}

}  // namespace

bool SurvivesCodePage(std::wstring_view text, UINT codePage) {
  return !FindUncarried(text, codePage);
}

std::optional<std::wstring> ChooseAnsiSpelling(std::wstring_view longPath,
                                               std::wstring_view shortPath, UINT codePage) {
  if (SurvivesCodePage(longPath, codePage)) return std::wstring(longPath);
  if (!shortPath.empty() && SurvivesCodePage(shortPath, codePage)) return std::wstring(shortPath);
  return std::nullopt;
}

std::optional<std::wstring> AnsiSpellingOfPath(const std::wstring& path, UINT codePage) {
  if (SurvivesCodePage(path, codePage)) return path;
  return ChooseAnsiSpelling(path, ShortPathOf(path), codePage);
}

}  // namespace korvane::win
