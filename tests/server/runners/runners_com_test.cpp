// RunCmd and RunCmd2 against a registered server, through real cross-process COM: calls from a
// second client process served while RunCmd2 waits, error reporting to late-bound and script
// clients, and output that crosses the process boundary.
#include <gtest/gtest.h>

#include "common/win/unique_handle.h"
#include "testing/support/server_install.h"
#include "testing/support/test_support.h"
#include "tests/server/runners/runner_test_support.h"

namespace korvane::test {
namespace {

constexpr HRESULT kOverflow = static_cast<HRESULT>(0x800A0006);

class RunCmdCom : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(server_.Register());
    object_ = server_.Create();
    ASSERT_TRUE(object_);
  }

  void TearDown() override {
    object_.reset();
    // Let the server end on its own. One that is terminated stays registered with Wine's class
    // table, and every later activation in the prefix then fails with 0x800706BA.
    for (DWORD id : ServerProcessIds()) {
      win::UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, id));
      if (process) ::WaitForSingleObject(process.get(), 30000);
    }
  }

  // A file from which a second client process can take its own reference to `object_`.
  std::wstring MarshalledObjectFile() {
    win::ComPtr<IStream> stream;
    EXPECT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), S_OK);
    HRESULT hr = ::CoMarshalInterface(stream.get(), IID__QuandrelCom, object_.get(), MSHCTX_LOCAL,
                                      nullptr, MSHLFLAGS_NORMAL);
    EXPECT_EQ(hr, S_OK) << "CoMarshalInterface";
    HGLOBAL memory = nullptr;
    ::GetHGlobalFromStream(stream.get(), &memory);
    ULARGE_INTEGER size{};
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &size);
    std::string bytes(static_cast<const char*>(::GlobalLock(memory)),
                      static_cast<size_t>(size.QuadPart));
    ::GlobalUnlock(memory);
    std::wstring path = temp_ / L"object.bin";
    WriteFileBytes(path, bytes);
    return path;
  }

  std::wstring ClientCommand(std::initializer_list<std::wstring> steps) {
    return CommandLineOf(RunnerClientExe(), steps);
  }

  TempDir temp_{L"runners-com"};
  ServerInstall server_;
  win::ComPtr<_QuandrelCom> object_;
};

TEST_F(RunCmdCom, SecondClientIsServedWhileRunCmd2WaitsOnTheSameAndAnotherObject) {
  std::wstring file = MarshalledObjectFile();
  auto run =
      CallRunCmd2(object_.get(),
                  ClientCommand({L"unmarshal", file, L"same-run", L"other-run", L"enable", L"1"}));
  ASSERT_EQ(run.hr, S_OK);
  EXPECT_EQ(run.text, L"same=nested-same\r\nother=nested-other\r\nenable=0x00000000\r\n");
  VARIANT_BOOL on = 0;
  ASSERT_EQ(object_->get_g_isDebug(&on), S_OK);
  EXPECT_EQ(on, VARIANT_TRUE) << "the nested EnableDebugLog reached the same object";
}

TEST_F(RunCmdCom, SwitchChangedByAnotherClientDuringTheWaitDecidesTheLaterLines) {
  std::wstring file = MarshalledObjectFile();
  // Switched off from outside: only the line written before the wait remains.
  ASSERT_EQ(object_->EnableDebugLog(VARIANT_TRUE), S_OK);
  FileGrowth log(server_.logPath());
  std::wstring line = ClientCommand({L"unmarshal", file, L"enable", L"0"});
  ASSERT_EQ(CallRunCmd2(object_.get(), line).text, L"enable=0x00000000\r\n");
  std::vector<std::string> expected = {"[RunCmd2] strCmd = " + Narrow(line)};
  EXPECT_EQ(LogMessages(log.Added()), expected);

  // Switched on from outside: only the closing line is written.
  file = MarshalledObjectFile();
  FileGrowth log2(server_.logPath());
  line = ClientCommand({L"unmarshal", file, L"enable", L"1"});
  ASSERT_EQ(CallRunCmd2(object_.get(), line).text, L"enable=0x00000000\r\n");
  expected = {"[RunCmd2] strReturn=enable=0x00000000\r\n"};
  EXPECT_EQ(LogMessages(log2.Added()), expected);
}

TEST_F(RunCmdCom, OutputCrossesTheProcessBoundaryWhole) {
  constexpr uint64_t kSize = 4u << 20;
  auto run = CallRunCmd2(object_.get(), ChildCommand({L"bytes", std::to_wstring(kSize)}));
  ASSERT_EQ(run.hr, S_OK);
  EXPECT_TRUE(SameLongText(run.text, PatternText(kSize)));
}

