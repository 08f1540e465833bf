// The server driven by Wine's script host, VBScript and JScript, as automation users drive it.
#include <gtest/gtest.h>

#include <string>

#include "testing/support/server_install.h"

namespace korvane::test {
namespace {

class ScriptClients : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(install_.Register()); }

  // Runs the script and returns what it printed, lines joined by '|'.
  std::string Run(std::wstring_view extension, std::string_view script) {
    ProcessResult run = RunScript(install_, extension, script);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    std::string lines;
    for (char c : run.output) {
      if (c == '\r') continue;
      lines += c == '\n' ? '|' : c;
    }
    return lines;
  }

  ServerInstall install_{L"scripted copy"};
};

TEST_F(ScriptClients, VbscriptSeesAndSwitchesTheDebugFlag) {
  EXPECT_EQ(Run(L"vbs", R"(Set o = CreateObject("Korvane.QuandrelCom")
WScript.Echo "new=" & o.g_isDebug
o.EnableDebugLog True
WScript.Echo "enabled=" & o.g_isDebug
o.EnableDebugLog False
WScript.Echo "disabled=" & o.g_isDebug
o.g_isDebug = True
WScript.Echo "put=" & o.g_isDebug
Set p = CreateObject("Korvane.QuandrelCom")
WScript.Echo "other=" & p.g_isDebug
)"),
            "new=False|enabled=True|disabled=False|put=True|other=False|");
}

TEST_F(ScriptClients, JscriptSeesAndSwitchesTheDebugFlag) {
  EXPECT_EQ(Run(L"js", R"(var o = new ActiveXObject("Korvane.QuandrelCom");
WScript.Echo("new=" + o.g_isDebug);
o.EnableDebugLog(true);
WScript.Echo("enabled=" + o.g_isDebug);
o.g_isDebug = false;
WScript.Echo("put=" + o.g_isDebug);
)"),
            "new=false|enabled=true|put=false|");
}

TEST_F(ScriptClients, VbscriptReceivesTheErrorNumberOfAFailingCall) {
  EXPECT_EQ(Run(L"vbs", R"(Set o = CreateObject("Korvane.QuandrelCom")
On Error Resume Next
r = o.RunCmd("cmd /c exit 0", 65536, False)
WScript.Echo "err=" & Err.Number
Err.Clear
o.EnableDebugLog True
WScript.Echo "after=" & Err.Number & " " & o.g_isDebug
)"),
            "err=6|after=0 True|");
}

TEST_F(ScriptClients, JscriptReceivesTheErrorNumberOfAFailingCall) {
  EXPECT_EQ(Run(L"js", R"(var o = new ActiveXObject("Korvane.QuandrelCom");
try {
  o.RunCmd("cmd /c exit 0", 65536, false);
  WScript.Echo("err=none");
} catch (e) {
  WScript.Echo("err=" + e.number);
}
)"),
            "err=-2146828282|");
}

}  // namespace
}  // namespace korvane::test
