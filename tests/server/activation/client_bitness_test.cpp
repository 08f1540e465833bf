// The server as its users drive it: on 64-bit Windows the shipped 32-bit server has clients of both
// bitnesses, scripts (VBScript in the system's cscript.exe, late bound) and compiled programs
// (early bound through the registered type library). Every client this Windows runs meets every
// case and must see the same answer, line for line.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "testing/support/server_install.h"

namespace korvane::test {
namespace {

// What every client does, case by case (bitness_client.cpp makes the same calls).
constexpr char kScript[] = R"vbs(Option Explicit
Dim which, folder, o, s
which = WScript.Arguments(0)
folder = WScript.Arguments(1)
Sub Show(label, value, number, description)
  If number <> 0 Then
    WScript.Echo label & "=" & number & "|" & description
  Else
    WScript.Echo label & "=" & value
  End If
End Sub
On Error Resume Next
Set o = CreateObject("Korvane.QuandrelCom")
If Err.Number <> 0 Then
  WScript.Echo "create failed"
  WScript.Quit 0
End If
Select Case which
Case "create"
  WScript.Echo "created"
Case "methods"
  s = o.RunCmd2("cmd /c echo hello& echo world>&2", 0)
  Show "RunCmd2", Replace(s, vbCrLf, "|"), Err.Number, Err.Description : Err.Clear
  s = o.RunCmd("cmd /c exit 3", 0, True)
  Show "RunCmd", s, Err.Number, Err.Description : Err.Clear
  s = o.RunCmd("C:\none\x.exe", 0, True)
  Show "missing", s, Err.Number, Err.Description : Err.Clear
  s = o.QuandrelRunCmd("-to text """ & folder & "\in.txt"" """ & folder & "\exe.txt""")
  Show "QuandrelRunCmd", Replace(s, vbCrLf, "|"), Err.Number, Err.Description : Err.Clear
  s = o.Quandrel("-to text """ & folder & "\in.txt"" """ & folder & "\lib.txt""")
  Show "Quandrel", s, Err.Number, Err.Description : Err.Clear
  o.EnableDebugLog True
  Show "EnableDebugLog", "", Err.Number, Err.Description : Err.Clear
  s = o.g_isDebug
  Show "g_isDebug", s, Err.Number, Err.Description : Err.Clear
Case "overflow"
  s = o.RunCmd("cmd /c exit 0", 65536, False)
  Show "RunCmd", s, Err.Number, Err.Description : Err.Clear
  s = o.RunCmd2("cmd /c exit 0", -65536)
  Show "RunCmd2", s, Err.Number, Err.Description : Err.Clear
  s = o.g_isDebug
  Show "g_isDebug", s, Err.Number, Err.Description : Err.Clear
Case "quandrel"
  s = o.Quandrel("in.txt")
  Show "Quandrel", s, Err.Number, Err.Description : Err.Clear
End Select
)vbs";

// A script (late bound) or the compiled client (early bound), of either bitness.
struct ClientKind {
  const char* name;
  bool script;
  int bits;
};

// What quandrelsdk.dll beside the server is for a case.
enum class Engine { kReference, kNone, kNotALibrary, kWithoutExport, kUnregistered };
struct Case {
  const char* name;
  const char* step;  // the case of the script and of bitness_client
  Engine engine;
  const char* printed;  // with "<folder>" for the server's folder
};

void PrintTo(const ClientKind& client, std::ostream* out) { *out << client.name; }

const ClientKind kClients[] = {
    {"Script64", true, 64},
    {"Script32", true, 32},
    {"Vtable64", false, 64},
    {"Vtable32", false, 32},
};

const Case kCases[] = {
    {"CreateByProgId", "create", Engine::kReference, "created\n"},
    {"EveryMethod", "methods", Engine::kReference,
     "RunCmd2=hello|world|\n"
     "RunCmd=True\n"
     "missing=False\n"
     "QuandrelRunCmd=converted <folder>\\in.txt -> <folder>\\exe.txt (1 line)|\n"
     "Quandrel=0\n"
     "EnableDebugLog=\n"
     "g_isDebug=True\n"},
    {"Error6Overflow", "overflow", Engine::kReference,
     "RunCmd=6|Overflow\nRunCmd2=6|Overflow\ng_isDebug=False\n"},
    {"Error53NoEngineLibrary", "quandrel", Engine::kNone,
     "Quandrel=53|File not found: quandrelsdk.dll\n"},
    {"Error48NotALibrary", "quandrel", Engine::kNotALibrary,
     "Quandrel=48|Error in loading DLL: quandrelsdk.dll\n"},
    {"Error453NoExport", "quandrel", Engine::kWithoutExport,
     "Quandrel=453|Can't find DLL entry point KorvaneQuandrelConverter in quandrelsdk.dll\n"},
    {"AfterUnregServer", "create", Engine::kUnregistered, "create failed\n"},
};

std::wstring CompiledClient(int bits) {
  return WindowsPathOf(bits == kOwnBits ? KORVANE_BITNESS_CLIENT : KORVANE_OTHER_BITNESS_CLIENT);
}

// Windows carries a failed call's error information (IErrorInfo) across processes beside a vtable
// call's HRESULT; Wine only inside IDispatch's exception, so under Wine the compiled client's error
// lines come without the description.
bool ErrorInfoCrossesProcesses() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
}

// An error line is "<label>=<number>|<description>".
std::string WithoutDescriptions(const std::string& text) {
  std::string result;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const size_t equals = line.find('='), bar = line.find('|');
    if (equals != std::string::npos && bar != std::string::npos &&
        line.find_first_not_of("-0123456789", equals + 1) == bar)
      line.erase(bar + 1);
    result += line + "\n";
  }
  return result;
}

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
  for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += with.size())
    text.replace(at, what.size(), with);
  return text;
}

