#include "tests/server/runners/runner_test_support.h"

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
  std::wstring text(static_cast<size_t>(count), L'\0');
  for (uint64_t i = 0; i < count; ++i)
    text[static_cast<size_t>(i)] = static_cast<wchar_t>(PatternByte(i));
  return text;
}

::testing::AssertionResult SameLongText(const std::wstring& actual, const std::wstring& expected) {
  size_t common = std::min(actual.size(), expected.size());
  size_t at = 0;
  while (at < common && actual[at] == expected[at]) ++at;
  if (at == common && actual.size() == expected.size()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "texts differ at offset " << at << " (lengths "
                                       << actual.size() << " and " << expected.size() << ")";
}

std::string ProbeValue(const std::string& report, const std::string& key) {
  std::string wanted = key + "=";
  size_t at = 0;
  while (at < report.size()) {
    size_t end = report.find("\r\n", at);
    if (end == std::string::npos) end = report.size();
    if (report.compare(at, wanted.size(), wanted) == 0)
      return report.substr(at + wanted.size(), end - at - wanted.size());
    at = end + 2;
  }
  return {};
}

FileGrowth::FileGrowth(std::wstring path)
    : path_(std::move(path)), start_(ReadFileBytes(path_).size()) {}

std::string FileGrowth::Added() const {
  std::string now = ReadFileBytes(path_);
  return now.size() > start_ ? now.substr(start_) : std::string();
}

RunCmd2Result CallRunCmd2(_QuandrelCom* object, const std::wstring& commandLine, LONG showWindow) {
  RunCmd2Result result;
  win::UniqueBstr line(commandLine);
  win::UniqueBstr text;
  result.hr = object->RunCmd2(line.get(), showWindow, text.put());
  result.resultIsNull = text.get() == nullptr;
  result.text = std::wstring(text.view());
  return result;
}

const char* NameOf(Runner runner) { return runner == Runner::kRunCmd ? "RunCmd" : "RunCmd2"; }

RunnerResult CallRunner(Runner runner, _QuandrelCom* object, const std::wstring& commandLine,
                        LONG showWindow, bool wait) {
  if (runner == Runner::kRunCmd2) {
    RunCmd2Result run = CallRunCmd2(object, commandLine, showWindow);
    return {run.hr, run.resultIsNull, run.text};
  }
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

}  // namespace korvane::test
