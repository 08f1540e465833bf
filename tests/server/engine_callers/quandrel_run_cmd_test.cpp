// QuandrelRunCmd: the engine executable beside the server, run through RunCmd2.
#include <gtest/gtest.h>

#include <tuple>

#include "common/win/unique_handle.h"
#include "testing/support/server_install.h"

namespace korvane::test {
namespace {

using Lines = std::vector<std::string>;

class QuandrelRunCmdTest : public ServerObjectTest {
 protected:
  explicit QuandrelRunCmdTest(std::wstring_view folder = L"server") : ServerObjectTest(folder) {}
  void PutEngine(const char* built) {
    CopyFileOrFail(WindowsPathOf(built), server_.file(L"quandrel.dll"));
  }
  // Calls the method and returns its text; the status must be success.
  std::string Call(std::wstring_view argument) {
    win::UniqueBstr in{argument}, out;
    EXPECT_EQ(object_->QuandrelRunCmd(in.get(), out.put()), S_OK);
    return Narrow(out.view());
  }
  std::string EnginePath() { return Narrow(server_.file(L"quandrel.dll")); }
};

// No engine file, or a folder of its name.
TEST_F(QuandrelRunCmdTest, MissingEngineGivesTheNotFoundMessageAndStartsNothing) {
  ASSERT_EQ(object_->EnableDebugLog(VARIANT_TRUE), S_OK);
  for (bool folder : {false, true}) {
    SCOPED_TRACE(folder ? "folder" : "missing");
    ::DeleteFileW(server_.logPath().c_str());
    if (folder) {
      ASSERT_TRUE(::CreateDirectoryW(server_.file(L"quandrel.dll").c_str(), nullptr));
    }
    EXPECT_EQ(Call(L"in.txt out.html"), EnginePath() + " file is not exist.");
    EXPECT_EQ(LogMessages(server_.ReadLog()),
              (Lines{"QuandrelRunCmd:strExeName=" + EnginePath(), "QuandrelRunCmd:lSize=-1",
                     "Quandrel: " + EnginePath() + " file is not exist."}));
  }
}

// The echoing engine's output (none with --silent), the failure to start an empty file (not
// missing, but no program) or a program for a machine this Windows does not run, or nothing from
// an engine program whose process ends before it starts (a library it needs is nowhere) is the
// result; every step is logged, the system's error code aside.
TEST_F(QuandrelRunCmdTest, EngineOutputOrStartFailureIsTheResultAndEveryStepIsLogged) {
  ASSERT_EQ(object_->EnableDebugLog(VARIANT_TRUE), S_OK);
  const std::string exe = "\"" + EnginePath() + "\" ";
  // clang-format off
  struct Row {
    const char* engine;  // none: an empty file
    std::wstring argument;
    std::string result, runCmd2;
    bool arm64 = false;  // the engine's header says ARM64
  } rows[] = {
      {KORVANE_ECHO_ENGINE, L"in.pdf out.txt", exe + "in.pdf out.txt", "strReturn=" + exe + "in.pdf out.txt"},
      {KORVANE_ECHO_ENGINE, L"--silent", "", "strReturn="},
      {nullptr, L"x", "failed to execute command", "Pos=20001, ErrorCode="},
      {KORVANE_DEPENDENT_PROGRAM, L"y", "", "strReturn="},
      {KORVANE_ECHO_ENGINE, L"z", "failed to execute command", "Pos=20001, ErrorCode=", true},
  };
  // clang-format on
  for (const auto& [engine, argument, result, runCmd2, arm64] : rows) {
    SCOPED_TRACE(Narrow(argument));
    ::DeleteFileW(server_.logPath().c_str());
    if (engine) PutEngine(engine);
    if (!engine) WriteFileBytes(server_.file(L"quandrel.dll"), "");
    if (arm64) SetMachine(server_.file(L"quandrel.dll"), 0xaa64);
    EXPECT_EQ(Call(argument), result);
    const std::string size = std::to_string(ReadFileBytes(server_.file(L"quandrel.dll")).size());
    const std::string commandLine = exe + Narrow(argument);
    Lines log = LogMessages(server_.ReadLog());
    for (std::string& line : log)
      if (line.find("ErrorCode=") != std::string::npos) line.erase(line.find("ErrorCode=") + 10);
    EXPECT_EQ(log,
              (Lines{"QuandrelRunCmd:strExeName=" + EnginePath(), "QuandrelRunCmd:lSize=" + size,
                     "QuandrelRunCmd: " + commandLine, "[RunCmd2] strCmd = " + commandLine,
                     "[RunCmd2] " + runCmd2, "QuandrelRunCmd: " + result}));
  }
}

TEST_F(QuandrelRunCmdTest, ClientTextIsPassedUnchangedAfterOneSpace) {
  PutEngine(KORVANE_ECHO_ENGINE);
  EXPECT_EQ(Call(L""), "\"" + EnginePath() + "\" ");
  EXPECT_EQ(Call(L"  \"a b\" c\"d"), "\"" + EnginePath() + "\"   \"a b\" c\"d");
}

// The engine is looked up anew on every call. With the switch clear the results are those of the
// logged calls above, and nothing is written.
TEST_F(QuandrelRunCmdTest, SeesAnEngineAddedOrRemovedBetweenCalls) {
  EXPECT_EQ(Call(L"a"), EnginePath() + " file is not exist.");
  PutEngine(KORVANE_ECHO_ENGINE);
  EXPECT_EQ(Call(L"a"), "\"" + EnginePath() + "\" a");
  ASSERT_TRUE(::DeleteFileW(server_.file(L"quandrel.dll").c_str()));
  EXPECT_EQ(Call(L"a"), EnginePath() + " file is not exist.");
  EXPECT_FALSE(FileExists(server_.logPath()));
}

TEST_F(QuandrelRunCmdTest, ReferenceEngineConvertsADocument) {
  PutEngine(KORVANE_ENGINE_EXE);
  std::wstring input = server_.file(L"notes.txt");
  WriteFileBytes(input, "a < b\r\n");
  std::string report = Call(L"-to html \"" + input + L"\"");
  EXPECT_NE(report.find("converted"), std::string::npos) << report;
  std::string html = ReadFileBytes(server_.file(L"notes.html"));
  EXPECT_NE(html.find("a &lt; b"), std::string::npos) << html;
}

class QuandrelRunCmdInFolderWithSpaces : public QuandrelRunCmdTest {
 protected:
  QuandrelRunCmdInFolderWithSpaces() : QuandrelRunCmdTest(L"my server folder") {}
};

TEST_F(QuandrelRunCmdInFolderWithSpaces, QuotedPathStaysOneProgramToken) {
  PutEngine(KORVANE_ECHO_ENGINE);
  EXPECT_NE(EnginePath().find(' '), std::string::npos);
  EXPECT_EQ(Call(L"in.pdf"), "\"" + EnginePath() + "\" in.pdf");
}

// A second client's call is served while the first one's engine runs: the engine waits for a
// file that only the second client's finished call creates.
TEST_F(QuandrelRunCmdTest, SecondClientIsServedWhileTheEngineRuns) {
  PutEngine(KORVANE_ECHO_ENGINE);
  std::wstring marker = server_.file(L"second-client-done");
  // The second client calls once the first one's engine is running (Wine's script host has no
  // WScript.Sleep, so it polls the clock).
  const std::string done = Narrow(marker);
  const std::string script = R"(Set fso = CreateObject("Scripting.FileSystemObject")
t0 = Timer
Do While Not fso.FileExists(")" +
                             done + R"(.started") And Timer - t0 < 30
Loop
Set o = CreateObject("Korvane.QuandrelCom")
r = o.QuandrelRunCmd("from-second")
If InStr(r, "from-second") > 0 Then fso.CreateTextFile(")" +
                             done + R"(").Close
)";
  WriteFileBytes(server_.file(L"second.vbs"), script);
  win::UniqueHandle process =
      StartWithOutputFile(L"cscript.exe //nologo \"" + server_.file(L"second.vbs") + L"\"",
                          server_.file(L"second.out"));
  ASSERT_TRUE(process);

  EXPECT_EQ(Call(L"--wait-for \"" + marker + L"\""), "seen");
  EXPECT_EQ(::WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
}

}  // namespace
}  // namespace korvane::test
