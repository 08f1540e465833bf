// RunCmd and RunCmd2 against a registered server, through real cross-process COM: calls from a
// second client process served while RunCmd2 waits, the overflow error as each kind of client
// sees it, output that crosses the process boundary, and input a careless or hostile client may
// send (each gets the documented answer or a clean error, and the server goes on serving).
#include <gtest/gtest.h>

#include <climits>
#include <optional>

#include "common/win/unique_handle.h"
#include "testing/support/server_install.h"
#include "testing/support/test_support.h"
#include "tests/server/runners/runner_test_support.h"

namespace korvane::test {
namespace {

constexpr HRESULT kOverflow = static_cast<HRESULT>(0x800A0006);
constexpr wchar_t kFailure[] = L"failed to execute command";

class RunCmdCom : public ServerObjectTest {
 protected:
  explicit RunCmdCom(std::wstring_view folder = L"server") : ServerObjectTest(folder) {}

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

  // The server still answers, on the object the test called.
  void ExpectServing() { EXPECT_TRUE(Gives(ChildCommand({L"out", L"alive"}), L"alive\r\n")); }

  ::testing::AssertionResult Gives(const std::wstring& line, std::wstring_view expected) {
    return RunCmd2Gives(object_.get(), line, expected);
  }

  std::wstring ClientCommand(std::initializer_list<std::wstring> steps) {
    return CommandLineOf(RunnerClientExe(), steps);
  }

