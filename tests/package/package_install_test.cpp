// The unpacked release package (package_zips puts it in the build folder, with the reference
// engine beside the front ends): install.cmd under Wine's cmd, the shipped samples as clients of
// the installed server, uninstall.cmd, and nothing of the class left registered.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/win/registry.h"
#include "testing/support/server_install.h"

namespace korvane::test {
namespace {

constexpr wchar_t kProgIdKey[] = L"Software\\Classes\\Korvane.QuandrelCom";

class InstalledPackage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FileExists(file(L"QuandrelCom.exe"))) << "package_zips did not unpack the package";
    // A server left from another test's copy would answer this package's activations.
    EndAllServerProcesses();
    ::DeleteFileW(file(L"_debug.log").c_str());
    input_ = work_ / L"notes.txt";
    CopyFileOrFail(file(L"samples\\sample.txt"), input_);
  }

  void TearDown() override {
    // Whatever happened, nothing of this package stays registered or running.
    if (installed_) Script(L"uninstall.cmd");
    EndAllServerProcesses();
  }

  std::wstring file(std::wstring_view name) const { return folder_ + L"\\" + std::wstring(name); }

  // Runs one of the package's .cmd files under Wine's cmd in the package folder.
  ProcessResult Script(const std::wstring& commandLine) {
    return RunProcess(L"cmd.exe /c " + commandLine, folder_, 60000);
  }

  void Install() {
    ProcessResult run = Script(L"install.cmd");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    installed_ = true;
  }

  // uninstall.cmd, then the servers ended, then nothing of the registration left in either
  // registry view.
  void UninstallLeavesNothing() {
    ProcessResult run = Script(L"uninstall.cmd");
    installed_ = false;
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EndAllServerProcesses();
    EXPECT_EQ(RegistrationLeft(), std::vector<std::string>{});
    CLSID clsid{};
    EXPECT_NE(::CLSIDFromProgID(L"Korvane.QuandrelCom", &clsid), S_OK);
  }

  ProcessResult Sample(const std::wstring& commandLine) {
    return RunProcess(commandLine + L" \"" + input_ + L"\"", file(L"samples"), 120000);
  }

  // A client of the server, run in the input's folder with its bare name, while a server that
  // this test started (in the test's own current folder) serves it: as on Windows, where COM
  // starts the server in System32, a name the sample passes on unchanged names a file there.
  ProcessResult ServerSample(const std::wstring& program) {
    win::ComPtr<IDispatch> running;
    EXPECT_EQ(win::CreateObjectByProgId(L"Korvane.QuandrelCom", running.put()), S_OK);
    return RunProcess(program + L" notes.txt", work_.path(), 120000);
  }
  std::wstring SampleScript(std::wstring_view name, int bits = kOwnBits) {
    return L"\"" + ScriptHostOf(bits) + L"\" //nologo \"" + file(L"samples\\") +
           std::wstring(name) + L"\"";
  }

  const std::wstring folder_ = WindowsPathOf(KORVANE_PACKAGE_FOLDER);
  TempDir work_{L"pkg"};
  std::wstring input_;
  bool installed_ = false;
};

TEST_F(InstalledPackage, InstallRunsTheVbscriptSampleAndUninstallLeavesNoClass) {
  ASSERT_NO_FATAL_FAILURE(Install());
  ProcessResult run = ServerSample(SampleScript(L"convert.vbs"));
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("Quandrel returned: 0"), std::string::npos) << run.output;
  EXPECT_NE(ReadFileBytes(input_ + L".server.html").find("<pre>"), std::string::npos);
  UninstallLeavesNothing();
}

// Each shipped client of the installed server (a script, or a built program when no script),
// the tag of its output files, and the bitness of the script host when it is not this build's
// (on 64-bit Windows the scripts run in both).
struct Client {
  const char* name;
  const wchar_t* script;
  const char* program;
  const wchar_t* tag;
  int otherBits = 0;
};
void PrintTo(const Client& client, std::ostream* out) { *out << client.name; }

class ShippedClient : public InstalledPackage, public ::testing::WithParamInterface<Client> {};

