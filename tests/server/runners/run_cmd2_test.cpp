// RunCmd2 in the test process: what the child is given, what comes back, and the log lines.
#include <gtest/gtest.h>

#include "server/methods/runtime_error.h"
#include "tests/server/runners/inproc_fixture.h"

namespace korvane::test {
namespace {

constexpr wchar_t kFailure[] = L"failed to execute command";
constexpr wchar_t kMissingProgram[] = L"C:\\no such folder\\missing-program.exe /x";

class RunCmd2Capture : public InProcessRunner {};

TEST_F(RunCmd2Capture, StdoutAndStderrArriveInterleavedInWriteOrder) {
  auto run = CallRunCmd2(
      object_.get(), ChildCommand({L"out", L"o1", L"err", L"e1", L"out", L"o2", L"err", L"e2"}));
  ASSERT_EQ(run.hr, S_OK);
  EXPECT_EQ(run.text, L"o1\r\ne1\r\no2\r\ne2\r\n");
}

TEST_F(RunCmd2Capture, SilentChildGivesEmptyTextNotTheFailureText) {
  auto run = CallRunCmd2(object_.get(), ChildCommand({L"exit", L"0"}));
  ASSERT_EQ(run.hr, S_OK);
  EXPECT_FALSE(run.resultIsNull);
  EXPECT_EQ(run.text, L"");
}

TEST_F(RunCmd2Capture, ExitCodeHasNoInfluence) {
  auto run = CallRunCmd2(object_.get(), ChildCommand({L"out", L"x", L"exit", L"3221225477"}));
  ASSERT_EQ(run.hr, S_OK);
  EXPECT_EQ(run.text, L"x\r\n");
}

TEST_F(RunCmd2Capture, OutputOfSeveralReadsComesBackWholeAndInOrder) {
  for (uint64_t size : {10000ull, 65536ull, 65537ull, 123457ull}) {
    auto run = CallRunCmd2(object_.get(), ChildCommand({L"bytes", std::to_wstring(size)}));
    ASSERT_EQ(run.hr, S_OK);
    EXPECT_TRUE(SameLongText(run.text, PatternText(size))) << size << " bytes";
  }
}

TEST_F(RunCmd2Capture, SixtyFourMebibytesComeBackByteExact) {
  constexpr uint64_t kSize = 64ull << 20;
  auto run = CallRunCmd2(object_.get(), ChildCommand({L"bytes", std::to_wstring(kSize)}));
  ASSERT_EQ(run.hr, S_OK);
  EXPECT_TRUE(SameLongText(run.text, PatternText(kSize)));
}

TEST_F(RunCmd2Capture, AnsiBytesBeyondAsciiComeBackAsTheSameCharacters) {
  // cp1252: E9 e-acute, 80 euro sign, FC u-umlaut.
  auto run = CallRunCmd2(object_.get(), ChildCommand({L"hex", L"41E980FC42"}));
  ASSERT_EQ(run.hr, S_OK);
  EXPECT_EQ(run.text, L"A\u00E9\u20AC\u00FCB");
}

TEST_F(RunCmd2Capture, GrandchildHoldingThePipeKeepsTheCaptureOpenUntilItCloses) {
  auto run = CallRunCmd2(object_.get(), ChildCommand({L"out", L"child", L"spawn", L"sleep", L"1500",
                                                      L"out", L"grandchild"}));
  ASSERT_EQ(run.hr, S_OK);
  EXPECT_EQ(run.text, L"child\r\ngrandchild\r\n");
}

class RunCmd2Start : public InProcessRunner {};

TEST_F(RunCmd2Start, ChildGetsCommandLineShowWindowPipeAndNoStandardInput) {
  std::wstring line = ChildCommand({L"probe", L"two words"});
  auto run = CallRunCmd2(object_.get(), line, 5);
  ASSERT_EQ(run.hr, S_OK);
  std::string report = Narrow(run.text);
  EXPECT_EQ(ProbeValue(report, "cmdline"), Narrow(line));
  EXPECT_EQ(ProbeValue(report, "flags"), "257");  // STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES
  EXPECT_EQ(ProbeValue(report, "show"), "5");
  EXPECT_EQ(ProbeValue(report, "stdin"), "none");
}

TEST_F(RunCmd2Start, ShowWindowIsPassedAsItsSixteenBitPattern) {
  const std::pair<LONG, const char*> cases[] = {
      {0, "0"}, {-1, "65535"}, {32767, "32767"}, {-32768, "32768"}};
  for (const auto& [code, field] : cases) {
    auto run = CallRunCmd2(object_.get(), ChildCommand({L"probe"}), code);
    ASSERT_EQ(run.hr, S_OK);
    EXPECT_EQ(ProbeValue(Narrow(run.text), "show"), field) << "code " << code;
  }
}

TEST_F(RunCmd2Start, ProgramThatCannotStartGivesTheFailureText) {
  for (const wchar_t* line : {kMissingProgram, L""}) {
    auto run = CallRunCmd2(object_.get(), line);
    ASSERT_EQ(run.hr, S_OK);
    EXPECT_EQ(run.text, kFailure) << Narrow(line);
  }
  win::UniqueBstr text;
  ASSERT_EQ(object_->RunCmd2(nullptr, 0, text.put()), S_OK);
  EXPECT_EQ(text.view(), kFailure);
}

TEST_F(RunCmd2Start, ShowWindowOutsideSixteenBitsFailsWithOverflowAndNoResult) {
  for (LONG code : {65536L, 32768L, -32769L}) {
    auto run = CallRunCmd2(object_.get(), ChildCommand({L"exit", L"0"}), code);
    EXPECT_EQ(run.hr, static_cast<HRESULT>(0x800A0006)) << code;
    EXPECT_TRUE(run.resultIsNull) << code;
    win::ComPtr<IErrorInfo> info;
    ASSERT_EQ(::GetErrorInfo(0, info.put()), S_OK);
    win::UniqueBstr description;
    info->GetDescription(description.put());
    EXPECT_EQ(description.view(), server::DescriptionOfRuntimeError(server::kErrOverflow));
  }
}

// Every path of each runner (RunCmd's live in run_cmd_test.cpp), run again and again, leaves
// the process's handle count where it was.
struct RunnerPaths {
  const char* name;
  void (*runEveryPath)(_QuandrelCom* object);
};

void RunCmdPaths(_QuandrelCom* object) {
  const std::pair<std::wstring, VARIANT_BOOL> cases[] = {
      {ChildCommand({L"exit", L"0"}), VARIANT_TRUE},
      {ChildCommand({L"exit", L"0"}), VARIANT_FALSE},
      {kMissingProgram, VARIANT_TRUE}};
  for (const auto& [line, wait] : cases) {
    win::UniqueBstr text(line);
    VARIANT_BOOL started = 0;
    EXPECT_EQ(object->RunCmd(text.get(), 0, wait, &started), S_OK) << Narrow(line);
  }
}

void RunCmd2Paths(_QuandrelCom* object) {
  CallRunCmd2(object, ChildCommand({L"out", L"x"}));
  CallRunCmd2(object, ChildCommand({L"out", L"x"}), 70000);
  CallRunCmd2(object, kMissingProgram);
}

void PrintTo(const RunnerPaths& paths, std::ostream* out) { *out << paths.name; }

class NoHandleLeftBehind : public InProcessRunner,
                           public ::testing::WithParamInterface<RunnerPaths> {};

TEST_P(NoHandleLeftBehind, OnAnyPath) {
  GetParam().runEveryPath(object_.get());  // first use settles what the process keeps for good
  const size_t before = HandleCountOf(::GetCurrentProcessId());
  ASSERT_NE(before, 0u);
  for (int i = 0; i < 10; ++i) GetParam().runEveryPath(object_.get());
  EXPECT_EQ(HandleCountOf(::GetCurrentProcessId()), before);
}

INSTANTIATE_TEST_SUITE_P(Runners, NoHandleLeftBehind,
                         ::testing::Values(RunnerPaths{"RunCmd", RunCmdPaths},
                                           RunnerPaths{"RunCmd2", RunCmd2Paths}),
                         [](const auto& info) { return std::string(info.param.name); });

class RunCmd2Log : public InProcessRunner {};

// The captured text, or nothing for a silent child, is logged after the command line.
TEST_F(RunCmd2Log, CapturedTextIsLoggedAfterTheCommandLineEmptyForASilentChild) {
  EnableLog(true);
  const std::pair<std::wstring, std::string> cases[] = {
      {ChildCommand({L"out", L"one", L"hex", L"E980FC"}), "one\r\n\xE9\x80\xFC"},
      {ChildCommand({L"exit", L"0"}), ""}};
  for (const auto& [line, captured] : cases) {
    FileGrowth log(LogPath());
    ASSERT_EQ(CallRunCmd2(object_.get(), line).hr, S_OK);
    std::vector<std::string> expected = {"[RunCmd2] strCmd = " + Narrow(line),
                                         "[RunCmd2] strReturn=" + captured};
    EXPECT_EQ(LogMessages(log.Added()), expected);
  }
}

TEST_F(RunCmd2Log, FailedStartLogsPosition20001WithThePlatformCode) {
  EnableLog(true);
  FileGrowth log(LogPath());
  ASSERT_EQ(CallRunCmd2(object_.get(), kMissingProgram).hr, S_OK);
  ASSERT_EQ(CallRunCmd2(object_.get(), L"").hr, S_OK);
  std::vector<std::string> messages = LogMessages(log.Added());
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[0], "[RunCmd2] strCmd = " + Narrow(kMissingProgram));
  EXPECT_EQ(messages[1], "[RunCmd2] Pos=20001, ErrorCode=" + std::to_string(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(messages[2], "[RunCmd2] strCmd = ");
  EXPECT_EQ(messages[3].rfind("[RunCmd2] Pos=20001, ErrorCode=", 0), 0u) << messages[3];
}

TEST_F(RunCmd2Log, OverflowComesAfterTheCommandLineIsLogged) {
  EnableLog(true);
  FileGrowth log(LogPath());
  std::wstring line = ChildCommand({L"exit", L"0"});
  ASSERT_EQ(CallRunCmd2(object_.get(), line, 65536).hr, static_cast<HRESULT>(0x800A0006));
  std::vector<std::string> expected = {"[RunCmd2] strCmd = " + Narrow(line)};
  EXPECT_EQ(LogMessages(log.Added()), expected);
}

TEST_F(RunCmd2Log, WithTheSwitchClearResultsAreTheSameAndNothingIsWritten) {
  FileGrowth log(LogPath());
  EXPECT_EQ(CallRunCmd2(object_.get(), ChildCommand({L"out", L"x"})).text, L"x\r\n");
  EXPECT_EQ(CallRunCmd2(object_.get(), kMissingProgram).text, kFailure);
  EXPECT_EQ(CallRunCmd2(object_.get(), L"x", 65536).hr, static_cast<HRESULT>(0x800A0006));
  EXPECT_EQ(log.Added(), "");
}

}  // namespace
}  // namespace korvane::test
