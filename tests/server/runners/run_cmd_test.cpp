// RunCmd in the test process: start, optional wait, result and log lines.
#include <gtest/gtest.h>

#include "common/win/unique_handle.h"
#include "tests/server/runners/inproc_fixture.h"

namespace korvane::test {
namespace {

constexpr wchar_t kMissingProgram[] = L"C:\\no such folder\\missing-program.exe /x";

class RunCmdTest : public InProcessRunner {
 protected:
  HRESULT Run(const std::wstring& line, LONG show, bool wait, VARIANT_BOOL* result) {
    win::UniqueBstr text(line);
    return object_->RunCmd(text.get(), show, wait ? VARIANT_TRUE : VARIANT_FALSE, result);
  }
  VARIANT_BOOL RunOk(const std::wstring& line, LONG show = 0, bool wait = true) {
    VARIANT_BOOL result = 0x1234;
    EXPECT_EQ(Run(line, show, wait, &result), S_OK);
    return result;
  }
  TempDir temp_{L"runcmd"};
};

TEST_F(RunCmdTest, ChildGetsCommandLineAndShowWindowOnly) {
  const std::pair<LONG, const char*> cases[] = {{0, "0"}, {-1, "65535"}, {3, "3"}};
  for (const auto& [code, field] : cases) {
    std::wstring reportFile = temp_ / (L"report" + std::to_wstring(code));
    std::wstring line = ChildCommand({L"report", reportFile});
    ASSERT_EQ(RunOk(line, code), VARIANT_TRUE);
    std::string report = ReadFileBytes(reportFile);
    EXPECT_EQ(ProbeValue(report, "cmdline"), Narrow(line));
    EXPECT_EQ(ProbeValue(report, "flags"), "1");  // STARTF_USESHOWWINDOW alone
    EXPECT_EQ(ProbeValue(report, "show"), field) << "code " << code;
  }
}

TEST_F(RunCmdTest, WaitingReturnsTrueOnlyAfterTheChildEndedWhateverItsExitCode) {
  std::wstring marker = temp_ / L"ended";
  ASSERT_EQ(RunOk(ChildCommand({L"sleep", L"300", L"pidfile", marker, L"exit", L"3"})),
            VARIANT_TRUE);
  EXPECT_TRUE(FileExists(marker)) << "returned before the child ended";
}

TEST_F(RunCmdTest, WithoutWaitingReturnsTrueWhileTheChildRunsOn) {
  std::wstring eventName = L"runcmd-release-" + std::to_wstring(::GetCurrentProcessId());
  win::UniqueHandle release(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
  ASSERT_TRUE(release.valid());
  std::wstring pidFile = temp_ / L"pid";
  ASSERT_EQ(RunOk(ChildCommand({L"pidfile", pidFile, L"wait-event", eventName}), 0, false),
            VARIANT_TRUE);

  DWORD pid = ReadPidFile(pidFile);
  win::UniqueHandle child(
      ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  ASSERT_TRUE(child.valid()) << "error " << ::GetLastError();
  EXPECT_EQ(::WaitForSingleObject(child.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  // The child ends on its own once released.
  ::SetEvent(release.get());
  ASSERT_EQ(::WaitForSingleObject(child.get(), 60000), WAIT_OBJECT_0);
  DWORD code = 1;
  ::GetExitCodeProcess(child.get(), &code);
  EXPECT_EQ(code, 0u);
}

TEST_F(RunCmdTest, ProgramThatCannotStartGivesFalse) {
  for (bool wait : {true, false}) {
    EXPECT_EQ(RunOk(kMissingProgram, 0, wait), VARIANT_FALSE);
    EXPECT_EQ(RunOk(L"", 0, wait), VARIANT_FALSE);
  }
}

TEST_F(RunCmdTest, ShowWindowOutsideSixteenBitsFailsWithOverflowAndNoResult) {
  for (LONG code : {65536L, 32768L, -32769L}) {
    VARIANT_BOOL result = 0x1234;
    EXPECT_EQ(Run(ChildCommand({L"exit", L"0"}), code, true, &result),
              static_cast<HRESULT>(0x800A0006));
    EXPECT_EQ(result, 0x1234) << "a failed call delivers no result";
  }
}

class RunCmdLog : public RunCmdTest {};

TEST_F(RunCmdLog, SuccessLogsOnlyTheCommandLine) {
  EnableLog(true);
  FileGrowth log(LogPath());
  std::wstring line = ChildCommand({L"exit", L"3"});
  ASSERT_EQ(RunOk(line), VARIANT_TRUE);
  std::vector<std::string> expected = {"[RunCmd] strCmd = " + Narrow(line)};
  EXPECT_EQ(LogMessages(log.Added()), expected);
}

TEST_F(RunCmdLog, FailedStartLogsPosition10001WithThePlatformCode) {
  EnableLog(true);
  FileGrowth log(LogPath());
  ASSERT_EQ(RunOk(kMissingProgram), VARIANT_FALSE);
  ASSERT_EQ(RunOk(L""), VARIANT_FALSE);
  std::vector<std::string> messages = LogMessages(log.Added());
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[0], "[RunCmd] strCmd = " + Narrow(kMissingProgram));
  EXPECT_EQ(messages[1], "[RunCmd] Pos=10001, ErrorCode=" + std::to_string(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(messages[2], "[RunCmd] strCmd = ");
  EXPECT_EQ(messages[3].rfind("[RunCmd] Pos=10001, ErrorCode=", 0), 0u) << messages[3];
}

TEST_F(RunCmdLog, OverflowLogsNothing) {
  EnableLog(true);
  FileGrowth log(LogPath());
  VARIANT_BOOL result = 0;
  ASSERT_EQ(Run(ChildCommand({L"exit", L"0"}), 65536, true, &result),
            static_cast<HRESULT>(0x800A0006));
  EXPECT_EQ(log.Added(), "");
}

TEST_F(RunCmdLog, WithTheSwitchClearResultsAreTheSameAndNothingIsWritten) {
  FileGrowth log(LogPath());
  EXPECT_EQ(RunOk(ChildCommand({L"exit", L"3"})), VARIANT_TRUE);
  EXPECT_EQ(RunOk(kMissingProgram), VARIANT_FALSE);
  EXPECT_EQ(log.Added(), "");
}

}  // namespace
}  // namespace korvane::test