  TempDir temp_{L"runners-com"};
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

// Switched off from outside, only the line written before the wait remains; switched on, only
// the closing line is written.
TEST_F(RunCmdCom, SwitchChangedByAnotherClientDuringTheWaitDecidesTheLaterLines) {
  ASSERT_EQ(object_->EnableDebugLog(VARIANT_TRUE), S_OK);
  for (bool startOn : {true, false}) {
    FileGrowth log(server_.logPath());
    const std::wstring line =
        ClientCommand({L"unmarshal", MarshalledObjectFile(), L"enable", startOn ? L"0" : L"1"});
    ASSERT_TRUE(Gives(line, L"enable=0x00000000\r\n"));
    EXPECT_EQ(LogMessages(log.Added()),
              std::vector<std::string>{startOn ? "[RunCmd2] strCmd = " + Narrow(line)
                                               : "[RunCmd2] strReturn=enable=0x00000000\r\n"})
        << "log on at first: " << startOn;
  }
}

// Output crosses the process boundary whole. A 32-bit server cannot hold 1.25 GiB of output
// together with its text: that call fails with E_OUTOFMEMORY instead of crashing or passing a part
// off as the whole, and the server serves on (a 64-bit server holds that much; the i686 run checks
// the 32-bit limit).
TEST_F(RunCmdCom, OutputCrossesTheProcessBoundaryWholeOrFailsCleanlyBeyondTheAddressSpace) {
  const std::pair<uint64_t, HRESULT> cases[] = {{4ull << 20, S_OK}, {1280ull << 20, E_OUTOFMEMORY}};
  for (const auto& [size, expected] : cases) {
    if (expected == E_OUTOFMEMORY && sizeof(void*) == 8) continue;
    auto run = CallRunCmd2(object_.get(), ChildCommand({L"bytes", std::to_wstring(size)}));
    EXPECT_EQ(run.hr, expected) << size << " bytes";
    if (expected == S_OK)
      EXPECT_TRUE(SameLongText(run.text, PatternText(size)));
    else
      EXPECT_TRUE(run.noResult);
  }
  ExpectServing();
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
  win::UniqueHandle client =
      StartWithOutputFile(ClientCommand({L"slow-run", pidFile, event}), temp_ / L"slow-client.txt");
  ASSERT_TRUE(client);
  const DWORD childId = ReadPidFile(pidFile);  // the server's RunCmd2 now waits on it
  ASSERT_NE(childId, 0u);
  win::UniqueHandle child(::OpenProcess(SYNCHRONIZE, FALSE, childId));
  ASSERT_TRUE(child);
  ::TerminateProcess(client.get(), 9);
  ASSERT_EQ(::WaitForSingleObject(client.get(), 30000), WAIT_OBJECT_0);

  // Others are served while the dead client's call still waits on its child.
  EXPECT_TRUE(Gives(ChildCommand({L"out", L"during"}), L"during\r\n"));

  ::SetEvent(release.get());
  ASSERT_EQ(::WaitForSingleObject(child.get(), 30000), WAIT_OBJECT_0);
  // The call ends with nobody to answer: its handles are closed all the same.
  EXPECT_LE(HandleCountSettled(servers[0], before), before);
  EXPECT_TRUE(Gives(ChildCommand({L"out", L"later"}), L"later\r\n"));
}

// A show-window value that does not fit a WORD is run-time error 6 (Overflow), for each runner as
// each kind of client in this process sees it: early bound through the proxy (no result), late
// bound (an exception with its number and description), and JScript (the number as an HRESULT;
// VBScript and the other processes' clients are rows of the client table,
// client_bitness_test.cpp). Every value is a row of the rule's own table
// (paths_and_lines_test.cpp).
enum class Client { kEarlyBound, kLateBound, kJscript };
struct OverflowCall {
  const char* name;
  Runner runner;
  Client client;
  LONG show;
};
void PrintTo(const OverflowCall& call, std::ostream* out) { *out << call.name; }

class OverflowError : public RunCmdCom, public ::testing::WithParamInterface<OverflowCall> {};

TEST_P(OverflowError, ReachesTheClientAsRunTimeError6) {
  const OverflowCall& call = GetParam();
  const std::wstring line = L"cmd /c exit 0";
  const bool runCmd = call.runner == Runner::kRunCmd;
  if (call.client == Client::kEarlyBound) {
    RunnerResult run = CallRunner(call.runner, object_.get(), line, call.show);
    EXPECT_EQ(run.hr, kOverflow);
    if (!runCmd) {
      EXPECT_TRUE(run.noResult);
    }
  } else if (call.client == Client::kLateBound) {
    win::ComPtr<IDispatch> late;
    ASSERT_EQ(object_.query_to(&late), S_OK);
    std::vector<VARIANT> args = {VariantText(line), win::LongArg(call.show)};
    if (runCmd) args.push_back(win::BoolArg(false));
    DispatchResult run;
    CallByName(late.get(), Widen(NameOf(call.runner)), std::move(args), &run);
    ASSERT_EQ(run.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(run.excep->scode, kOverflow);
    EXPECT_EQ(run.excep.description(), L"Overflow");
  } else {
    const std::string script =
        "var o = new ActiveXObject(\"Korvane.QuandrelCom\");\r\ntry {\r\n  o." +
        std::string(NameOf(call.runner)) + "(\"cmd /c exit 0\", " + std::to_string(call.show) +
        (runCmd ? ", false)" : ")") +
        ";\r\n  WScript.Echo(\"err=none\");\r\n} catch (e) {\r\n  WScript.Echo(\"err=\" + "
        "e.number);\r\n}\r\n";
    EXPECT_EQ(RunScript(server_, L"js", script).output, "err=-2146828282\r\n");
  }
  ExpectServing();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Clients, OverflowError, ::testing::Values(
    OverflowCall{"RunCmdEarlyBound", Runner::kRunCmd, Client::kEarlyBound, INT_MAX},
    OverflowCall{"RunCmd2EarlyBound", Runner::kRunCmd2, Client::kEarlyBound, INT_MIN},
    OverflowCall{"RunCmdLateBound", Runner::kRunCmd, Client::kLateBound, -32769},
    OverflowCall{"RunCmd2LateBound", Runner::kRunCmd2, Client::kLateBound, 65536},
    OverflowCall{"RunCmdJscript", Runner::kRunCmd, Client::kJscript, 65536},
    OverflowCall{"RunCmd2Jscript", Runner::kRunCmd2, Client::kJscript, 32768}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

class BadInput : public RunCmdCom {
 protected:
  BadInput() : RunCmdCom(L"bad input") {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(RunCmdCom::SetUp());
    dispatch_ = server_.CreateDispatch();
    ASSERT_TRUE(dispatch_);
  }
  void TearDown() override {
    dispatch_.reset();
    RunCmdCom::TearDown();
  }

  win::ComPtr<IDispatch> dispatch_;
};

// Command lines refused before anything starts, early and late bound and by both runners: a null
// or empty text; a NUL inside, at which the 8-bit command line would end (refused rather than
// cut); characters the code page cannot hold and unpaired surrogates; a line longer than the
// platform takes. Late bound, the null row is a null string and the empty row an empty VARIANT.
TEST_F(BadInput, RefusedCommandLinesGetTheFailureAnswer) {
  std::vector<std::pair<const char*, std::optional<std::wstring>>> rows = {
      {"null", std::nullopt},
      {"empty", L""},
      {"embedded NUL", ChildCommand({L"out", L"before"}) + std::wstring(L"\0 out after", 11)},
      {"too long", ChildCommand({L"out", std::wstring(40000, L'x')})}};
  for (const wchar_t* word : {L"\u4E2D\u6587", L"a\xD800z", L"\xDC00", L"\U0001F600"})
    rows.push_back({"not in the code page", ChildCommand({L"out", word})});
  for (const auto& [what, text] : rows) {
    SCOPED_TRACE(what);
    win::UniqueBstr line = text ? win::UniqueBstr(std::wstring_view(*text)) : win::UniqueBstr();
    win::UniqueBstr answer;
    EXPECT_EQ(object_->RunCmd2(line.get(), 0, answer.put()), S_OK);
    EXPECT_EQ(answer.view(), kFailure);
    for (VARIANT_BOOL wait : {VARIANT_TRUE, VARIANT_FALSE}) {
      VARIANT_BOOL started = VARIANT_TRUE;
      EXPECT_EQ(object_->RunCmd(line.get(), 0, wait, &started), S_OK);
      EXPECT_EQ(started, VARIANT_FALSE);
    }
    VARIANT arg = text && !text->empty() ? VariantText(*text) : VARIANT{};  // empty: VT_EMPTY
    if (!text) arg.vt = VT_BSTR;                                            // a null BSTR
    DispatchResult late;
    CallByName(dispatch_.get(), L"RunCmd2", {arg, win::LongArg(0)}, &late);
    EXPECT_EQ(late.hr, S_OK);
    EXPECT_EQ(late.Text(), kFailure);
  }
  ExpectServing();
}

// The stub hands the server whatever the client's array held; with no names it must read none
// and write none, and the next lookup through the same proxy is answered as ever.
TEST_F(BadInput, NoNamesToLookUpIsAnEmptyAnswer) {
  LPOLESTR names[2] = {nullptr, const_cast<LPOLESTR>(L"RunCmd2")};
  DISPID ids[2] = {1234, 1234};
  EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names, 0, 0x409, ids), S_OK);
  EXPECT_EQ(ids[0], 1234);
  EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names + 1, 1, 0x409, ids + 1), S_OK);
  EXPECT_EQ(ids[1], 0x60030003);
  ExpectServing();
}

TEST_F(BadInput, ALogFileThatIsLockedReadOnlyOrAFolderCostsNoResult) {
  ASSERT_EQ(object_->EnableDebugLog(VARIANT_TRUE), S_OK);
  const std::wstring log = server_.logPath();
  {
    win::UniqueHandle locked(::CreateFileW(log.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(locked);
    EXPECT_TRUE(Gives(ChildCommand({L"out", L"locked"}), L"locked\r\n"));
  }
  ASSERT_TRUE(::SetFileAttributesW(log.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(Gives(ChildCommand({L"out", L"read-only"}), L"read-only\r\n"));
  ::SetFileAttributesW(log.c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(::DeleteFileW(log.c_str()));
  ASSERT_TRUE(::CreateDirectoryW(log.c_str(), nullptr));
  EXPECT_TRUE(Gives(ChildCommand({L"out", L"folder"}), L"folder\r\n"));
  ::RemoveDirectoryW(log.c_str());
}

}  // namespace
}  // namespace korvane::test
