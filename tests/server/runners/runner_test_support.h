// What the command-runner tests share: the test children, their command lines, the in-process
// object, and reading the debug log back as messages.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "common/win/com_ptr.h"
#include "common/win/unique_bstr.h"
#include "server/com/quandrelcom.h"
#include "testing/support/system_handles.h"

namespace korvane::test {

std::wstring RunnerChildExe();
std::wstring RunnerClientExe();

// "<program>" followed by the steps, each quoted when it holds a space or is empty.
std::wstring CommandLineOf(const std::wstring& program, std::initializer_list<std::wstring> steps);
inline std::wstring ChildCommand(std::initializer_list<std::wstring> steps) {
  return CommandLineOf(RunnerChildExe(), steps);
}

// The text of the child's "bytes <count>" step.
std::wstring PatternText(uint64_t count);

// Equality of long texts, reported by the first differing offset rather than the whole text.
::testing::AssertionResult SameLongText(const std::wstring& actual, const std::wstring& expected);

// One "key=value" line of the child's probe report ("" when missing).
std::string ProbeValue(const std::string& report, const std::string& key);

// The messages (what follows "<time stamp>; ") of the debug-log lines in `logBytes`, which may
// span several physical lines.
std::vector<std::string> LogMessages(std::string_view logBytes);

// Bytes appended to a file since a first look at its length.
class FileGrowth {
 public:
  explicit FileGrowth(std::wstring path);
  std::string Added() const;

 private:
  std::wstring path_;
  size_t start_;
};

// Results of one RunCmd2 call.
struct RunCmd2Result {
  HRESULT hr = E_FAIL;
  bool resultIsNull = true;
  std::wstring text;
};
RunCmd2Result CallRunCmd2(_QuandrelCom* object, const std::wstring& commandLine,
                          LONG showWindow = 0);

// A process by id, for children that run on after the call returned.
DWORD ReadPidFile(const std::wstring& path, DWORD timeoutMs = 30000);

}  // namespace korvane::test
