// The text of one debug-log line and where the log file lives.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>
#include <string_view>

namespace korvane::server::methods {

inline constexpr wchar_t kLogLinePrefix[] = L"KorvaneCom: Run Time: ";
inline constexpr wchar_t kLogFileName[] = L"_debug.log";

// The automation run time's conversion of a date to text in the user's default locale: short
// date, a space, long time; at exactly midnight the date alone.
std::wstring LogTimestampText(DATE when);

// The current local date and time, to the second.
DATE CurrentLocalDate();

// prefix, time stamp, "; ", message. The file is written in the ANSI code page, which would show a
// look-alike for what it lacks (a '"' for a fullwidth quote): such characters are marked "U+XXXX",
// the time stamp's too (it is in the user's locale, which may differ). The line end is added when
// writing.
std::wstring FormatLogLine(std::wstring_view timestamp, std::wstring_view message,
                           UINT codePage = CP_ACP);

// A number as decimal text, without allocating (log lines are composed where memory may be short).
class DecimalText {
 public:
  explicit DecimalText(long long value) noexcept;
  std::wstring_view view() const noexcept { return {text_, length_}; }

 private:
  wchar_t text_[24];
  size_t length_ = 0;
};

// The log file in the server folder.
std::wstring LogFilePath(std::wstring_view serverFolder);

}  // namespace korvane::server::methods