// A 32-bit server cannot hold 1.25 GiB of output together with its text: the call fails with
// E_OUTOFMEMORY instead of crashing or passing a part off as the whole, and the server serves on.
TEST_F(RunCmdCom, OutputBeyondThe32BitAddressSpaceFailsCleanly) {
  if (sizeof(void*) == 8)
    GTEST_SKIP() << "a 64-bit server holds this much; the i686 run checks the 32-bit limit";
  constexpr uint64_t kSize = 1280ull << 20;
  auto run = CallRunCmd2(object_.get(), ChildCommand({L"bytes", std::to_wstring(kSize)}));
  EXPECT_EQ(run.hr, E_OUTOFMEMORY);
  EXPECT_TRUE(run.resultIsNull);
  auto after = CallRunCmd2(object_.get(), ChildCommand({L"out", L"still here"}));
  ASSERT_EQ(after.hr, S_OK);
  EXPECT_EQ(after.text, L"still here\r\n");
}

TEST_F(RunCmdCom, AClientKilledDuringItsWaitLeavesTheServerServingAndNoHandleBehind) {
  // A first call makes whatever the server keeps for later calls.
  ASSERT_EQ(CallRunCmd2(object_.get(), ChildCommand({L"out", L"warm"})).hr, S_OK);
  std::vector<DWORD> servers = ServerProcessIds();
  ASSERT_EQ(servers.size(), 1u);
  const size_t before = HandleCountOf(servers[0]);
  ASSERT_GT(before, 0u);

  const std::wstring event = L"KorvaneSlowChild-" + std::to_wstring(::GetCurrentProcessId());
  win::UniqueHandle release(::CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
  ASSERT_TRUE(release);
  const std::wstring pidFile = temp_ / L"slow-child.pid";
  std::wstring command = ClientCommand({L"slow-run", pidFile, event});
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                               nullptr, nullptr, &si, &pi));
  win::UniqueHandle client(pi.hProcess), clientThread(pi.hThread);
  const DWORD childId = ReadPidFile(pidFile);  // the server's RunCmd2 now waits on it
  ASSERT_NE(childId, 0u);
  win::UniqueHandle child(::OpenProcess(SYNCHRONIZE, FALSE, childId));
  ASSERT_TRUE(child);
  ::TerminateProcess(client.get(), 9);
  ASSERT_EQ(::WaitForSingleObject(client.get(), 30000), WAIT_OBJECT_0);

  // Others are served while the dead client's call still waits on its child.
  auto during = CallRunCmd2(object_.get(), ChildCommand({L"out", L"during"}));
  EXPECT_EQ(during.hr, S_OK);
  EXPECT_EQ(during.text, L"during\r\n");

  ::SetEvent(release.get());
  ASSERT_EQ(::WaitForSingleObject(child.get(), 30000), WAIT_OBJECT_0);
  // The call ends with nobody to answer: its handles are closed all the same.
  size_t after = 0;
  for (const ULONGLONG start = ::GetTickCount64(); ::GetTickCount64() - start < 30000;
       ::Sleep(100)) {
    after = HandleCountOf(servers[0]);
    if (after <= before) break;
  }
  EXPECT_LE(after, before);
  auto later = CallRunCmd2(object_.get(), ChildCommand({L"out", L"later"}));
  EXPECT_EQ(later.text, L"later\r\n");
}

TEST_F(RunCmdCom, OverflowReachesLateBoundClientsAsRunTimeError6) {
  win::ComPtr<IDispatch> object = server_.CreateDispatch();
  ASSERT_TRUE(object);
  DispatchResult run2;
  CallByName(object.get(), L"RunCmd2",
             {VariantText(ChildCommand({L"exit", L"0"})), VariantLong(65536)}, &run2);
  EXPECT_EQ(run2.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(run2.excep->scode, kOverflow);
  EXPECT_NE(run2.excep->bstrDescription, nullptr);

  DispatchResult run;
  CallByName(object.get(), L"RunCmd",
             {VariantText(ChildCommand({L"exit", L"0"})), VariantLong(-32769), VariantBool(true)},
             &run);
  EXPECT_EQ(run.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(run.excep->scode, kOverflow);
}

TEST_F(RunCmdCom, ScriptClientGetsOutputBooleansAndTheOverflowError) {
  std::string child = Narrow(RunnerChildExe());
  // Wine's script host has no WScript.StdOut: one Echo carries everything.
  std::string script =
      "Set o = CreateObject(\"Korvane.QuandrelCom\")\r\n"
      "s = o.RunCmd2(\"\"\"" +
      child +
      "\"\" out hello err world\", 0)\r\n"
      "s = s & \"wait=\" & o.RunCmd(\"\"\"" +
      child +
      "\"\" exit 3\", 0, True)\r\n"
      "s = s & \" missing=\" & o.RunCmd(\"C:\\none\\x.exe\", 0, True)\r\n"
      "On Error Resume Next\r\n"
      "r = o.RunCmd2(\"x\", 65536)\r\n"
      "WScript.Echo s & \" err=\" & Err.Number\r\n";
  ProcessResult result = RunScript(server_, L"vbs", script);
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.output, "hello\r\nworld\r\nwait=True missing=False err=6\r\n");
}

}  // namespace
}  // namespace korvane::test
