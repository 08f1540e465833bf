// The built engine: quandrelsdk.dll loaded in this process, and the quandrel.dll program.
#include <windows.h>

#include <gtest/gtest.h>

#include "common/win/unique_handle.h"
#include "common/win/unique_module.h"
#include "engine_api/quandrelsdk.h"
#include "testing/support/test_support.h"

namespace korvane::test {
namespace {

using Converter = engine_api::ConverterFn;

const std::string kSampleHtml =
    "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta charset=\"windows-1252\">\r\n"
    "<title>sample.txt</title>\r\n</head>\r\n<body>\r\n<pre>\r\n"
    "Quarterly notes\r\n"
    "Revenue grew 5% &amp; costs fell: profit &gt; forecast.\r\n"
    "Formula: if a &lt; b then &quot;a&quot; wins\r\n"
    "Caf\xe9 budget: \x80"
    "20 per head\r\n"
    "\r\n"
    "End of notes.\r\n"
    "</pre>\r\n</body>\r\n</html>\r\n";

std::wstring SamplePath() { return WindowsPathOf(KORVANE_SAMPLE); }

// The line the engine expects: every argument quoted and followed by a blank.
std::string Line(std::initializer_list<std::string> args) {
  std::string line;
  for (const std::string& arg : args) line += "\"" + arg + "\" ";
  return line;
}

class EngineLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    library_.reset(::LoadLibraryW(WindowsPathOf(KORVANE_ENGINE_SDK).c_str()));
    ASSERT_TRUE(library_) << "error " << ::GetLastError();
    convert_ = engine_api::FindConverter(library_.get());
    ASSERT_NE(convert_, nullptr);
  }

  int Call(std::string commandLine) { return convert_(commandLine.data()); }

  win::UniqueModule library_;
  Converter convert_ = nullptr;
  TempDir dir_{L"engine lib"};  // a space in the folder: every path below needs its quotes
};

TEST_F(EngineLibrary, ConvertsTheSampleToHtml) {
  std::string in = Narrow(dir_ / L"sample.txt");
  CopyFileOrFail(SamplePath(), dir_ / L"sample.txt");
  EXPECT_EQ(Call(Line({in})), 0);
  EXPECT_EQ(ReadFileBytes(dir_ / L"sample.html"), kSampleHtml);
}

TEST_F(EngineLibrary, KeepsNoStateBetweenCalls) {
  std::string in = Narrow(dir_ / L"in.txt");
  WriteFileBytes(dir_ / L"in.txt", "a\r\nb");
  EXPECT_EQ(Call(Line({"-to", "text", "-eol", "lf", in, Narrow(dir_ / L"1.txt")})), 0);
  EXPECT_EQ(ReadFileBytes(dir_ / L"1.txt"), "a\nb");
  // The options of the first call do not carry over: defaults are HTML with CR LF.
  EXPECT_EQ(Call(Line({in, Narrow(dir_ / L"2.html")})), 0);
  std::string page = ReadFileBytes(dir_ / L"2.html");
  EXPECT_EQ(page.rfind("<!DOCTYPE html>\r\n", 0), 0u) << page;
}

// Bad usage -1, an input that cannot be opened -2, an output that cannot be made -3, an input
// larger than the engine takes (64 MiB) -4; no output is left behind.
TEST_F(EngineLibrary, ReportsFailuresByDistinctCodes) {
  EXPECT_EQ(convert_(nullptr), -1);
  WriteFileBytes(dir_ / L"in.txt", "x");
  const std::wstring big = dir_ / L"big.txt";
  ASSERT_NO_FATAL_FAILURE(WriteSizedFile(big, (64ull << 20) + 1));
  const std::pair<std::string, int> rows[] = {
      {"", -1},
      {Line({"-to", "pdf", "x.txt"}), -1},
      {"\"unclosed.txt ", -1},
      {Line({Narrow(dir_ / L"missing.txt")}), -2},
      {Line({Narrow(dir_ / L"in.txt"), Narrow(dir_ / L"no\\such\\out.html")}), -3},
      {Line({Narrow(big), Narrow(dir_ / L"big.html")}), -4},
  };
  for (const auto& [line, code] : rows) EXPECT_EQ(Call(line), code) << line;
  EXPECT_FALSE(FileExists(dir_ / L"no"));
  EXPECT_FALSE(FileExists(dir_ / L"big.html"));
}

