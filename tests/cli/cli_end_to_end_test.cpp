// quandrelcmd as users run it: a copy of the program in a folder of its own with a stand-in (or
// the real) engine library beside it, started as a separate process.
#include <windows.h>

#include <gtest/gtest.h>

#include "testing/support/test_support.h"
#include "tests/fixtures/sdk_fixtures.h"

namespace korvane::test {
namespace {

namespace fx = korvane::fixture;

int CountLines(const std::string& text, std::string_view prefix) {
  int count = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (text.compare(at, prefix.size(), prefix) == 0) ++count;
    at = end + 1;
  }
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

  ProcessResult Run(const std::wstring& args) {
    return RunProcess(L"\"" + (dir_ / L"quandrelcmd.exe") + L"\"" + args, dir_.path());
  }
  std::string Received() { return ReadFileBytes(dir_ / fx::kReceived); }
  int Loads() { return CountLines(ReadFileBytes(dir_ / fx::kLoads), "attach "); }

  TempDir dir_{L"cli"};
};

TEST_F(Quandrelcmd, WithoutArgumentsPrintsUsageAndLoadsNothing) {
  ProcessResult run = Run(L"");
  ASSERT_TRUE(run.started) << run.startError;
  EXPECT_EQ(run.output, "Usage: [options] <in-file> [<out-file>]\r\n");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(Loads(), 0);
  EXPECT_FALSE(FileExists(dir_ / fx::kCalls));
}

TEST_F(Quandrelcmd, HandsTheQuotedLineOnceAndReleasesTheLibrary) {
  ProcessResult run = Run(L" in.pdf out.txt");
  EXPECT_EQ(run.output, "nRet = 0\r\n");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(Received(), "\"in.pdf\" \"out.txt\" ");
  EXPECT_EQ(ReadFileBytes(dir_ / fx::kCalls), "call 19\n");
  // The engine got the zero-filled 2048 bytes engines expect, and writing all of them was safe.
  EXPECT_EQ(ReadFileBytes(dir_ / fx::kTail), "zero");
  EXPECT_EQ(Loads(), 1);
  // Released right after the call, not left to the end of the process.
  EXPECT_EQ(CountLines(ReadFileBytes(dir_ / fx::kUnloads), "free "), 1);
}

TEST_F(Quandrelcmd, PassesArgumentsAsThePlatformSplitsThem) {
  struct Case {
    const wchar_t* commandLine;
    std::string received;
  } cases[] = {
      {L" \"a b\"", "\"a b\" "},
      {L" \"\"", "\"\" "},
      {L" x \"\" y", "\"x\" \"\" \"y\" "},
      {L" a\\\"b", "\"a\"b\" "},  // a\"b on the command line is the argument a"b
      {L" \"C:\\out dir\\\\\"", "\"C:\\out dir\\\" "},
      {L" 5 4 3 2 1 -to html", "\"5\" \"4\" \"3\" \"2\" \"1\" \"-to\" \"html\" "},
  };
  for (const Case& c : cases) {
    ProcessResult run = Run(c.commandLine);
    EXPECT_EQ(run.output, "nRet = 0\r\n");
    EXPECT_EQ(Received(), c.received) << Narrow(c.commandLine);
  }
}

TEST_F(Quandrelcmd, ExitsWithTheEngineCodeInFull) {
  struct Case {
    const char* code;
    uint32_t exitCode;
  } cases[] = {
      {"-5", 0xFFFFFFFBu},
      {"7", 7u},
      {"2147483647", 0x7FFFFFFFu},
      {"-2147483648", 0x80000000u},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir_ / fx::kResult, c.code);
    ProcessResult run = Run(L" in.txt");
    EXPECT_EQ(run.output, std::string("nRet = ") + c.code + "\r\n");
    EXPECT_EQ(run.exitCode, c.exitCode) << c.code;
  }
}

