// Path rules, log-line text, engine command line, show-window narrowing, text conversion and
// library loading.
#include <gtest/gtest.h>

#include <climits>
#include <optional>

#include "common/win/ansi_path.h"
#include "common/win/ansi_text.h"
#include "common/win/library_load.h"
#include "common/win/module_path.h"
#include "common/win/unique_module.h"
#include "engine_api/quandrelsdk.h"
#include "server/methods/engine_command_line.h"
#include "server/methods/log_line.h"
#include "server/methods/show_window.h"
#include "testing/support/test_support.h"
#include "tests/fixtures/sdk_fixtures.h"

namespace korvane::test {

using namespace server::methods;
namespace {

using test::Narrow;
using win::FolderOfPath;
using win::FromAnsi;
using win::ToAnsi;

DATE MakeDate(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME st{year, month, 0, day, hour, minute, second, 0};
  DATE date = 0;
  EXPECT_TRUE(::SystemTimeToVariantTime(&st, &date));
  return date;
}

// The texts the server makes of its paths, the engine's command line and its log lines, each a
// plain function of its inputs: a program's folder keeps only a root's backslash, a file in a
// folder adds one, the engine's path is quoted and the client's text follows unchanged, and a
// time stamp follows the locale (the test prefix runs with United States settings) and drops
// midnight.
TEST(ServerTexts, EachRuleGivesItsText) {
  const struct {
    const char* rule;
    std::wstring made, expected;
  } rows[] = {
      // clang-format off
      {"folder", FolderOfPath(L"C:\\Tools\\QuandrelCom.exe"), L"C:\\Tools"},
      {"folder", FolderOfPath(L"C:\\QuandrelCom.exe"), L"C:\\"},
      {"folder", FolderOfPath(L"C:\\Program Files\\Korvane\\QuandrelCom.exe"), L"C:\\Program Files\\Korvane"},
      {"folder", FolderOfPath(L"\\\\host\\share\\QuandrelCom.exe"), L"\\\\host\\share"},
      {"log file", LogFilePath(L"C:\\Tools"), L"C:\\Tools\\_debug.log"},
      {"log file", LogFilePath(L"C:\\"), L"C:\\_debug.log"},
      {"engine file", EngineExecutablePath(L"C:\\Tools"), L"C:\\Tools\\quandrel.dll"},
      {"engine file", EngineExecutablePath(L"C:\\"), L"C:\\quandrel.dll"},
      {"engine file", EngineExecutablePath(L"D:\\My Tools"), L"D:\\My Tools\\quandrel.dll"},
      {"engine command line", EngineCommandLine(L"C:\\Tools\\quandrel.dll", L"in.pdf out.txt"), L"\"C:\\Tools\\quandrel.dll\" in.pdf out.txt"},
      {"engine command line", EngineCommandLine(L"C:\\quandrel.dll", L""), L"\"C:\\quandrel.dll\" "},
      {"engine command line", EngineCommandLine(L"D:\\My Tools\\quandrel.dll", L"  \"a b\" c\""), L"\"D:\\My Tools\\quandrel.dll\"   \"a b\" c\""},
      {"engine not found", EngineNotFoundMessage(L"C:\\Tools\\quandrel.dll"), L"C:\\Tools\\quandrel.dll file is not exist."},
      {"time stamp", LogTimestampText(MakeDate(2026, 12, 7, 13, 5, 33)), L"12/7/2026 1:05:33 PM"},
      {"time stamp", LogTimestampText(MakeDate(2026, 12, 7, 0, 0, 0)), L"12/7/2026"},
      {"time stamp", LogTimestampText(MakeDate(2026, 12, 7, 0, 0, 1)), L"12/7/2026 12:00:01 AM"},
      {"log line", FormatLogLine(L"12/7/2026 1:05:33 PM", L"[RunCmd] strCmd = x"), L"KorvaneCom: Run Time: 12/7/2026 1:05:33 PM; [RunCmd] strCmd = x"},
      {"log line", FormatLogLine(L"12/7/2026", L""), L"KorvaneCom: Run Time: 12/7/2026; "},
      {"log line", FormatLogLine(L"2026-12-07 \uC624\uD6C4 1:05:33", L"in\uFF02 caf\u00E9", 1252), L"KorvaneCom: Run Time: 2026-12-07 U+C624U+D6C4 1:05:33; inU+FF02 caf\u00E9"},
      {"log line", FormatLogLine(L"2026-12-07 \uC624\uD6C4 1:05:33", L"x", 949), L"KorvaneCom: Run Time: 2026-12-07 \uC624\uD6C4 1:05:33; x"},
      {"log line prefix", std::to_wstring(std::wstring(kLogLinePrefix).size()), L"22"},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.rule << ", row " << &row - rows);
    EXPECT_EQ(row.made, row.expected);
  }
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
    SCOPED_TRACE(static_cast<int>(search));
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

// A planted copy of what the library needs, on PATH or in the current folder, is never taken; the
// loader's standard order would take it there, so the test can see both places.
TEST(LibraryAtPath, TheChosenSearchLeavesOutPathAndTheCurrentFolder) {
  const DWORD chosen = win::DependencySearchFlags(win::AvailableDependencySearch());
  EXPECT_EQ(chosen & LOAD_WITH_ALTERED_SEARCH_PATH, 0u);
  EXPECT_NE(chosen & LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR, 0u);
  test::TempDir folder(L"library"), planted(L"planted");
  test::CopyFileOrFail(test::WindowsPathOf(KORVANE_DEPENDENT_SDK), folder / L"quandrelsdk.dll");
  test::CopyFileOrFail(test::WindowsPathOf(KORVANE_SDK_DEPENDENCY),
                       planted / fixture::kDependencyFileName);
  wchar_t path[32767], current[MAX_PATH];
  ASSERT_NE(::GetEnvironmentVariableW(L"PATH", path, 32767), 0u);
  ASSERT_NE(::GetCurrentDirectoryW(MAX_PATH, current), 0u);
  for (bool onPath : {true, false}) {
    SCOPED_TRACE(onPath ? "on PATH" : "in the current folder");
    ASSERT_TRUE(onPath ? ::SetEnvironmentVariableW(L"PATH", (planted.path() + L";" + path).c_str())
                       : ::SetCurrentDirectoryW(planted.path().c_str()));
    EXPECT_EQ(win::LoadLibraryAtPath(folder / L"quandrelsdk.dll").error,
              static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_TRUE(win::LoadLibraryAtPath(folder / L"quandrelsdk.dll",
                                       win::DependencySearch::kAlteredSearchPath)
                    .module);
    ASSERT_TRUE(::SetEnvironmentVariableW(L"PATH", path) && ::SetCurrentDirectoryW(current));
  }
}

// Every show-window value the tests call the runners with: its sixteen-bit pattern for the child
// (what the start-up information carries), or refused, which the runners answer with run-time
// error 6 (runners_com_test.cpp: each runner as each kind of client sees it).
TEST(ShowWindow, NarrowsToSixteenBitsOrRefuses) {
  constexpr std::optional<WORD> kRefused;
  // clang-format off
  const std::pair<LONG, std::optional<WORD>> cases[] = {
      {0, 0}, {3, 3}, {5, 5}, {-1, 0xFFFF}, {32767, 0x7FFF}, {-32768, 0x8000},
      {32768, kRefused}, {-32769, kRefused}, {65536, kRefused}, {-65536, kRefused},
      {70000, kRefused}, {INT_MAX, kRefused}, {INT_MIN, kRefused}};
  // clang-format on
  for (const auto& [value, field] : cases) {
    const std::optional<int16_t> narrowed = NarrowShowWindow(value);
    EXPECT_EQ(narrowed ? std::optional<WORD>(ShowWindowField(*narrowed)) : kRefused, field)
        << value;
  }
}

// Exact or refused: never a look-alike, a default character or a text cut at a NUL.
TEST(AnsiText, ConvertsExactlyOrNamesTheFirstCharacterItCannotCarry) {
  struct Case {
    UINT codePage;
    std::wstring text;
    std::optional<std::string> bytes;  // when carried
    size_t index;                      // else the first character refused
    char32_t codePoint;
  } cases[] = {
      {1252, L"caf\u00E9 \u20AC \u00FC", "caf\xE9 \x80 \xFC", 0, 0},
      {1252, L"", std::string(), 0, 0},
      {1252, L"a?b", "a?b", 0, 0},  // a real question mark is no default character
      {1252, L"in\uFF02 -evil", std::nullopt, 2, 0xFF02},  // best fit: '"'
      {1252, L"C:\\w\uFF3Cx", std::nullopt, 4, 0xFF3C},    // best fit: '\\'
      {1252, L"a\u2215b", std::nullopt, 1, 0x2215},        // best fit: '/'
      {1252, L"\u0100rchive", std::nullopt, 0, 0x0100},    // best fit: 'A'
      {1252, L"\u3042", std::nullopt, 0, 0x3042},          // no form at all: '?'
      {1252, std::wstring(L"a\0b", 3), std::nullopt, 1, 0},
      {1252, L"x\U0001F600", std::nullopt, 1, 0x1F600},  // a pair is named as one character
      {932, L"\u3042\uFF02", "\x82\xA0\xFA\x57", 0, 0},
      {932, L"a\u00A5b", std::nullopt, 1, 0x00A5},  // best fit: '\\'
      {932, L"-\u00AD-", std::nullopt, 1, 0x00AD},  // best fit: '-'
      {CP_UTF8, L"\u00E9\U0001F600", "\xC3\xA9\xF0\x9F\x98\x80", 0, 0},
      {CP_UTF8, std::wstring(L"ab\xD800") + L'c', std::nullopt, 2, 0xD800},  // lone surrogates
      {CP_UTF8, L"\xDC00", std::nullopt, 0, 0xDC00},
      {CP_UTF8, std::wstring(L"\0", 1), std::nullopt, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.codePage << " " << Narrow(win::MarkUncarried(c.text, c.codePage)));
    const win::AnsiText text = ToAnsi(c.text, c.codePage);
    const std::optional<win::UncarriedCharacter> found = win::FindUncarried(c.text, c.codePage);
    EXPECT_EQ(text.bytes, c.bytes.value_or(""));  // nothing when refused
    ASSERT_EQ(text.ok(), c.bytes.has_value());
    ASSERT_EQ(found.has_value(), !c.bytes);
    if (c.bytes) continue;
    EXPECT_EQ(text.refused->index, c.index);
    EXPECT_EQ(found->index, c.index);
    EXPECT_EQ(static_cast<uint32_t>(text.refused->codePoint), static_cast<uint32_t>(c.codePoint));
  }
  // Past the pieces the text is checked in: the character is found where it stands.
  std::wstring longText(20000, L'a');
  longText[16390] = L'\uFF02';
  ASSERT_TRUE(win::FindUncarried(longText, 1252));
  EXPECT_EQ(win::FindUncarried(longText, 1252)->index, 16390u);
  longText[16390] = L'b';
  EXPECT_EQ(ToAnsi(longText, 1252).bytes.size(), 20000u);
}

TEST(AnsiText, MarksWhatItCannotCarryForReadersAndDescribesIt) {
  EXPECT_EQ(win::MarkUncarried(L"in\uFF02 caf\u00E9", 1252), L"inU+FF02 caf\u00E9");
  EXPECT_EQ(win::MarkUncarried(std::wstring(L"A\0B\U0001F600", 5), 1252), L"AU+0000BU+1F600");
  EXPECT_EQ(win::MarkUncarried(L"\u3042\u00A5", 932), L"\u3042U+00A5");
  EXPECT_EQ(ToAnsi(L"a\uFF02", 1252).refused->Describe(),
            L"U+FF02 at position 2 has no exact form in code page 1252");
  EXPECT_EQ(ToAnsi(std::wstring(L"ab\0", 3), 1252).refused->Describe(),
            L"U+0000 at position 3 would end the text there");
  EXPECT_EQ(FromAnsi("caf\xE9", 1252), L"caf\u00E9");
  EXPECT_EQ(FromAnsi(""), L"");
}

// Output read back: bytes that are not text in the code page are told apart from text, and output
// too long for one conversion call is cut between characters.
TEST(AnsiText, TellsWholeTextFromBytesTheCodePageDoesNotDefineAndCutsBetweenCharacters) {
  const struct {
    UINT codePage;
    std::string bytes;
    bool whole;
  } cases[] = {
      {1252, "caf\xE9 \x80", true},    {1252, std::string("a\0b", 3), true},  // a NUL is text
      {932, "\x82\xA0\x81\x45", true}, {932, "AB\x82", false},  // a lead byte cut off at the end
      {932, "A\x82\x42", false},                                // a pair the page does not define
      {CP_UTF8, "\xC3\xA9", true},     {CP_UTF8, "\xC3", false},
      {CP_UTF8, "a\xFF", false},       {CP_UTF8, "", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(win::IsWholeText(c.bytes, c.codePage), c.whole) << c.codePage << " " << c.bytes;

  const struct {
    UINT codePage;
    std::string bytes;
    size_t limit, boundary;
  } cuts[] = {
      {1252, "abcdef", 4, 4},
      {1252, "ab", 4, 2},
      {CP_UTF8,
       "a\xC3\xA9"
       "b",
       2, 1},
      {CP_UTF8,
       "a\xE2\x82\xAC"
       "b",
       3, 1},
      {CP_UTF8,
       "a\xF0\x9F\x98\x80"
       "b",
       4, 1},
      {CP_UTF8,
       "a\xF0\x9F\x98\x80"
       "b",
       5, 5},
      {932, "\x82\xA0\x82\xA0", 3, 2},
      {932, "\x82\x82\x82\x82", 3, 2},  // a lead byte's value as a trail byte
      {932, "a\x82\x82\x82\x82", 4, 3},
  };
  for (const auto& c : cuts)
    EXPECT_EQ(win::CharacterBoundaryWithin(c.bytes, c.limit, c.codePage), c.boundary)
        << c.codePage << " " << c.limit;
}

}  // namespace
}  // namespace korvane::test