// Its report lines, its output files and the server's log.
TEST_P(ShippedClient, CallsEveryMember) {
  const Client& client = GetParam();
  if (client.otherBits != 0) {
    const std::string why = WhyNoProgramsOf(client.otherBits);
    if (!why.empty()) GTEST_SKIP() << why;
  }
  ASSERT_NO_FATAL_FAILURE(Install());
  const ProcessResult run = ServerSample(
      client.script ? SampleScript(client.script, client.otherBits ? client.otherBits : kOwnBits)
                    : L"\"" + WindowsPathOf(client.program) + L"\"");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  const std::string text = AsciiLower(run.output);
  for (const char* line :
       {"g_isdebug: true", "runcmd returned: true", "runcmd2 returned: hello from runcmd2",
        "quandrelruncmd returned: converted", "quandrel returned: 0", "error 6 as expected"})
    EXPECT_NE(text.find(line), std::string::npos) << "no \"" << line << "\" in:\n" << run.output;
  for (const wchar_t* extension : {L".html", L".txt"})
    EXPECT_TRUE(FileExists(input_ + L"." + client.tag + extension)) << Narrow(extension);
  EXPECT_NE(ReadFileBytes(file(L"_debug.log")).find("KorvaneCom: Run Time: "), std::string::npos)
      << "the sample turned the log on, but _debug.log has no line";
  UninstallLeavesNothing();
}

const Client kClients[] = {
    {"Vbscript", L"client.vbs", nullptr, L"vbs"},
    {"VbscriptOtherBitness", L"client.vbs", nullptr, L"vbs", 96 - kOwnBits},
    {"Jscript", L"client.js", nullptr, L"js"},
    {"CppEarlyBinding", nullptr, KORVANE_SAMPLE_CLIENT_EARLY, L"early"},
    {"CppLateBinding", nullptr, KORVANE_SAMPLE_CLIENT_LATE, L"late"},
};
INSTANTIATE_TEST_SUITE_P(Samples, ShippedClient, ::testing::ValuesIn(kClients),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstalledPackage, BatchSampleConvertsThroughQuandrelcmd) {
  ProcessResult run = Sample(L"cmd.exe /c convert.cmd");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("-to text exited with 0"), std::string::npos) << run.output;
  EXPECT_NE(ReadFileBytes(input_ + L".cmd.html").find("<pre>"), std::string::npos);
  EXPECT_TRUE(FileExists(input_ + L".cmd.txt"));
}

TEST_F(InstalledPackage, PerUserInstallWritesOnlyTheUsersKeysAndUninstallRemovesThem) {
  ProcessResult run = Script(L"install.cmd /user");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_TRUE(win::KeyExists(HKEY_CURRENT_USER, kProgIdKey));
  EXPECT_FALSE(win::KeyExists(HKEY_LOCAL_MACHINE, kProgIdKey));
  run = Script(L"uninstall.cmd /user");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_FALSE(win::KeyExists(HKEY_CURRENT_USER, kProgIdKey));
}

// Refused before anything is done: install.cmd registers nothing, uninstall.cmd removes nothing.
TEST_F(InstalledPackage, ScriptsRefuseAnUnknownSwitchWithTheirUsage) {
  for (const bool installed : {false, true}) {
    const std::string script = installed ? "uninstall.cmd" : "install.cmd";
    if (installed) {
      ASSERT_NO_FATAL_FAILURE(Install());
    }
    ProcessResult run = Script(Widen(script) + L" /machine");
    EXPECT_EQ(run.exitCode, 87u) << run.output;
    EXPECT_NE(run.output.find("Usage: " + script + " [/user]"), std::string::npos) << run.output;
    EXPECT_EQ(win::KeyExists(HKEY_LOCAL_MACHINE, kProgIdKey), installed) << script;
  }
}

TEST_F(InstalledPackage, ServerPrintsVersionAndUsage) {
  ProcessResult run = RunProcess(L"\"" + file(L"QuandrelCom.exe") + L"\" /?", folder_);
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("QuandrelCom " KORVANE_VERSION_TEXT_EXPECTED), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("Usage: QuandrelCom.exe"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace korvane::test
