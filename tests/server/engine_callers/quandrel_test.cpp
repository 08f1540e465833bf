// Quandrel: the engine library called inside the server process.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>

#include "common/win/module_path.h"
#include "common/win/scope_exit.h"
#include "testing/support/server_install.h"
#include "tests/fixtures/sdk_fixtures.h"

namespace korvane::test {
namespace {

class QuandrelTest : public ServerObjectTest {
 protected:
  void PutLibrary(const char* built) {
    CopyFileOrFail(WindowsPathOf(built), server_.file(L"quandrelsdk.dll"));
  }
  void SetEngineResult(int code) {
    WriteFileBytes(server_.file(fixture::kResult), std::to_string(code));
  }
  HRESULT Call(std::wstring_view argument, LONG* code) {
    win::UniqueBstr in{argument};
    return object_->Quandrel(in.get(), code);
  }
  LONG CallOk(std::wstring_view argument) {
    LONG code = 12345;
    EXPECT_EQ(Call(argument, &code), S_OK);
    return code;
  }
  std::string Received() { return ReadFileBytes(server_.file(fixture::kReceived)); }
  int Loads() {
    std::string loads = ReadFileBytes(server_.file(fixture::kLoads));
    return static_cast<int>(std::count(loads.begin(), loads.end(), '\n'));
  }
};

// No file of that name, a folder of that name, a library without the export, a file that is no
// program at all: every call fails with the run-time error that names what is missing, early
// bound and late bound alike. The failed binding is not kept: once a library is put in place, the
// same server process binds on the next call.
TEST_F(QuandrelTest, UnusableLibraryFailsEveryCallWithTheErrorNamingItUntilOneIsPutInPlace) {
  const std::wstring library = server_.file(L"quandrelsdk.dll");
  const SCODE kNotFound = static_cast<SCODE>(0x800A0035);
  const wchar_t kNotFoundText[] = L"File not found: quandrelsdk.dll";
  const struct {
    const char* what;
    std::function<void()> put;
    SCODE status;
    const wchar_t* description;
  } rows[] = {
      // clang-format off
      {"nothing of that name", [] {}, kNotFound, kNotFoundText},
      {"a folder of that name", [&] { ASSERT_TRUE(::CreateDirectoryW(library.c_str(), nullptr)); }, kNotFound, kNotFoundText},
      {"no export", [&] { ASSERT_TRUE(::RemoveDirectoryW(library.c_str())); PutLibrary(KORVANE_NOEXPORT_SDK); }, static_cast<SCODE>(0x800A01C5), L"Can't find DLL entry point KorvaneQuandrelConverter in quandrelsdk.dll"},
      {"no program", [&] { WriteFileBytes(library, "this is not a program"); }, static_cast<SCODE>(0x800A0030), L"Error in loading DLL: quandrelsdk.dll"},
      // clang-format on
  };
  win::ComPtr<IDispatch> late;
  ASSERT_EQ(object_.query_to(&late), S_OK);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_NO_FATAL_FAILURE(row.put());
    for (int call = 0; call < 2; ++call) {
      LONG code = 0;
      EXPECT_EQ(Call(L"x", &code), row.status);
      DispatchResult run;
      CallByName(late.get(), L"Quandrel", {VariantText(L"x")}, &run);
      ASSERT_EQ(run.hr, DISP_E_EXCEPTION);
      EXPECT_EQ(run.excep->scode, row.status);
      EXPECT_EQ(run.excep.description(), row.description);
    }
  }

  PutLibrary(KORVANE_RECORDING_SDK);
  SetEngineResult(7);
  EXPECT_EQ(CallOk(L"in.txt"), 7);
  EXPECT_EQ(Received(), "in.txt");
  // A zero-filled buffer of the 2048 bytes engines expect: the engine wrote all of it, and the
  // server still serves.
  EXPECT_EQ(ReadFileBytes(server_.file(fixture::kTail)), "zero");
  EXPECT_EQ(CallOk(L"again.txt"), 7);
  EXPECT_EQ(ReadFileBytes(server_.file(fixture::kTail)), "zero");
}

TEST_F(QuandrelTest, EngineCodesComeBackUnchanged) {
  PutLibrary(KORVANE_RECORDING_SDK);
  for (int expected : {0, 7, -5, INT32_MIN}) {
    SetEngineResult(expected);
    EXPECT_EQ(CallOk(L"a"), expected);
  }
  // Bound once, for every call of the process.
  EXPECT_EQ(Loads(), 1);
}

// Empty text after another reaches the engine as empty text, and null arrives as null.
TEST_F(QuandrelTest, EngineGetsAPrivateAnsiCopyOfTheTextAndNullAsNull) {
  PutLibrary(KORVANE_RECORDING_SDK);
  for (const std::wstring text : {L"\"caf\u00E9 in.txt\" out.html", L""}) {
    win::UniqueBstr in{std::wstring_view(text)};
    LONG code = 1;
    ASSERT_EQ(object_->Quandrel(in.get(), &code), S_OK);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Received(), text.empty() ? "" : "\"caf\xE9 in.txt\" out.html");
  }
  EXPECT_FALSE(FileExists(server_.file(fixture::kReceivedNull)));
  LONG code = 1;
  EXPECT_EQ(object_->Quandrel(nullptr, &code), S_OK);
  EXPECT_TRUE(FileExists(server_.file(fixture::kReceivedNull)));
}

