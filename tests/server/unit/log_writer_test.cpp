// The log writer's file handling, on files in a private folder.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/win/com_ptr.h"
#include "common/win/module_path.h"
#include "common/win/scoped_com_init.h"
#include "common/win/unique_handle.h"
#include "server/methods/debug_log.h"
#include "server/methods/log_line.h"
#include "testing/support/test_support.h"

namespace korvane::server {
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

TEST_F(LogWriter, SwallowsAFolderInThePlaceOfTheFile) {
  ASSERT_TRUE(::CreateDirectoryW(path_.c_str(), nullptr));
  AppendLogLine(path_, L"lost");
  // Nothing was written into or beside it, and the next line to a file arrives.
  EXPECT_TRUE(::RemoveDirectoryW(path_.c_str()));
  AppendLogLine(path_, L"after");
  EXPECT_EQ(ReadFileBytes(path_), "after\r\n");
}

// The switch counts as set for any non-zero value, as C's TRUE (1) from a client that stores it
// so, not only for VARIANT_TRUE.
TEST_F(LogWriter, AnyNonZeroSwitchWritesTheLine) {
  const std::wstring beside = LogFilePath(win::RunningExecutableFolder());
  ::DeleteFileW(beside.c_str());
  for (VARIANT_BOOL value : {VARIANT_BOOL{1}, VARIANT_BOOL{5}, VARIANT_TRUE, VARIANT_FALSE}) {
    VARIANT_BOOL isDebug = value;
    DebugLog(&isDebug).Write({L"switch ", value == VARIANT_FALSE ? L"off" : L"on"});
  }
  const std::string log = ReadFileBytes(beside);
  ::DeleteFileW(beside.c_str());
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
  EXPECT_EQ(log.find("switch off"), std::string::npos);
}

TEST_F(LogWriter, SwallowsAMissingFolder) {
  std::wstring nowhere = dir_ / L"missing\\_debug.log";
  AppendLogLine(nowhere, L"lost");
  EXPECT_FALSE(test::FileExists(nowhere));
}

}  // namespace
}  // namespace korvane::server
