// What the command-runner tests share: the test children, their command lines, the in-process
// object, and reading the debug log back as messages.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
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
std::wstring CommandLineOf(const std::wstring& program, const std::vector<std::wstring>& steps);
inline std::wstring ChildCommand(const std::vector<std::wstring>& steps) {
  return CommandLineOf(RunnerChildExe(), steps);
}

// The text of the child's "bytes <count>" step.
std::wstring PatternText(uint64_t count);

// Equality of long texts, reported by the first differing offset rather than the whole text.
::testing::AssertionResult SameLongText(const std::wstring& actual, const std::wstring& expected);

// One "key=value" line of the child's probe report ("" when missing).
std::string ProbeValue(const std::string& report, const std::string& key);

// Bytes appended to a file since a first look at its length.
class FileGrowth {
 public:
  explicit FileGrowth(std::wstring path);
  std::string Added() const;

 private:
  std::wstring path_;
  size_t start_;
};

// Results of one call of a runner: RunCmd or RunCmd2 (`wait` is RunCmd's alone), its result as
// text (RunCmd's Boolean as "True" or "False").
struct RunnerResult {
  HRESULT hr = E_FAIL;
  bool noResult = true;  // none delivered: RunCmd's slot left as it was, RunCmd2's set to null
  std::wstring text;
};
RunnerResult CallRunCmd2(_QuandrelCom* object, const std::wstring& commandLine,
                         LONG showWindow = 0);
// RunCmd2 answered S_OK with exactly `expected`.
::testing::AssertionResult RunCmd2Gives(_QuandrelCom* object, const std::wstring& commandLine,
                                        std::wstring_view expected);

// The two runners side by side, for behaviours they share.
enum class Runner { kRunCmd, kRunCmd2 };
const char* NameOf(Runner runner);
inline void PrintTo(Runner runner, std::ostream* out) { *out << NameOf(runner); }
RunnerResult CallRunner(Runner runner, _QuandrelCom* object, const std::wstring& commandLine,
                        LONG showWindow = 0, bool wait = true);

// A process by id, for children that run on after the call returned.
DWORD ReadPidFile(const std::wstring& path, DWORD timeoutMs = 30000);

// A process's handle count once it came back down to `before`, or after 30 s, whichever is first:
// a call that ends closes its handles a little after it answered.
size_t HandleCountSettled(DWORD processId, size_t before);

// Dispatches every message queued for this thread.
void DispatchPending();

}  // namespace korvane::test
