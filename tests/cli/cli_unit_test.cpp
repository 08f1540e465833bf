// quandrelcmd's pure parts: joining arguments and placing the library beside the program.
#include <windows.h>

#include <gtest/gtest.h>

#include "cli/argument_join.h"
#include "cli/engine_binding.h"
#include "cli/library_path.h"

namespace korvane::cli {
namespace {

TEST(JoinQuotedArguments, QuotesEachArgumentEndsWithABlankAndCopiesBytesUnchanged) {
  // 2047 characters was the most a line could hold; longer ones must not be cut.
  const std::string fits(2044, 'f'), over(2045, 'o');  // 2044 + 3 = 2047
  struct Row {
    std::vector<std::string> args;
    std::string line;
  };
  // clang-format off
  const Row rows[] = {
      {{}, ""},
      {{"in.pdf", "out.txt"}, "\"in.pdf\" \"out.txt\" "},
      {{"a b"}, "\"a b\" "},
      {{""}, "\"\" "},
      {{"x", "", "y"}, "\"x\" \"\" \"y\" "},
      {{"3", "1", "2"}, "\"3\" \"1\" \"2\" "},
      {{"5", "4", "3", "2", "1", "-to", "html"}, "\"5\" \"4\" \"3\" \"2\" \"1\" \"-to\" \"html\" "},
      {{"a\"b"}, "\"a\"b\" "},
      {{"C:\\dir\\"}, "\"C:\\dir\\\" "},
      {{"C:\\out dir\\"}, "\"C:\\out dir\\\" "},
      {{"caf\xe9\t%d"}, "\"caf\xe9\t%d\" "},
      {{fits}, "\"" + fits + "\" "},
      {{"x", over, "y"}, "\"x\" \"" + over + "\" \"y\" "},
  };
  // clang-format on
  for (const Row& row : rows) {
    std::vector<const char*> argv{"quandrelcmd.exe"};
    for (const std::string& arg : row.args) argv.push_back(arg.c_str());
    EXPECT_EQ(JoinQuotedArguments(static_cast<int>(argv.size()), argv.data()), row.line);
  }
  const char* programOnly[] = {"quandrelcmd.exe"};
  EXPECT_EQ(JoinQuotedArguments(0, programOnly), "");
}

TEST(LibraryPathFromProgramPath, PutsTheLibraryInTheProgramsFolderOrRefusesAPathPastTheLimit) {
  // "C:\" + folder + "\" + 15-character file name: 259 characters fit with their zero, 260 not.
  const std::wstring folder(259 - 3 - 1 - 15, L'd');
  struct Row {
    std::wstring program;
    std::optional<std::wstring> library;
    std::wstring file = L"quandrelsdk.dll";
  };
  // clang-format off
  const Row rows[] = {
      {L"C:\\tools\\quandrelcmd.exe", L"C:\\tools\\quandrelsdk.dll"},
      {L"C:\\quandrelcmd.exe", L"C:\\quandrelsdk.dll"},
      {L"d:\\my tools.v2\\bin\\q.exe", L"d:\\my tools.v2\\bin\\quandrelsdk.dll"},
      {L"\\\\server\\share\\q.exe", L"\\\\server\\share\\quandrelsdk.dll"},
      // Slashes are separators too.
      {L"C:/tools/quandrelcmd.exe", L"C:/tools/quandrelsdk.dll"},
      {L"C:\\a/b\\quandrelcmd.exe", L"C:\\a/b\\quandrelsdk.dll"},
      {L"C:\\a\\b/quandrelcmd", L"C:\\a\\b/quandrelsdk.dll"},
      // Without a folder, the bare name.
      {L"quandrelcmd.exe", L"quandrelsdk.dll"},
      {L"", L"quandrelsdk.dll"},
      {L"C:quandrelcmd.exe", L"C:quandrelsdk.dll"},
      {L"C:\\" + folder + L"\\q.exe", L"C:\\" + folder + L"\\quandrelsdk.dll"},  // 259 characters
      {L"C:\\" + folder + L"d\\q.exe", std::nullopt},
      {L"C:\\q.exe", std::nullopt, std::wstring(300, L'n')},
  };
  // clang-format on
  for (const Row& row : rows)
    EXPECT_EQ(LibraryPathFromProgramPath(row.program, row.file), row.library)
        << testing::PrintToString(row.program);
}

TEST(LibraryPathBesideProgram, IsInThisProgramsFolder) {
  wchar_t self[MAX_PATH];
  DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  ASSERT_GT(n, 0u);
  ASSERT_LT(n, 256u) << "the build folder is too deep for this check";
  std::wstring expected(self, n);
  expected = expected.substr(0, expected.find_last_of(L"\\/") + 1) + L"x.dll";
  EXPECT_EQ(LibraryPathBesideProgram(L"x.dll"), expected);
}

}  // namespace
}  // namespace korvane::cli
