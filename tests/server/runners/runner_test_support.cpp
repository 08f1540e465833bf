#include "tests/server/runners/runner_test_support.h"

#include <algorithm>

#include "testing/children/output_pattern.h"
#include "testing/support/test_support.h"

namespace korvane::test {

std::wstring RunnerChildExe() { return WindowsPathOf(KORVANE_RUNNER_CHILD); }
std::wstring RunnerClientExe() { return WindowsPathOf(KORVANE_RUNNER_CLIENT); }

std::wstring CommandLineOf(const std::wstring& program, const std::vector<std::wstring>& steps) {
  std::wstring line = L"\"" + program + L"\"";
  for (const auto& step : steps) {
    bool quote = step.empty() || step.find(L' ') != std::wstring::npos;
    line += quote ? L" \"" + step + L"\"" : L" " + step;
  }
  return line;
}

std::wstring PatternText(uint64_t count) {
  const std::string bytes = PatternBytes(0, count);
  return std::wstring(bytes.begin(), bytes.end());
}

::testing::AssertionResult SameLongText(const std::wstring& actual, const std::wstring& expected) {
  auto [at, other] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  if (at == actual.end() && other == expected.end()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "texts differ at offset " << (at - actual.begin()) << " (lengths " << actual.size()
         << " and " << expected.size() << ")";
}

std::string ProbeValue(const std::string& report, const std::string& key) {
  const std::string lines = "\r\n" + report, wanted = "\r\n" + key + "=";
  size_t at = lines.find(wanted);
  if (at == std::string::npos) return {};
  at += wanted.size();
  return lines.substr(at, lines.find("\r\n", at) - at);
}

FileGrowth::FileGrowth(std::wstring path)
    : path_(std::move(path)), start_(ReadFileBytes(path_).size()) {}

std::string FileGrowth::Added() const {
  std::string now = ReadFileBytes(path_);
  return now.size() > start_ ? now.substr(start_) : std::string();
}

RunnerResult CallRunCmd2(_QuandrelCom* object, const std::wstring& commandLine, LONG showWindow) {
  RunnerResult result;
  win::UniqueBstr line(commandLine);
  // The slot starts out holding a text, as an uninitialised one would: a failure must clear it.
  static const win::UniqueBstr untouched{std::wstring_view(L"untouched")};
  BSTR slot = untouched.get();
  result.hr = object->RunCmd2(line.get(), showWindow, &slot);
  win::UniqueBstr text(slot != untouched.get() ? slot : nullptr);
  result.noResult = slot == nullptr;
  result.text = slot == untouched.get() ? L"?" : std::wstring(text.view());
  return result;
}

::testing::AssertionResult RunCmd2Gives(_QuandrelCom* object, const std::wstring& commandLine,
                                        std::wstring_view expected) {
  RunnerResult run = CallRunCmd2(object, commandLine);
  if (run.hr == S_OK && run.text == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "RunCmd2 answered 0x" << std::hex << run.hr << " \""
                                       << Narrow(run.text) << "\" for " << Narrow(commandLine);
}

const char* NameOf(Runner runner) { return runner == Runner::kRunCmd ? "RunCmd" : "RunCmd2"; }

RunnerResult CallRunner(Runner runner, _QuandrelCom* object, const std::wstring& commandLine,
                        LONG showWindow, bool wait) {
  if (runner == Runner::kRunCmd2) return CallRunCmd2(object, commandLine, showWindow);
  win::UniqueBstr line(commandLine);
  constexpr VARIANT_BOOL kUntouched = 0x1234;
  VARIANT_BOOL started = kUntouched;
  RunnerResult result;
  result.hr = object->RunCmd(line.get(), showWindow, wait ? VARIANT_TRUE : VARIANT_FALSE, &started);
  result.noResult = started == kUntouched;
  result.text = started == VARIANT_TRUE ? L"True" : started == VARIANT_FALSE ? L"False" : L"?";
  return result;
}

DWORD ReadPidFile(const std::wstring& path, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
    std::string text = ReadFileBytes(path);
    if (!text.empty()) return std::stoul(text);
    ::Sleep(20);
  }
  ADD_FAILURE() << "no process id in " << Narrow(path);
  return 0;
}

size_t HandleCountSettled(DWORD processId, size_t before) {
  size_t count = HandleCountOf(processId);
  for (int tick = 0; tick < 300 && count > before; ++tick) {
    ::Sleep(100);
    count = HandleCountOf(processId);
  }
  return count;
}

void DispatchPending() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
}

}  // namespace korvane::test