TEST_F(Quandrelcmd, CommandLinesPastTwoThousandCharactersArriveWhole) {
  // 50 arguments of 97 characters: 5,000 characters once quoted.
  std::wstring args;
  std::string expected;
  for (int i = 0; i < 50; ++i) {
    std::string arg = std::to_string(100 + i) + std::string(94, 'a' + i % 26);
    args += L" " + Widen(arg);
    expected += "\"" + arg + "\" ";
  }
  ASSERT_EQ(expected.size(), 5000u);
  ProcessResult run = Run(args);
  EXPECT_EQ(run.output, "nRet = 0\r\n");
  EXPECT_EQ(Received(), expected);

  // Right at the old limit of 2047 characters, and one past it.
  for (size_t length : {2044u, 2045u}) {
    std::string arg(length, 'z');
    Run(L" " + Widen(arg));
    EXPECT_EQ(Received(), "\"" + arg + "\" ") << length;
  }
}

TEST_F(Quandrelcmd, WithoutTheLibraryOrItsExportPrintsZero) {
  TempDir bare(L"cli bare");
  Install(bare.path(), nullptr);
  // A library in the current folder is not the one beside the program: it must stay untouched.
  ProcessResult run = RunProcess(L"\"" + (bare / L"quandrelcmd.exe") + L"\" in.txt", dir_.path());
  EXPECT_EQ(run.output, "nRet = 0\r\n");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(Loads(), 0);

  TempDir noExport(L"cli noexport");
  Install(noExport.path(), KORVANE_NOEXPORT_SDK);
  run = RunProcess(L"\"" + (noExport / L"quandrelcmd.exe") + L"\" in.txt", dir_.path());
  EXPECT_EQ(run.output, "nRet = 0\r\n");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(CountLines(ReadFileBytes(noExport / fx::kLoads), "attach "), 1);
  EXPECT_EQ(CountLines(ReadFileBytes(noExport / fx::kUnloads), "free "), 1);
}

TEST_F(Quandrelcmd, FindsTheLibraryWhereverItWasStartedFrom) {
  TempDir elsewhere(L"cli cwd");
  // Through a path with forward slashes, from another current folder.
  std::wstring slashed = dir_ / L"quandrelcmd.exe";
  for (auto& c : slashed)
    if (c == L'\\') c = L'/';
  ProcessResult run = RunProcess(L"\"" + slashed + L"\" a", elsewhere.path());
  EXPECT_EQ(run.output, "nRet = 0\r\n");
  EXPECT_EQ(Received(), "\"a\" ");

  // From a folder whose name holds spaces and a letter the ANSI code page (1252) cannot spell.
  TempDir spaced(L"cli folder with spaces \u0416");
  Install(spaced.path(), KORVANE_RECORDING_SDK);
  WriteFileBytes(spaced / fx::kResult, "-12");
  run = RunProcess(L"\"" + (spaced / L"quandrelcmd.exe") + L"\" b", elsewhere.path());
  EXPECT_EQ(run.output, "nRet = -12\r\n");
  EXPECT_EQ(ReadFileBytes(spaced / fx::kReceived), "\"b\" ");
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

TEST_F(Quandrelcmd, AProgramPathTooLongToReadWholeLoadsNothing) {
  // The program's own path is asked for with a 256-character limit: at 255 characters it comes
  // whole, at 256 it is cut, and a library must not be looked for beside a cut path.
  for (size_t length : {255u, 256u, 259u}) {
    TempDir base(L"cli deep");
    std::wstring folder = FolderForProgramPathOf(base.path(), length);
    Install(folder, KORVANE_RECORDING_SDK);
    ProcessResult run = RunProcess(L"\"" + folder + L"\\quandrelcmd.exe\" a", dir_.path());
    ASSERT_TRUE(run.started) << "error " << run.startError;
    bool whole = length < 256;
    EXPECT_EQ(run.output, "nRet = 0\r\n");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(FileExists(folder + L"\\" + fx::kLoads), whole) << length;
    EXPECT_EQ(ReadFileBytes(folder + L"\\" + fx::kReceived), whole ? "\"a\" " : "") << length;
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
