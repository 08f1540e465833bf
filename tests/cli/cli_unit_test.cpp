// quandrelcmd's pure parts: joining arguments and placing the library beside the program.
#include <gtest/gtest.h>

#include <windows.h>

#include "argument_join.h"
#include "engine_binding.h"
#include "library_path.h"

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

std::optional<std::string> Beside(std::string_view program) {
  return LibraryPathFromProgramPath(program, "quandrelsdk.dll");
}

TEST(LibraryPathFromProgramPath, KeepsDriveAndDirectory) {
  EXPECT_EQ(Beside("C:\\tools\\quandrelcmd.exe"), "C:\\tools\\quandrelsdk.dll");
  EXPECT_EQ(Beside("C:\\quandrelcmd.exe"), "C:\\quandrelsdk.dll");
  EXPECT_EQ(Beside("d:\\my tools.v2\\bin\\q.exe"), "d:\\my tools.v2\\bin\\quandrelsdk.dll");
  EXPECT_EQ(Beside("\\\\server\\share\\q.exe"), "\\\\server\\share\\quandrelsdk.dll");
}

TEST(LibraryPathFromProgramPath, AcceptsSlashesAsSeparators) {
  EXPECT_EQ(Beside("C:/tools/quandrelcmd.exe"), "C:/tools/quandrelsdk.dll");
  EXPECT_EQ(Beside("C:\\a/b\\quandrelcmd.exe"), "C:\\a/b\\quandrelsdk.dll");
  EXPECT_EQ(Beside("C:\\a\\b/quandrelcmd"), "C:\\a\\b/quandrelsdk.dll");
}

TEST(LibraryPathFromProgramPath, WithoutADirectoryGivesTheBareName) {
  EXPECT_EQ(Beside("quandrelcmd.exe"), "quandrelsdk.dll");
  EXPECT_EQ(Beside(""), "quandrelsdk.dll");
  EXPECT_EQ(Beside("C:quandrelcmd.exe"), "C:quandrelsdk.dll");
}

TEST(LibraryPathFromProgramPath, RefusesAPathPastTheLimit) {
  // "C:\" + folder + "\" + 15-character file name: 259 characters fit with their zero, 260 not.
  std::string folder(259 - 3 - 1 - 15, 'd');
  std::string program = "C:\\" + folder + "\\q.exe";
  std::optional<std::string> path = Beside(program);
  ASSERT_TRUE(path);
  EXPECT_EQ(path->size(), 259u);
  EXPECT_FALSE(Beside("C:\\" + folder + "d\\q.exe"));
  EXPECT_FALSE(LibraryPathFromProgramPath("C:\\q.exe", std::string(300, 'n')));
}

TEST(LibraryPathBesideProgram, IsInThisProgramsFolder) {
  char self[MAX_PATH];
  DWORD n = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  ASSERT_GT(n, 0u);
  ASSERT_LT(n, 256u) << "the build folder is too deep for this check";
  std::string expected(self, n);
  expected = expected.substr(0, expected.find_last_of("\\/") + 1) + "x.dll";
  EXPECT_EQ(LibraryPathBesideProgram("x.dll"), expected);
}

}  // namespace
}  // namespace korvane::cli