TEST_F(EngineLibrary, NeverDestroysAFile) {
  const std::string in = Narrow(dir_ / L"In.txt");
  WriteFileBytes(dir_ / L"In.txt", "keep me");
  // The input named again as output, by another case and by another path: refused, untouched.
  for (const std::wstring& same :
       {dir_ / L"IN.TXT", dir_ / L"sub\\..\\In.txt", dir_.path() + L"\\.\\in.txt"}) {
    ::CreateDirectoryW((dir_ / L"sub").c_str(), nullptr);
    EXPECT_EQ(Call(Line({"-to", "text", in, Narrow(same)})), -5) << Narrow(same);
    EXPECT_EQ(ReadFileBytes(dir_ / L"In.txt"), "keep me");
  }
  // An existing output that cannot be replaced (another program holds it open) stays as it was,
  // and no temporary file is left beside it.
  const std::wstring out = dir_ / L"out.txt";
  WriteFileBytes(out, "old output");
  {
    win::UniqueHandle held(::CreateFileW(out.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(Call(Line({"-to", "text", in, Narrow(out)})), -3);
  }
  EXPECT_EQ(ReadFileBytes(out), "old output");
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW((dir_ / L"qdl*").c_str(), &found);
  EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "a temporary file was left behind";
  if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
  // Replaced once the new output is whole.
  EXPECT_EQ(Call(Line({"-to", "text", in, Narrow(out)})), 0);
  EXPECT_EQ(ReadFileBytes(out), "keep me");
}

// The argument sits read-only at the very end of a page followed by an inaccessible page: a
// write into it or a read past its terminator would fault.
TEST_F(EngineLibrary, NeitherWritesIntoNorReadsPastItsArgument) {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  const size_t page = info.dwPageSize;
  char* block = static_cast<char*>(
      ::VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(block, nullptr);
  WriteFileBytes(dir_ / L"in.txt", "<x>");
  std::string text = Line({Narrow(dir_ / L"in.txt"), Narrow(dir_ / L"out.html")});
  char* argument = block + page - (text.size() + 1);
  memcpy(argument, text.c_str(), text.size() + 1);
  DWORD old = 0;
  ASSERT_TRUE(::VirtualProtect(block, page, PAGE_READONLY, &old));
  ASSERT_TRUE(::VirtualProtect(block + page, page, PAGE_NOACCESS, &old));

  EXPECT_EQ(convert_(argument), 0);
  EXPECT_EQ(std::string(argument), text);
  EXPECT_NE(ReadFileBytes(dir_ / L"out.html").find("&lt;x&gt;"), std::string::npos);
  ::VirtualFree(block, 0, MEM_RELEASE);
}

class EngineProgram : public ::testing::Test {
 protected:
  ProcessResult Run(const std::wstring& args) {
    return RunProcess(L"\"" + WindowsPathOf(KORVANE_ENGINE_EXE) + L"\" " + args, dir_.path());
  }
  TempDir dir_{L"engine exe"};
};

TEST_F(EngineProgram, ConvertsAndReportsOnStdout) {
  CopyFileOrFail(SamplePath(), dir_ / L"sample.txt");
  ProcessResult run = Run(L"sample.txt");
  ASSERT_TRUE(run.started) << run.startError;
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, "converted sample.txt -> sample.html (6 lines)\r\n");
  EXPECT_EQ(ReadFileBytes(dir_ / L"sample.html"), kSampleHtml);

  run = Run(L"-to text -eol lf \"sample.txt\" \"lf copy.txt\"");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(ReadFileBytes(dir_ / L"lf copy.txt"),
            "Quarterly notes\nRevenue grew 5% & costs fell: profit > forecast.\n"
            "Formula: if a < b then \"a\" wins\nCaf\xe9 budget: \x80"
            "20 per head\n\nEnd of notes.\n");
}

TEST_F(EngineProgram, ExitsWithTheNegativeCodeAndExplainsOnStderr) {
  WriteFileBytes(dir_ / L"in.txt", "x");
  const std::string folder = Narrow(dir_.path()) + "\\";
  const struct {
    std::wstring args;
    uint32_t exitCode;
    std::vector<std::string> explained;  // each found in the output
    bool atStart = false;                // the first one begins it
  } rows[] = {
      {L"", 0xFFFFFFFFu, {"quandrel: error -1: no input file given", "usage: "}},
      {L"missing.txt", 0xFFFFFFFEu, {"quandrel: error -2: cannot open 'missing.txt'"}, true},
      {L"in.txt nowhere\\out.html", 0xFFFFFFFDu, {"cannot create 'nowhere\\out.html'"}},
      // A quoted path may end in a backslash: under backslash-escape rules the quote after it
      // would not close the argument; here it does, so the folder itself is the input.
      {Widen("\"" + folder + "\" \"out.html\""), 0xFFFFFFFEu, {"cannot open '" + folder + "'"}},
  };
  for (const auto& row : rows) {
    ProcessResult run = Run(row.args);
    EXPECT_EQ(run.exitCode, row.exitCode) << Narrow(row.args);
    for (const std::string& text : row.explained)
      EXPECT_NE(run.output.find(text), std::string::npos) << text << " in: " << run.output;
    if (row.atStart) {
      EXPECT_EQ(run.output.rfind(row.explained.front(), 0), 0u) << run.output;
    }
  }
}

}  // namespace
}  // namespace korvane::test
