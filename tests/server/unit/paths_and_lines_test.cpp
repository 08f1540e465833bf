// Path rules, log-line text, engine command line, show-window narrowing, text conversion and
// library loading.
#include <gtest/gtest.h>

#include "methods/engine_command_line.h"
#include "methods/log_line.h"
#include "quandrelsdk.h"
#include "sdk_fixtures.h"
#include "methods/show_window.h"
#include "win/ansi_path.h"
#include "win/ansi_text.h"
#include "test_support.h"
#include "win/library_load.h"
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

TEST(AnsiSpelling, TakesTheLongPathThenTheShortOneThenNothing) {
  const std::wstring cyrillic = L"C:\\server \u0416\\quandrel.dll";
  struct Case {
    std::wstring longPath, shortPath;  // shortPath empty: the volume has no short names
    std::optional<std::wstring> expected;
  } cases[] = {
      {L"C:\\caf\u00E9\\q.dll", L"C:\\CAF~1\\q.dll", L"C:\\caf\u00E9\\q.dll"},
      {cyrillic, L"C:\\SERVER~1\\quandrel.dll", L"C:\\SERVER~1\\quandrel.dll"},
      {cyrillic, L"", std::nullopt},
      {cyrillic, cyrillic, std::nullopt},  // what the platform gives without short names
      {L"C:\\Progr\u0101m\\q.dll", L"", std::nullopt},  // not "C:\\Program\\q.dll"
  };
  for (const Case& c : cases)
    EXPECT_EQ(win::ChooseAnsiSpelling(c.longPath, c.shortPath, 1252), c.expected) << c.shortPath;
}

// Either way of searching finds what a library needs beside it, and misses it when it is gone.
TEST(LibraryAtPath, FindsWhatTheLibraryNeedsBesideIt) {
  for (auto search :
       {win::DependencySearch::kSafeFolders, win::DependencySearch::kAlteredSearchPath}) {
    test::TempDir folder(L"library");
    test::CopyFileOrFail(test::WindowsPathOf(KORVANE_DEPENDENT_SDK), folder / L"quandrelsdk.dll");
    const std::wstring dependency = folder / fixture::kDependencyFileName;
    test::CopyFileOrFail(test::WindowsPathOf(KORVANE_SDK_DEPENDENCY), dependency);
    win::LoadedLibrary loaded = win::LoadLibraryAtPath(folder / L"quandrelsdk.dll", search);
    ASSERT_TRUE(loaded.module) << loaded.error;
    EXPECT_EQ(engine_api::FindConverter(loaded.module.get())(nullptr), fixture::kDependencyAnswer);
    loaded.module.reset();
    ASSERT_TRUE(::DeleteFileW(dependency.c_str()));
    EXPECT_EQ(win::LoadLibraryAtPath(folder / L"quandrelsdk.dll", search).error,
              static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  }
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
