#include "server/methods/log_line.h"

#include <windows.h>

#include <oleauto.h>

#include <cstdio>
#include <iterator>

#include "common/win/ansi_text.h"
#include "common/win/module_path.h"
#include "common/win/unique_bstr.h"

namespace korvane::server::methods {

std::wstring LogTimestampText(DATE when) {
  win::UniqueBstr text;
  if (FAILED(::VarBstrFromDate(when, LOCALE_USER_DEFAULT, 0, text.put()))) return {};
  return std::wstring(text.view());
}

DATE CurrentLocalDate() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  now.wMilliseconds = 0;
  DATE when = 0;
  ::SystemTimeToVariantTime(&now, &when);
  return when;
}

std::wstring FormatLogLine(std::wstring_view timestamp, std::wstring_view message, UINT codePage) {
  std::wstring line;
  line.reserve(std::size(kLogLinePrefix) + timestamp.size() + 2 + message.size());
  line += kLogLinePrefix;
  line += timestamp;
  line += L"; ";
  line += message;
  if (win::FindUncarried(line, codePage)) line = win::MarkUncarried(line, codePage);
  return line;
}

DecimalText::DecimalText(long long value) noexcept {
  int n = std::swprintf(text_, std::size(text_), L"%lld", value);
  length_ = n > 0 ? static_cast<size_t>(n) : 0;
}

std::wstring LogFilePath(std::wstring_view serverFolder) {
  return win::FileInFolder(serverFolder, kLogFileName);
}

}  // namespace korvane::server::methods
