// RunCmd and RunCmd2 in the test process: what both do alike (the runner a parameter), what
// each answers and logs (RunCmd2's captured output among it), then RunCmd's waiting and not
// waiting.
#include <gtest/gtest.h>

#include "common/win/unique_handle.h"
#include "server/methods/runtime_error.h"
#include "tests/server/runners/inproc_fixture.h"

namespace korvane::test {
namespace {

constexpr wchar_t kMissingProgram[] = L"C:\\no such folder\\missing-program.exe /x";
constexpr wchar_t kFailure[] = L"failed to execute command";
constexpr HRESULT kOverflow = static_cast<HRESULT>(0x800A0006);

class BothRunners : public InProcessRunner, public ::testing::WithParamInterface<Runner> {};

INSTANTIATE_TEST_SUITE_P(Runners, BothRunners, ::testing::Values(Runner::kRunCmd, Runner::kRunCmd2),
                         [](const auto& info) { return std::string(NameOf(info.param)); });

// The child's start-up information says show-window alone (RunCmd) or with the pipe and no
// standard input (RunCmd2), and the show-window value as its sixteen-bit pattern. Besides its
// output the child holds only the pipes this process had made inheritable before (RunCmd2's
// children inherit; RunCmd's inherit nothing): RunCmd2's read end stays with the server.
TEST_P(BothRunners, ChildGetsTheCommandLineAndTheShowWindowAsItsSixteenBitPattern) {
  const bool runCmd2 = GetParam() == Runner::kRunCmd2;
  const std::pair<LONG, const char*> cases[] = {{0, "0"}, {-1, "65535"},    {3, "3"},
                                                {5, "5"}, {32767, "32767"}, {-32768, "32768"}};
  int inheritablePipes = 0;
  for (uintptr_t value = 4; value < 0x10000; value += 4) {
    DWORD flags = 0;
    HANDLE handle = reinterpret_cast<HANDLE>(value);
    if (::GetHandleInformation(handle, &flags) && (flags & HANDLE_FLAG_INHERIT) &&
        ::GetFileType(handle) == FILE_TYPE_PIPE)
      ++inheritablePipes;
  }
  for (const auto& [code, field] : cases) {
    SCOPED_TRACE(code);
    const std::wstring reportFile = temp_ / (L"report " + std::to_wstring(code));  // quoted
    const std::wstring line = ChildCommand({L"report", reportFile});
    RunnerResult run = CallRunner(GetParam(), object_.get(), line, code);
    ASSERT_EQ(run.hr, S_OK);
    EXPECT_EQ(run.text, runCmd2 ? L"" : L"True");
    const std::string report = ReadFileBytes(reportFile);
    EXPECT_EQ(ProbeValue(report, "cmdline"), Narrow(line));
    // STARTF_USESHOWWINDOW, with STARTF_USESTDHANDLES for RunCmd2's pipe.
    EXPECT_EQ(ProbeValue(report, "flags"), runCmd2 ? "257" : "1");
    EXPECT_EQ(ProbeValue(report, "show"), field);
    EXPECT_EQ(ProbeValue(report, "pipes"), std::to_string(runCmd2 ? inheritablePipes : 0));
    if (runCmd2) {
      EXPECT_EQ(ProbeValue(report, "stdin"), "none");
    }
  }
}

// Every path of each runner, run again and again, leaves the process's handle count where it was.
TEST_P(BothRunners, NoHandleIsLeftBehindOnAnyPath) {
  auto runEveryPath = [this] {
    for (bool wait : {true, false})
      EXPECT_EQ(CallRunner(GetParam(), object_.get(), ChildCommand({L"out", L"x"}), 0, wait).hr,
                S_OK);
    EXPECT_EQ(CallRunner(GetParam(), object_.get(), kMissingProgram).hr, S_OK);
    EXPECT_EQ(CallRunner(GetParam(), object_.get(), ChildCommand({L"out", L"x"}), 70000).hr,
              kOverflow);
  };
  runEveryPath();  // first use settles what the process keeps for good
  const size_t before = HandleCountOf(::GetCurrentProcessId());
  ASSERT_NE(before, 0u);
  for (int i = 0; i < 10; ++i) runEveryPath();
  EXPECT_EQ(HandleCountOf(::GetCurrentProcessId()), before);
}

// One call and what it answers and logs. In the expected messages "{cmd}" stands for the command
// line, and a message ending in '*' is matched by what comes before it.
struct Outcome {
  const char* name;
  Runner runner;
  std::vector<std::wstring> steps;  // the child's; none: `line` as it is
  const wchar_t* line;
  LONG show;
  bool log;  // the debug switch
  HRESULT hr;
  const wchar_t* text;  // the result on success
  std::vector<std::string> messages;
  uint64_t pattern = 0;  // instead of `text`: the child's "bytes" pattern of this length
};

void PrintTo(const Outcome& outcome, std::ostream* out) { *out << outcome.name; }

constexpr Runner kCmd = Runner::kRunCmd, kCmd2 = Runner::kRunCmd2;
const std::string kStrCmd = "[RunCmd] strCmd = {cmd}", kStrCmd2 = "[RunCmd2] strCmd = {cmd}";
const std::string kNotFound = "ErrorCode=" + std::to_string(ERROR_FILE_NOT_FOUND);

// A failed start is logged with the position and the platform's code; an overflow comes before
// RunCmd logs anything but after RunCmd2 logged its command line; with the switch clear the
// results are the same and nothing is written. RunCmd2 captures stdout and stderr in write order,
// the empty text (not the failure text) from a silent child, whatever the exit code, reads of any
// length whole and in order, ANSI beyond ASCII (cp1252 E9, 80, FC) as the same characters, and
// what a grandchild still holding the pipe writes.
// clang-format off
const Outcome kOutcomes[] = {
    {"RunCmdSuccess", kCmd, {L"exit", L"3"}, nullptr, 0, true, S_OK, L"True", {kStrCmd}},
    {"RunCmd2Success", kCmd2, {L"out", L"one", L"hex", L"E980FC"}, nullptr, 0, true, S_OK, L"one\r\n\u00E9\u20AC\u00FC", {kStrCmd2, "[RunCmd2] strReturn=one\r\n\xE9\x80\xFC"}},
    {"RunCmd2SilentChild", kCmd2, {L"exit", L"0"}, nullptr, 0, true, S_OK, L"", {kStrCmd2, "[RunCmd2] strReturn="}},
    {"RunCmdMissingProgram", kCmd, {}, kMissingProgram, 0, true, S_OK, L"False", {kStrCmd, "[RunCmd] Pos=10001, " + kNotFound}},
    {"RunCmd2MissingProgram", kCmd2, {}, kMissingProgram, 0, true, S_OK, kFailure, {kStrCmd2, "[RunCmd2] Pos=20001, " + kNotFound}},
    {"RunCmdEmptyLine", kCmd, {}, L"", 0, true, S_OK, L"False", {kStrCmd, "[RunCmd] Pos=10001, ErrorCode=*"}},
    {"RunCmd2EmptyLine", kCmd2, {}, L"", 0, true, S_OK, kFailure, {kStrCmd2, "[RunCmd2] Pos=20001, ErrorCode=*"}},
    {"RunCmdOverflow", kCmd, {L"exit", L"0"}, nullptr, 65536, true, kOverflow, nullptr, {}},
    {"RunCmd2Overflow", kCmd2, {L"exit", L"0"}, nullptr, 65536, true, kOverflow, nullptr, {kStrCmd2}},
    {"RunCmdSwitchClear", kCmd, {L"exit", L"3"}, nullptr, 0, false, S_OK, L"True", {}},
    {"RunCmdSwitchClearMissingProgram", kCmd, {}, kMissingProgram, 0, false, S_OK, L"False", {}},
    {"RunCmd2SwitchClear", kCmd2, {L"out", L"x"}, nullptr, 0, false, S_OK, L"x\r\n", {}},
    {"RunCmd2SwitchClearMissingProgram", kCmd2, {}, kMissingProgram, 0, false, S_OK, kFailure, {}},
    {"RunCmd2SwitchClearOverflow", kCmd2, {}, L"x", 65536, false, kOverflow, nullptr, {}},
    {"RunCmd2CaptureInterleaved", kCmd2, {L"out", L"o1", L"err", L"e1", L"out", L"o2", L"err", L"e2"}, nullptr, 0, false, S_OK, L"o1\r\ne1\r\no2\r\ne2\r\n", {}},
    {"RunCmd2CaptureSilentChild", kCmd2, {L"exit", L"0"}, nullptr, 0, false, S_OK, L"", {}},
    {"RunCmd2CaptureExitCodeIgnored", kCmd2, {L"out", L"x", L"exit", L"3221225477"}, nullptr, 0, false, S_OK, L"x\r\n", {}},
    {"RunCmd2CaptureSeveralReads", kCmd2, {L"bytes", L"10000"}, nullptr, 0, false, S_OK, nullptr, {}, 10000},
    {"RunCmd2CaptureOnePipeBuffer", kCmd2, {L"bytes", L"65536"}, nullptr, 0, false, S_OK, nullptr, {}, 65536},
    {"RunCmd2CaptureOneBytePastThePipeBuffer", kCmd2, {L"bytes", L"65537"}, nullptr, 0, false, S_OK, nullptr, {}, 65537},
    {"RunCmd2CaptureOddLength", kCmd2, {L"bytes", L"123457"}, nullptr, 0, false, S_OK, nullptr, {}, 123457},
    {"RunCmd2Capture64MiB", kCmd2, {L"bytes", std::to_wstring(64ull << 20)}, nullptr, 0, false, S_OK, nullptr, {}, 64ull << 20},
    {"RunCmd2CaptureAnsiBeyondAscii", kCmd2, {L"hex", L"41E980FC42"}, nullptr, 0, false, S_OK, L"A\u00E9\u20AC\u00FCB", {}},
    {"RunCmd2CaptureGrandchildHoldingThePipe", kCmd2, {L"out", L"child", L"spawn", L"sleep", L"1500", L"out", L"grandchild"}, nullptr, 0, false, S_OK, L"child\r\ngrandchild\r\n", {}},
};
// clang-format on

class RunnerOutcome : public InProcessRunner, public ::testing::WithParamInterface<Outcome> {};

TEST_P(RunnerOutcome, AnswerAndLogLines) {
  const Outcome& row = GetParam();
  EnableLog(row.log);
  const std::wstring line = row.line ? row.line : ChildCommand(row.steps);
  FileGrowth log(LogPath());
  RunnerResult run = CallRunner(row.runner, object_.get(), line, row.show);
  EXPECT_EQ(run.hr, row.hr);
  if (SUCCEEDED(row.hr)) {
    EXPECT_FALSE(run.noResult);
    if (row.pattern)
      EXPECT_TRUE(SameLongText(run.text, PatternText(row.pattern)));
    else
      EXPECT_EQ(run.text, row.text);
  } else {
    EXPECT_TRUE(run.noResult) << "a failed call delivers no result";
    EXPECT_EQ(TakeErrorDescription(),
              server::methods::DescriptionOfRuntimeError(server::methods::kErrOverflow));
  }
  std::vector<std::string> messages = LogMessages(log.Added()), expected = row.messages;
  for (size_t i = 0; i < expected.size(); ++i) {
    if (size_t at = expected[i].find("{cmd}"); at != std::string::npos)
      expected[i].replace(at, 5, Narrow(line));
    const size_t prefix = expected[i].size() - 1;  // "...*": a prefix is enough
    if (i < messages.size() && expected[i].back() == '*' && messages[i].size() >= prefix)
      messages[i] = messages[i].substr(0, prefix) + "*";
  }
  EXPECT_EQ(messages, expected);
}

INSTANTIATE_TEST_SUITE_P(Runners, RunnerOutcome, ::testing::ValuesIn(kOutcomes),
                         [](const auto& info) { return std::string(info.param.name); });

using RunCmdTest = InProcessRunner;

// Any non-zero bWait waits: C's TRUE (1) from a client that stores it so as well.
TEST_F(RunCmdTest, WaitingReturnsTrueOnlyAfterTheChildEndedWhateverItsExitCode) {
  for (VARIANT_BOOL wait : {VARIANT_TRUE, VARIANT_BOOL{1}}) {
    std::wstring marker = temp_ / (L"ended" + std::to_wstring(wait));
    win::UniqueBstr line{
        std::wstring_view(ChildCommand({L"sleep", L"300", L"pidfile", marker, L"exit", L"3"}))};
    VARIANT_BOOL started = VARIANT_FALSE;
    ASSERT_EQ(object_->RunCmd(line.get(), 0, wait, &started), S_OK);
    EXPECT_EQ(started, VARIANT_TRUE);
    EXPECT_TRUE(FileExists(marker)) << "returned before the child ended, bWait " << wait;
  }
}

// Not waiting, RunCmd answers false at once for a program that cannot start, and true while a
// child that started runs on.
TEST_F(RunCmdTest, WithoutWaitingReturnsTrueWhileTheChildRunsOn) {
  for (const wchar_t* line : {kMissingProgram, L""})
    EXPECT_EQ(CallRunner(Runner::kRunCmd, object_.get(), line, 0, false).text, L"False");
  std::wstring eventName = L"runcmd-release-" + std::to_wstring(::GetCurrentProcessId());
  win::UniqueHandle release(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
  ASSERT_TRUE(release.valid());
  std::wstring pidFile = temp_ / L"pid";
  const std::wstring line = ChildCommand({L"pidfile", pidFile, L"wait-event", eventName});
  ASSERT_EQ(CallRunner(Runner::kRunCmd, object_.get(), line, 0, false).text, L"True");

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

}  // namespace
}  // namespace korvane::test
