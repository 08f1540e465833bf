// Path rules, log-line text, engine command line, show-window narrowing and text conversion.
#include <gtest/gtest.h>

#include "engine_command_line.h"
#include "log_line.h"
#include "show_window.h"
#include "win/ansi_text.h"
#include "win/module_path.h"

namespace korvane::server {
namespace {

using win::FolderOfPath;
using win::FromAnsi;
using win::ToAnsi;

TEST(ServerPaths, FolderOfProgramKeepsOnlyTheRootBackslash) {
  EXPECT_EQ(FolderOfPath(L"C:\\Tools\\QuandrelCom.exe"), L"C:\\Tools");
  EXPECT_EQ(FolderOfPath(L"C:\\QuandrelCom.exe"), L"C:\\");
  EXPECT_EQ(FolderOfPath(L"C:\\Program Files\\Korvane\\QuandrelCom.exe"),
            L"C:\\Program Files\\Korvane");
  EXPECT_EQ(FolderOfPath(L"\\\\host\\share\\QuandrelCom.exe"), L"\\\\host\\share");
}

TEST(ServerPaths, FileInFolderAddsOneBackslash) {
  EXPECT_EQ(LogFilePath(L"C:\\Tools"), L"C:\\Tools\\_debug.log");
  EXPECT_EQ(LogFilePath(L"C:\\"), L"C:\\_debug.log");
  EXPECT_EQ(EngineExecutablePath(L"C:\\Tools"), L"C:\\Tools\\quandrel.dll");
  EXPECT_EQ(EngineExecutablePath(L"C:\\"), L"C:\\quandrel.dll");
  EXPECT_EQ(EngineExecutablePath(L"D:\\My Tools"), L"D:\\My Tools\\quandrel.dll");
}

TEST(EngineCommandLine, QuotesThePathAndKeepsTheClientTextUnchanged) {
  EXPECT_EQ(EngineCommandLine(L"C:\\Tools\\quandrel.dll", L"in.pdf out.txt"),
            L"\"C:\\Tools\\quandrel.dll\" in.pdf out.txt");
  EXPECT_EQ(EngineCommandLine(L"C:\\quandrel.dll", L""), L"\"C:\\quandrel.dll\" ");
  EXPECT_EQ(EngineCommandLine(L"D:\\My Tools\\quandrel.dll", L"  \"a b\" c\""),
            L"\"D:\\My Tools\\quandrel.dll\"   \"a b\" c\"");
  EXPECT_EQ(EngineNotFoundMessage(L"C:\\Tools\\quandrel.dll"),
            L"C:\\Tools\\quandrel.dll file is not exist.");
}

DATE MakeDate(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME st{};
  st.wYear = year;
  st.wMonth = month;
  st.wDay = day;
  st.wHour = hour;
  st.wMinute = minute;
  st.wSecond = second;
  DATE date = 0;
  EXPECT_TRUE(::SystemTimeToVariantTime(&st, &date));
  return date;
}

// The test prefix runs with United States settings.
TEST(LogLine, TimestampFollowsTheLocaleAndDropsMidnight) {
  EXPECT_EQ(LogTimestampText(MakeDate(2026, 12, 7, 13, 5, 33)), L"12/7/2026 1:05:33 PM");
  EXPECT_EQ(LogTimestampText(MakeDate(2026, 12, 7, 0, 0, 0)), L"12/7/2026");
  EXPECT_EQ(LogTimestampText(MakeDate(2026, 12, 7, 0, 0, 1)), L"12/7/2026 12:00:01 AM");
}

TEST(LogLine, LineHasPrefixTimestampSeparatorAndMessage) {
  EXPECT_EQ(FormatLogLine(L"12/7/2026 1:05:33 PM", L"[RunCmd] strCmd = x"),
            L"KorvaneCom: Run Time: 12/7/2026 1:05:33 PM; [RunCmd] strCmd = x");
  EXPECT_EQ(FormatLogLine(L"12/7/2026", L""), L"KorvaneCom: Run Time: 12/7/2026; ");
  EXPECT_EQ(std::wstring(kLogLinePrefix).size(), 22u);
}

TEST(ShowWindow, NarrowsToSixteenBitsOrRefuses) {
  EXPECT_EQ(NarrowShowWindow(0), int16_t{0});
  EXPECT_EQ(NarrowShowWindow(32767), int16_t{32767});
  EXPECT_EQ(NarrowShowWindow(-32768), int16_t{-32768});
  EXPECT_FALSE(NarrowShowWindow(32768).has_value());
  EXPECT_FALSE(NarrowShowWindow(-32769).has_value());
  EXPECT_FALSE(NarrowShowWindow(65536).has_value());
  EXPECT_EQ(ShowWindowField(*NarrowShowWindow(-1)), 0xFFFF);
}

TEST(AnsiText, RoundTripsTheCodePageBeyondAscii) {
  // é € ü in the machine's ANSI code page (1252 here).
  const std::string bytes = "caf\xE9 \x80 \xFC";
  std::wstring text = FromAnsi(bytes);
  EXPECT_EQ(text, L"caf\u00E9 \u20AC \u00FC");
  EXPECT_EQ(ToAnsi(text), bytes);
  EXPECT_EQ(ToAnsi(std::wstring(L"a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(FromAnsi(""), L"");
}

}  // namespace
}  // namespace korvane::server