// A build's server and the engine files of its bitness.
struct Build {
  std::wstring server, engineLibrary, engineProgram, libraryWithoutExport;
};

Build ThisBuild() {
  return {BuiltServerExe(), WindowsPathOf(KORVANE_ENGINE_SDK), WindowsPathOf(KORVANE_ENGINE_EXE),
          WindowsPathOf(KORVANE_NOEXPORT_SDK)};
}

// Why `client` cannot run here, or nothing when it can.
std::string WhyNoClient(const ClientKind& client) {
  std::string why = WhyNoProgramsOf(client.bits);
  if (why.empty() && !client.script && client.bits != kOwnBits &&
      ::GetFileAttributesW(CompiledClient(client.bits).c_str()) == INVALID_FILE_ATTRIBUTES)
    why = std::string("the other build's client is not built: ") + KORVANE_OTHER_BITNESS_CLIENT;
  return why;
}

// Makes the server's folder what `row` needs, runs `client` on it and checks what it printed.
void RunRow(ServerInstall& server, const Build& build, const ClientKind& client, const Case& row) {
  if (!server.registered()) {
    ASSERT_NO_FATAL_FAILURE(server.Register());
  }
  // The server keeps the engine library it bound until it ends: each row starts a fresh one.
  EndAllServerProcesses();
  const std::wstring library = server.file(L"quandrelsdk.dll");
  ::DeleteFileW(library.c_str());
  for (const wchar_t* output : {L"exe.txt", L"lib.txt"}) ::DeleteFileW(server.file(output).c_str());
  switch (row.engine) {
    case Engine::kReference:
      CopyFileOrFail(build.engineLibrary, library);
      CopyFileOrFail(build.engineProgram, server.file(L"quandrel.dll"));
      WriteFileBytes(server.file(L"in.txt"), "hello engine\r\n");
      break;
    case Engine::kNotALibrary:
      WriteFileBytes(library, "not a library");
      break;
    case Engine::kWithoutExport:
      CopyFileOrFail(build.libraryWithoutExport, library);
      break;
    case Engine::kUnregistered: {
      ASSERT_EQ(server.RunSwitch(L"/UnregServer"), 0u);
      EXPECT_EQ(RegistrationLeft(), std::vector<std::string>{});
      break;
    }
    case Engine::kNone:
      break;
  }

  std::wstring command;
  if (client.script) {
    const std::wstring script = server.file(L"..\\client.vbs");
    WriteFileBytes(script, kScript);
    command = L"\"" + ScriptHostOf(client.bits) + L"\" //nologo \"" + script + L"\"";
  } else {
    command = L"\"" + CompiledClient(client.bits) + L"\"";
  }
  command += L" " + Widen(row.step) + L" \"" + server.folder() + L"\"";
  ProcessResult run = RunProcess(command, server.folder(), 120000);
  if (row.engine == Engine::kUnregistered) server.Register();
  ASSERT_TRUE(run.started) << Narrow(command) << ": error " << run.startError;
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  std::string printed = Replaced(row.printed, "<folder>", Narrow(server.folder()));
  if (!client.script && !ErrorInfoCrossesProcesses()) printed = WithoutDescriptions(printed);
  run.output.erase(std::remove(run.output.begin(), run.output.end(), '\r'), run.output.end());
  EXPECT_EQ(run.output, printed);
  if (row.engine == Engine::kReference && std::string_view(row.step) == "methods") {
    // Both engines of the server's own bitness converted the file.
    EXPECT_EQ(ReadFileBytes(server.file(L"exe.txt")), "hello engine\r\n");
    EXPECT_EQ(ReadFileBytes(server.file(L"lib.txt")), "hello engine\r\n");
  }
}

// One registered copy of this build's server meets every case from one client.
class ClientTable : public ::testing::TestWithParam<ClientKind> {};

TEST_P(ClientTable, SeesWhatEveryOtherClientSees) {
  const ClientKind& client = GetParam();
  const std::string why = WhyNoClient(client);
  if (!why.empty()) GTEST_SKIP() << why;
  ServerInstall server(L"client table");
  for (const Case& row : kCases) {
    SCOPED_TRACE(row.name);
    RunRow(server, ThisBuild(), client, row);
  }
}

INSTANTIATE_TEST_SUITE_P(Clients, ClientTable, ::testing::ValuesIn(kClients),
                         [](const auto& info) { return std::string(info.param.name); });

// The other build's server (the 64-bit one, seen from the 32-bit suite) with this build's script
// client: every method.
TEST(OtherBuildsServer, AnswersAScriptClientOfThisBuildAlike) {
  const ClientKind client{"Script", true, kOwnBits};
  const std::string why = WhyNoProgramsOf(kOwnBits == 32 ? 64 : 32);
  if (!why.empty()) GTEST_SKIP() << "the other build's server cannot run: " << why;
  const std::wstring folder = WindowsPathOf(KORVANE_OTHER_BUILD);
  const Build other{folder + L"\\server\\QuandrelCom.exe", folder + L"\\engine\\quandrelsdk.dll",
                    folder + L"\\engine\\quandrel.dll", L""};
  if (::GetFileAttributesW(other.server.c_str()) == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "the other build is not built: " << Narrow(other.server);
  ServerInstall server(L"other build", other.server);
  RunRow(server, other, client, kCases[1]);
}

}  // namespace
}  // namespace korvane::test
