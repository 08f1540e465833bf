// quandrelcmd as users run it: a copy of the program in a folder of its own with a stand-in (or
// the real) engine library beside it, started as a separate process.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>

#include "testing/support/test_support.h"
#include "tests/fixtures/sdk_fixtures.h"

namespace korvane::test {
namespace {

namespace fx = korvane::fixture;

int CountLines(const std::string& text, std::string_view prefix) {
  std::istringstream lines(text);
  int count = 0;
  for (std::string line; std::getline(lines, line);) count += line.rfind(prefix, 0) == 0;
  return count;
}

class Quandrelcmd : public ::testing::Test {
 protected:
  // Places the program (and, unless `library` is empty, that library as quandrelsdk.dll) in
  // `folder`.
  void Install(const std::wstring& folder, const char* library) {
    CopyFileOrFail(WindowsPathOf(KORVANE_QUANDRELCMD), folder + L"\\quandrelcmd.exe");
    if (library) CopyFileOrFail(WindowsPathOf(library), folder + L"\\quandrelsdk.dll");
  }
  void SetUp() override { Install(dir_.path(), KORVANE_RECORDING_SDK); }

  TempDir dir_{L"cli"};
};

int Loads(const std::wstring& folder) {
  return CountLines(ReadFileBytes(folder + L"\\" + fx::kLoads), "attach ");
}

// A folder below `base` in which quandrelcmd.exe has a path of exactly `length` characters.
std::wstring FolderForProgramPathOf(const std::wstring& base, size_t length) {
  const size_t folderLength = length - std::wstring(L"\\quandrelcmd.exe").size();
  std::wstring folder = base;
  while (folder.size() < folderLength) {
    size_t segment = std::min<size_t>(40, folderLength - folder.size() - 1);
    if (folderLength - folder.size() - 1 - segment == 1) --segment;  // leave room for "\x"
    folder += L"\\" + std::wstring(segment, L'd');
    // The prefix lifts the folder-name limit of 248 characters.
    EXPECT_TRUE(::CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr)) << ::GetLastError();
  }
  EXPECT_EQ(folder.size(), folderLength);
  return folder;
}

// Each run starts the program in a folder of its own from the fixture's folder, whose
// quandrelsdk.dll is not the one beside the program and must stay untouched.
TEST_F(Quandrelcmd, HandsTheJoinedLineToTheLibraryBesideItAndExitsWithItsCode) {
  // 50 arguments of 97 characters: 5,000 characters once quoted, past the old 2047.
  std::wstring longArgs;
  std::string longLine;
  for (int i = 0; i < 50; ++i) {
    std::string arg = std::to_string(100 + i) + std::string(94, 'a' + i % 26);
    longArgs += L" " + Widen(arg);
    longLine += "\"" + arg + "\" ";
  }
  ASSERT_EQ(longLine.size(), 5000u);
  const char* rec = KORVANE_RECORDING_SDK;
  const std::wstring deep = L"cli deep";
  struct Row {
    const char* name;
    std::wstring folder;  // its name; "cli deep": nested until the program's path is `length` long
    size_t length;
    bool slashes;         // the program started through a path with forward slashes
    const char* library;  // beside the program
    std::wstring args;
    const char* result;  // what the engine returns ("": nothing written, 0)
    uint32_t exitCode;
    int loads;  // of the library beside the program (each released after its call)
    std::optional<std::string> received;  // none: the engine is not called
  };
  // clang-format off
  const Row rows[] = {
      {"no arguments: usage", L"cli", 0, false, rec, L"", "", 0, 0, std::nullopt},
      // a\"b on the command line is the argument a"b; "C:\out dir\\" is C:\out dir\.
      {"the joined line, as the platform splits it", L"cli", 0, false, rec, L" in.pdf out.txt \"a b\" \"\" x a\\\"b \"C:\\out dir\\\\\" -to html", "", 0, 1,
       "\"in.pdf\" \"out.txt\" \"a b\" \"\" \"x\" \"a\"b\" \"C:\\out dir\\\" \"-to\" \"html\" "},
      {"exit code -5 in full", L"cli", 0, false, rec, L" in.txt", "-5", 0xFFFFFFFBu, 1, "\"in.txt\" "},
      {"exit code 7", L"cli", 0, false, rec, L" in.txt", "7", 7u, 1, "\"in.txt\" "},
      {"exit code INT_MAX", L"cli", 0, false, rec, L" in.txt", "2147483647", 0x7FFFFFFFu, 1, "\"in.txt\" "},
      {"exit code INT_MIN", L"cli", 0, false, rec, L" in.txt", "-2147483648", 0x80000000u, 1, "\"in.txt\" "},
      {"a line past the old 2047 characters", L"cli", 0, false, rec, longArgs, "", 0, 1, longLine},
      {"no library beside it", L"cli bare", 0, false, nullptr, L" in.txt", "", 0, 0, std::nullopt},
      {"a library without the export", L"cli noexport", 0, false, KORVANE_NOEXPORT_SDK, L" in.txt", "", 0, 1, std::nullopt},
      {"started through forward slashes", L"cli cwd", 0, true, rec, L" a", "", 0, 1, "\"a\" "},
      // Blanks and a letter the ANSI code page (1252) cannot spell.
      {"from a folder the code page cannot spell", L"cli folder with spaces \u0416", 0, false, rec, L" b", "-12", 0xFFFFFFF4u, 1, "\"b\" "},
      // The program's own path is asked for with a 256-character limit: at 255 characters it
      // comes whole, at 256 it is cut, and a library must not be looked for beside a cut path.
      {"a program path of 255 characters", deep, 255, false, rec, L" a", "", 0, 1, "\"a\" "},
      {"a program path of 256 characters", deep, 256, false, rec, L" a", "", 0, 0, std::nullopt},
      {"a program path of 259 characters", deep, 259, false, rec, L" a", "", 0, 0, std::nullopt},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir base(row.folder);
    const std::wstring folder =
        row.length ? FolderForProgramPathOf(base.path(), row.length) : base.path();
    Install(folder, row.library);
    if (*row.result) WriteFileBytes(folder + L"\\" + fx::kResult, row.result);
    std::wstring program = folder + L"\\quandrelcmd.exe";
    if (row.slashes) std::replace(program.begin(), program.end(), L'\\', L'/');

    ProcessResult run = RunProcess(L"\"" + program + L"\"" + row.args, dir_.path());
    ASSERT_TRUE(run.started) << "error " << run.startError;
    EXPECT_EQ(run.output, row.args.empty()
                              ? "Usage: [options] <in-file> [<out-file>]\r\n"
                              : "nRet = " + std::string(*row.result ? row.result : "0") + "\r\n");
    EXPECT_EQ(run.exitCode, row.exitCode);
    EXPECT_EQ(Loads(folder), row.loads);
    EXPECT_EQ(CountLines(ReadFileBytes(folder + L"\\" + fx::kUnloads), "free "), row.loads);
    EXPECT_EQ(Loads(dir_.path()), 0);
    const std::wstring calls = folder + L"\\" + fx::kCalls;
    if (!row.received) {
      EXPECT_FALSE(FileExists(calls));
      continue;
    }
    EXPECT_EQ(ReadFileBytes(folder + L"\\" + fx::kReceived), *row.received);
    EXPECT_EQ(ReadFileBytes(calls), "call " + std::to_string(row.received->size()) + "\n");
    // The engine got the zero-filled 2048 bytes engines expect, and writing all of them was safe.
    EXPECT_EQ(ReadFileBytes(folder + L"\\" + fx::kTail), "zero");
  }
}

TEST_F(Quandrelcmd, DrivesTheRealEngine) {
  TempDir real(L"cli real engine");
  Install(real.path(), KORVANE_ENGINE_SDK);
  WriteFileBytes(real / L"notes.txt", "1 < 2 & \"3\"\n");
  ProcessResult run =
      RunProcess(L"\"" + (real / L"quandrelcmd.exe") + L"\" -eol lf notes.txt", real.path());
  EXPECT_EQ(run.output, "nRet = 0\r\n");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(ReadFileBytes(real / L"notes.html"),
            "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"windows-1252\">\n"
            "<title>notes.txt</title>\n</head>\n<body>\n<pre>\n"
            "1 &lt; 2 &amp; &quot;3&quot;\n"
            "</pre>\n</body>\n</html>\n");

  run = RunProcess(L"\"" + (real / L"quandrelcmd.exe") + L"\" missing.txt", real.path());
  EXPECT_EQ(run.output, "nRet = -2\r\n");
  EXPECT_EQ(run.exitCode, 0xFFFFFFFEu);
}

}  // namespace
}  // namespace korvane::test
