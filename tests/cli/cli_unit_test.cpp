// quandrelcmd's pure parts: joining arguments and placing the library beside the program.
#include <windows.h>

#include <gtest/gtest.h>

#include "cli/argument_join.h"
#include "cli/engine_binding.h"
#include "cli/library_path.h"

namespace korvane::cli {
namespace {

std::string Join(std::vector<const char*> args) {
  args.insert(args.begin(), "quandrelcmd.exe");
  return JoinQuotedArguments(static_cast<int>(args.size()), args.data());
}

TEST(JoinQuotedArguments, QuotesEachArgumentAndEndsWithASpace) {
  EXPECT_EQ(Join({"in.pdf", "out.txt"}), "\"in.pdf\" \"out.txt\" ");
  EXPECT_EQ(Join({"in.pdf", "out.txt"}).size(), 19u);
  EXPECT_EQ(Join({"a b"}), "\"a b\" ");
  EXPECT_EQ(Join({""}), "\"\" ");
  EXPECT_EQ(Join({"x", "", "y"}), "\"x\" \"\" \"y\" ");
  EXPECT_EQ(Join({"3", "1", "2"}), "\"3\" \"1\" \"2\" ");
}

TEST(JoinQuotedArguments, CopiesBytesUnchanged) {
  EXPECT_EQ(Join({"a\"b"}), "\"a\"b\" ");
  EXPECT_EQ(Join({"C:\\dir\\"}), "\"C:\\dir\\\" ");
  EXPECT_EQ(Join({"caf\xe9\t%d"}), "\"caf\xe9\t%d\" ");
}

TEST(JoinQuotedArguments, NoArgumentsGiveAnEmptyLine) {
  const char* argv[] = {"quandrelcmd.exe"};
  EXPECT_EQ(JoinQuotedArguments(1, argv), "");
  EXPECT_EQ(JoinQuotedArguments(0, argv), "");
}

TEST(JoinQuotedArguments, LinesPastTheOldBufferArriveWhole) {
  // 2047 characters was the most a line could hold; longer ones must not be cut.
  std::string fits(2044, 'f');  // 2044 + 3 = 2047
  EXPECT_EQ(Join({fits.c_str()}), "\"" + fits + "\" ");
  std::string over(2045, 'o');
  EXPECT_EQ(Join({"x", over.c_str(), "y"}), "\"x\" \"" + over + "\" \"y\" ");
}

std::optional<std::wstring> Beside(std::wstring_view program) {
  return LibraryPathFromProgramPath(program, L"quandrelsdk.dll");
}

TEST(LibraryPathFromProgramPath, KeepsDriveAndDirectory) {
  EXPECT_EQ(Beside(L"C:\\tools\\quandrelcmd.exe"), L"C:\\tools\\quandrelsdk.dll");
  EXPECT_EQ(Beside(L"C:\\quandrelcmd.exe"), L"C:\\quandrelsdk.dll");
  EXPECT_EQ(Beside(L"d:\\my tools.v2\\bin\\q.exe"), L"d:\\my tools.v2\\bin\\quandrelsdk.dll");
  EXPECT_EQ(Beside(L"\\\\server\\share\\q.exe"), L"\\\\server\\share\\quandrelsdk.dll");
}

TEST(LibraryPathFromProgramPath, AcceptsSlashesAsSeparators) {
  EXPECT_EQ(Beside(L"C:/tools/quandrelcmd.exe"), L"C:/tools/quandrelsdk.dll");
  EXPECT_EQ(Beside(L"C:\\a/b\\quandrelcmd.exe"), L"C:\\a/b\\quandrelsdk.dll");
  EXPECT_EQ(Beside(L"C:\\a\\b/quandrelcmd"), L"C:\\a\\b/quandrelsdk.dll");
}

TEST(LibraryPathFromProgramPath, WithoutADirectoryGivesTheBareName) {
  EXPECT_EQ(Beside(L"quandrelcmd.exe"), L"quandrelsdk.dll");
  EXPECT_EQ(Beside(L""), L"quandrelsdk.dll");
  EXPECT_EQ(Beside(L"C:quandrelcmd.exe"), L"C:quandrelsdk.dll");
}

TEST(LibraryPathFromProgramPath, RefusesAPathPastTheLimit) {
  // "C:\" + folder + "\" + 15-character file name: 259 characters fit with their zero, 260 not.
  std::wstring folder(259 - 3 - 1 - 15, L'd');
  std::wstring program = L"C:\\" + folder + L"\\q.exe";
  std::optional<std::wstring> path = Beside(program);
  ASSERT_TRUE(path);
  EXPECT_EQ(path->size(), 259u);
  EXPECT_FALSE(Beside(L"C:\\" + folder + L"d\\q.exe"));
  EXPECT_FALSE(LibraryPathFromProgramPath(L"C:\\q.exe", std::wstring(300, L'n')));
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
