// The server driven by Wine's script host, VBScript and JScript, as automation users drive it, and
// early bound from this process.
#include <gtest/gtest.h>

#include <algorithm>
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
    run.output.erase(std::remove(run.output.begin(), run.output.end(), '\r'), run.output.end());
    std::replace(run.output.begin(), run.output.end(), '\n', '|');
    return run.output;
  }

  ServerInstall install_{L"scripted copy"};
};

// The debug switch from clients in other processes: early bound, any non-zero value crosses and
// is kept unchanged; from VBScript and JScript it is a Boolean, kept per object. (What each value
// does to the log: frame_test.cpp; the error a script sees: runners_com_test.cpp.)
TEST_F(ScriptClients, DebugSwitchFromEachKindOfClient) {
  win::ComPtr<_QuandrelCom> early = install_.Create();
  ASSERT_TRUE(early);
  VARIANT_BOOL value = VARIANT_TRUE;
  ASSERT_EQ(early->get_g_isDebug(&value), S_OK);
  EXPECT_EQ(value, VARIANT_FALSE);
  ASSERT_EQ(early->put_g_isDebug(5), S_OK);
  ASSERT_EQ(early->get_g_isDebug(&value), S_OK);
  EXPECT_EQ(value, 5);

  const struct {
    const wchar_t* extension;
    const char* script;
    const char* printed;
  } rows[] = {
      {L"vbs", R"(Set o = CreateObject("Korvane.QuandrelCom")
WScript.Echo "new=" & o.g_isDebug
o.EnableDebugLog True
WScript.Echo "enabled=" & o.g_isDebug
o.EnableDebugLog False
WScript.Echo "disabled=" & o.g_isDebug
o.g_isDebug = True
WScript.Echo "put=" & o.g_isDebug
Set p = CreateObject("Korvane.QuandrelCom")
WScript.Echo "other=" & p.g_isDebug
)",
       "new=False|enabled=True|disabled=False|put=True|other=False|"},
      {L"js", R"(var o = new ActiveXObject("Korvane.QuandrelCom");
WScript.Echo("new=" + o.g_isDebug);
o.EnableDebugLog(true);
WScript.Echo("enabled=" + o.g_isDebug);
o.g_isDebug = false;
WScript.Echo("put=" + o.g_isDebug);
)",
       "new=false|enabled=true|put=false|"},
  };
  for (const auto& row : rows) EXPECT_EQ(Run(row.extension, row.script), row.printed);
}

}  // namespace
}  // namespace korvane::test
