#include "common/win/ansi_path.h"

#include "common/win/ansi_text.h"
#include "common/win/module_path.h"

namespace korvane::win {

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
