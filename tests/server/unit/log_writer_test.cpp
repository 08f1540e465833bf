// The log writer's file handling, on files in a private folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/win/scoped_com_init.h"
#include "common/win/unique_handle.h"
#include "server/methods/debug_log.h"
#include "testing/support/test_support.h"

namespace korvane::test {

using namespace server::methods;
namespace {

using test::ReadFileBytes;
using test::TempDir;

class LogWriter : public ::testing::Test {
 protected:
  win::ScopedComInit com_;
  TempDir dir_{L"log"};
  std::wstring path_ = dir_ / L"_debug.log";
};

TEST_F(LogWriter, CreatesOnFirstLineAndAppendsAfter) {
  AppendLogLine(path_, L"first");
  EXPECT_EQ(ReadFileBytes(path_), "first\r\n");
  AppendLogLine(path_, L"");
  AppendLogLine(path_, L"caf\u00E9 \u20AC");
  EXPECT_EQ(ReadFileBytes(path_), "first\r\n\r\ncaf\xE9 \x80\r\n");
}

TEST_F(LogWriter, KeepsWhatAnEarlierFileHeld) {
  test::WriteFileBytes(path_, "older line\r\n");
  AppendLogLine(path_, L"newer");
  EXPECT_EQ(ReadFileBytes(path_), "older line\r\nnewer\r\n");
}

// Another program holding the file without sharing: the line is lost, nothing is raised. (A
// read-only attribute does not stop root under Wine, so the lock stands in for it here.)
TEST_F(LogWriter, SwallowsAFileHeldByAnotherProgram) {
  test::WriteFileBytes(path_, "kept\r\n");
  {
    win::UniqueHandle held(
        ::CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    AppendLogLine(path_, L"lost");
  }
  EXPECT_EQ(ReadFileBytes(path_), "kept\r\n");
  AppendLogLine(path_, L"after");
  EXPECT_EQ(ReadFileBytes(path_), "kept\r\nafter\r\n");
}

std::vector<std::wstring> NamesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    names.push_back(entry.path().filename().wstring());
  return names;
}

// The line is lost: nothing is written into the folder or beside it under another name, and the
// next line, once a file can stand there, arrives alone.
TEST_F(LogWriter, SwallowsAFolderInThePlaceOfTheFile) {
  ASSERT_TRUE(::CreateDirectoryW(path_.c_str(), nullptr));
  AppendLogLine(path_, L"lost");
  EXPECT_TRUE(NamesIn(path_).empty());
  EXPECT_EQ(NamesIn(dir_.path()), std::vector<std::wstring>{L"_debug.log"});
  ASSERT_TRUE(::RemoveDirectoryW(path_.c_str()));
  AppendLogLine(path_, L"after");
  EXPECT_EQ(ReadFileBytes(path_), "after\r\n");
}

TEST_F(LogWriter, SwallowsAMissingFolder) {
  std::wstring nowhere = dir_ / L"missing\\_debug.log";
  AppendLogLine(nowhere, L"lost");
  EXPECT_FALSE(test::FileExists(nowhere));
  EXPECT_TRUE(NamesIn(dir_.path()).empty()) << "the folder was made";
}

}  // namespace
}  // namespace korvane::test
