// QuandrelRunCmd: the engine executable beside the server, run through RunCmd2.
#include <gtest/gtest.h>

#include "common/win/unique_handle.h"
#include "tests/server/engine_callers/engine_caller_fixture.h"

namespace korvane::test {
namespace {

using Lines = std::vector<std::string>;

class QuandrelRunCmdTest : public EngineCallerTest {
 protected:
  explicit QuandrelRunCmdTest(std::wstring_view folder = L"server") : EngineCallerTest(folder) {}
  void PutEngine(const char* builtFile) { Put(builtFile, L"quandrel.dll"); }
  // Calls the method and returns its text; the status must be success.
  std::string Call(std::wstring_view argument) {
    win::UniqueBstr in{argument};
    win::UniqueBstr out;
    HRESULT hr = object_->QuandrelRunCmd(in.get(), out.put());
    EXPECT_EQ(hr, S_OK);
    return Narrow(out.view());
  }
  std::string EnginePath() { return Narrow(server_.file(L"quandrel.dll")); }
};

TEST_F(QuandrelRunCmdTest, MissingEngineGivesTheNotFoundMessageAndStartsNothing) {
  object_->EnableDebugLog(VARIANT_TRUE);
  EXPECT_EQ(Call(L"in.txt out.html"), EnginePath() + " file is not exist.");
  EXPECT_EQ(LogMessages(server_.ReadLog()),
            (Lines{"QuandrelRunCmd:strExeName=" + EnginePath(), "QuandrelRunCmd:lSize=-1",
                   "Quandrel: " + EnginePath() + " file is not exist."}));
}

TEST_F(QuandrelRunCmdTest, PresentEngineOutputIsTheResultAndEveryStepIsLogged) {
  PutEngine(KORVANE_ECHO_ENGINE);
  object_->EnableDebugLog(VARIANT_TRUE);
  const std::string commandLine = "\"" + EnginePath() + "\" in.pdf out.txt";
  EXPECT_EQ(Call(L"in.pdf out.txt"), commandLine);
  const std::string size = std::to_string(ReadFileBytes(server_.file(L"quandrel.dll")).size());
  EXPECT_EQ(LogMessages(server_.ReadLog()),
            (Lines{"QuandrelRunCmd:strExeName=" + EnginePath(), "QuandrelRunCmd:lSize=" + size,
                   "QuandrelRunCmd: " + commandLine, "[RunCmd2] strCmd = " + commandLine,
                   "[RunCmd2] strReturn=" + commandLine, "QuandrelRunCmd: " + commandLine}));
}

TEST_F(QuandrelRunCmdTest, ClientTextIsPassedUnchangedAfterOneSpace) {
  PutEngine(KORVANE_ECHO_ENGINE);
  EXPECT_EQ(Call(L""), "\"" + EnginePath() + "\" ");
  EXPECT_EQ(Call(L"  \"a b\" c\"d"), "\"" + EnginePath() + "\"   \"a b\" c\"d");
}

TEST_F(QuandrelRunCmdTest, SilentEngineGivesEmptyTextAndAnEmptyLastLine) {
  PutEngine(KORVANE_ECHO_ENGINE);
  object_->EnableDebugLog(VARIANT_TRUE);
  EXPECT_EQ(Call(L"--silent"), "");
  Lines messages = LogMessages(server_.ReadLog());
  ASSERT_EQ(messages.size(), 6u);
  EXPECT_EQ(messages[4], "[RunCmd2] strReturn=");
  EXPECT_EQ(messages[5], "QuandrelRunCmd: ");
}

TEST_F(QuandrelRunCmdTest, EmptyEngineFileIsNotMissingButCannotStart) {
  WriteFileBytes(server_.file(L"quandrel.dll"), "");
  object_->EnableDebugLog(VARIANT_TRUE);
  EXPECT_EQ(Call(L"x"), "failed to execute command");
  Lines messages = LogMessages(server_.ReadLog());
  ASSERT_EQ(messages.size(), 6u);
  EXPECT_EQ(messages[1], "QuandrelRunCmd:lSize=0");
  EXPECT_EQ(messages[3], "[RunCmd2] strCmd = \"" + EnginePath() + "\" x");
  EXPECT_EQ(messages[4].rfind("[RunCmd2] Pos=20001, ErrorCode=", 0), 0u) << messages[4];
  EXPECT_EQ(messages[5], "QuandrelRunCmd: failed to execute command");
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
  std::string script =
      "Set fso = CreateObject(\"Scripting.FileSystemObject\")\r\n"
      "t0 = Timer\r\n"
      "Do While Not fso.FileExists(\"" +
      Narrow(marker) +
      ".started\") And Timer - t0 < 30\r\n"
      "Loop\r\n"
      "Set o = CreateObject(\"Korvane.QuandrelCom\")\r\n"
      "r = o.QuandrelRunCmd(\"from-second\")\r\n"
      "If InStr(r, \"from-second\") > 0 Then fso.CreateTextFile(\"" +
      Narrow(marker) + "\").Close\r\n";
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
