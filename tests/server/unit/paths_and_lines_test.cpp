// Path rules, log-line text, engine command line, show-window narrowing and text conversion.
#include <gtest/gtest.h>

#include "engine_command_line.h"
#include "log_line.h"
#include "show_window.h"
#include "win/ansi_text.h"
#include "test_support.h"
#include "win/module_path.h"
#include "win/unique_module.h"

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

// The server's folder is read however deep it lies: a module in a folder deeper than the
// platform's path limit reports its whole path, never one cut at the limit, and the log and the
// engine are looked for in that whole folder.
TEST(ServerPaths, AFolderDeeperThanThePathLimitIsReadWhole) {
  test::TempDir base(L"deep module");
  std::wstring folder = base.path();
  for (int level = 0; level < 7; ++level) {
    folder += L"\\" + std::wstring(40, L'd');
    // The prefix lifts the path limit for the platform's file functions.
    ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr)) << ::GetLastError();
  }
  const std::wstring library = folder + L"\\quandrelsdk.dll";
  ASSERT_GT(library.size(), static_cast<size_t>(MAX_PATH));
  ASSERT_TRUE(::CopyFileW(test::WindowsPathOf(KORVANE_ENGINE_SDK).c_str(),
                          (L"\\\\?\\" + library).c_str(), FALSE));
  win::UniqueModule module(::LoadLibraryW((L"\\\\?\\" + library).c_str()));
  ASSERT_TRUE(module) << ::GetLastError();
  const std::wstring path = win::ModulePath(module.get());
  EXPECT_EQ(path, library);
  EXPECT_EQ(LogFilePath(FolderOfPath(path)), folder + L"\\_debug.log");
  EXPECT_EQ(EngineExecutablePath(FolderOfPath(path)), folder + L"\\quandrel.dll");
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