TEST_F(QuandrelTest, WritesNoLogLine) {
  PutLibrary(KORVANE_RECORDING_SDK);
  ASSERT_EQ(object_->EnableDebugLog(VARIANT_TRUE), S_OK);
  CallOk(L"a");
  EXPECT_FALSE(FileExists(server_.logPath()));
  // The log was on all along: the next method that logs writes it.
  win::UniqueBstr out;
  ASSERT_EQ(object_->QuandrelRunCmd(nullptr, out.put()), S_OK);
  EXPECT_TRUE(FileExists(server_.logPath()));
}

TEST_F(QuandrelTest, ReferenceEngineConvertsInProcess) {
  PutLibrary(KORVANE_ENGINE_SDK);
  std::wstring input = server_.file(L"doc.txt");
  WriteFileBytes(input, "x & y\r\n");
  EXPECT_EQ(CallOk(L"-to text -eol lf \"" + input + L"\" \"" + server_.file(L"doc.out") + L"\""),
            0);
  EXPECT_EQ(ReadFileBytes(server_.file(L"doc.out")), "x & y\n");
  EXPECT_EQ(CallOk(L"\"" + server_.file(L"missing.txt") + L"\""), -2);
}

// The loader's standard search also looks in the current folder and along PATH, which the server
// inherits from the client that starts it: a library planted there must not count. The server's
// folder is one the ANSI code page (1252 here) cannot spell; the object is reached late-bound, as
// Wine's type library marshaller reads the registered path in that code page.
TEST(EngineBesideTheServer, IsFoundThereOnlyAndNamedAsTheCodePageSpellsIt) {
  TempDir planted(L"planted");
  CopyFileOrFail(WindowsPathOf(KORVANE_RECORDING_SDK), planted / L"quandrelsdk.dll");
  std::wstring oldPath(32767, L'\0'), oldFolder(MAX_PATH, L'\0');
  oldPath.resize(::GetEnvironmentVariableW(L"PATH", oldPath.data(), 32767));
  oldFolder.resize(::GetCurrentDirectoryW(MAX_PATH, oldFolder.data()));
  ASSERT_TRUE(::SetEnvironmentVariableW(L"PATH", (planted.path() + L";" + oldPath).c_str()));
  ASSERT_TRUE(::SetCurrentDirectoryW(planted.path().c_str()));
  auto restore = win::MakeScopeExit([&] {
    ::SetEnvironmentVariableW(L"PATH", oldPath.c_str());
    ::SetCurrentDirectoryW(oldFolder.c_str());
  });
  ServerInstall server(L"server \u0416");
  server.Register();
  win::ComPtr<IDispatch> object = server.CreateDispatch();
  ASSERT_TRUE(object);
  DispatchResult call;
  CallByName(object.get(), L"Quandrel", {VariantText(L"x")}, &call);
  ASSERT_EQ(call.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(call.excep->scode, static_cast<SCODE>(0x800A0035));

  // A library beside the server, which needs another one beside it.
  CopyFileOrFail(WindowsPathOf(KORVANE_DEPENDENT_SDK), server.file(L"quandrelsdk.dll"));
  CopyFileOrFail(WindowsPathOf(KORVANE_SDK_DEPENDENCY), server.file(fixture::kDependencyFileName));
  CallByName(object.get(), L"Quandrel", {VariantText(L"x")}, &call);
  EXPECT_EQ(call.value().lVal, fixture::kDependencyAnswer);
  EXPECT_FALSE(FileExists(planted / fixture::kLoads));

  // The engine program is started by the folder's short form (Wine makes 8.3 names too).
  CopyFileOrFail(WindowsPathOf(KORVANE_ECHO_ENGINE), server.file(L"quandrel.dll"));
  const std::wstring shortPath = win::ShortPathOf(server.file(L"quandrel.dll"));
  CallByName(object.get(), L"QuandrelRunCmd", {VariantText(L"in.pdf")}, &call);
  EXPECT_EQ(call.Text(), L"\"" + shortPath + L"\" in.pdf");
}

}  // namespace
}  // namespace korvane::test
