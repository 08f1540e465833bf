// Every caller hands a child or the engine the caller's text exactly, or refuses it and names the
// character: never a look-alike, a '?' or a text cut at a NUL. Run under the ANSI code pages 1252
// and 932 (the suite runs this program once in a prefix of each); a row belongs to one of them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "testing/support/server_install.h"
#include "tests/fixtures/sdk_fixtures.h"

namespace korvane::test {
namespace {

struct Row {
  const char* name;
  UINT codePage;      // 0: every code page
  std::wstring text;  // a file-name-like argument
  char32_t refused;   // the character each caller must name; 0 when the text is carried
  bool refusedAtNul = false;
};

const Row kRows[] = {
    {"FullwidthQuote", 1252, L"in\uFF02 -evil \uFF02x.txt", 0xFF02},
    {"FullwidthBackslash", 1252, L"C:\\w\uFF3C..\uFF3Cevil.txt", 0xFF3C},
    {"DivisionSlash", 1252, L"a\u2215b.txt", 0x2215},
    {"AWithMacron", 1252, L"\u0100rchive.html", 0x0100},
    {"WesternLetter", 1252, L"caf\u00E9 \u00FC.txt", 0},
    {"SoftHyphen", 932, L"\u00ADto.txt", 0x00AD},
    {"YenSign", 932, L"C:\\w\u00A5evil.txt", 0x00A5},
    {"Hiragana", 932, L"\u3042\u3044.txt", 0},
    {"FullwidthQuoteHeld", 932, L"in\uFF02x.txt", 0},  // 932 has it: it arrives as itself
    {"EmbeddedNul", 0, std::wstring(L"in.txt\0 out.txt", 15), 0, true},
};

std::string RowName(const testing::TestParamInfo<Row>& info) { return info.param.name; }
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

std::string CodePointName(char32_t codePoint) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(codePoint));
  return text;
}

class ExactText : public testing::TestWithParam<Row> {
 protected:
  static void SetUpTestSuite() {
    server_ = std::make_unique<ServerInstall>();
    server_->Register();
    CopyFileOrFail(WindowsPathOf(KORVANE_ECHO_ENGINE), server_->file(L"quandrel.dll"));
    CopyFileOrFail(WindowsPathOf(KORVANE_RECORDING_SDK), server_->file(L"quandrelsdk.dll"));
    CopyFileOrFail(WindowsPathOf(KORVANE_QUANDRELCMD), server_->file(L"quandrelcmd.exe"));
  }
  static void TearDownTestSuite() { server_.reset(); }
  void SetUp() override {
    const char* expected = std::getenv("KORVANE_EXPECT_ACP");
    ASSERT_EQ(::GetACP(), expected ? std::strtoul(expected, nullptr, 10) : 1252u);
    if (GetParam().codePage != 0 && GetParam().codePage != ::GetACP())
      GTEST_SKIP() << "a row of code page " << GetParam().codePage;
    for (const wchar_t* name : {L"_debug.log", L"record.txt", fixture::kReceived, fixture::kCalls})
      ::DeleteFileW(server_->file(name).c_str());
    object_ = server_->Create();
    ASSERT_TRUE(object_);
    ASSERT_EQ(object_->EnableDebugLog(VARIANT_TRUE), S_OK);
  }
  bool Refused() const { return GetParam().refused != 0 || GetParam().refusedAtNul; }
  std::string Exact(std::wstring_view text) const {
    win::AnsiText ansi = win::ToAnsi(text);
    EXPECT_TRUE(ansi.ok());
    return ansi.bytes;
  }
  // The log names the character wherever the text appears, and never shows a look-alike.
  void ExpectLogNamesTheCharacter(const char* refusalLine) {
    const std::string log = server_->ReadLog();
    const std::string named = CodePointName(GetParam().refused) + " at position";
    EXPECT_NE(log.find(std::string(refusalLine) + named), std::string::npos) << log;
    EXPECT_EQ(log.find('\0'), std::string::npos);
  }

  static inline std::unique_ptr<ServerInstall> server_;
  win::ComPtr<_QuandrelCom> object_;
};

TEST_P(ExactText, EveryCallerHandsTheTextOverExactlyOrRefusesIt) {
  const Row& row = GetParam();
  const std::wstring record = server_->file(L"record.txt");

  const std::wstring runCmdLine =
      L"\"" + server_->file(L"quandrel.dll") + L"\" --record \"" + record + L"\" " + row.text;
  win::UniqueBstr runCmdArg{std::wstring_view(runCmdLine)};
  {
    SCOPED_TRACE("RunCmd");
    VARIANT_BOOL started = VARIANT_FALSE;
    ASSERT_EQ(object_->RunCmd(runCmdArg.get(), 0, VARIANT_TRUE, &started), S_OK);
    if (Refused()) {
      EXPECT_EQ(started, VARIANT_FALSE);
      EXPECT_FALSE(FileExists(record));
      ExpectLogNamesTheCharacter("[RunCmd] Refused: ");
      EXPECT_NE(server_->ReadLog().find("strCmd = " + Exact(win::MarkUncarried(runCmdLine))),
                std::string::npos);  // the logged command line marks it too
    } else {
      EXPECT_EQ(started, VARIANT_TRUE);
      EXPECT_EQ(ReadFileBytes(record), Exact(runCmdLine));
    }
  }
  // The two callers that give back text: RunCmd2 reads back the child's 8-bit view of its
  // command line, QuandrelRunCmd starts the engine with the text after its path.
  for (const bool engine : {false, true}) {
    SCOPED_TRACE(engine ? "QuandrelRunCmd" : "RunCmd2");
    win::UniqueBstr engineArg{std::wstring_view(row.text)}, output;
    ASSERT_EQ(engine ? object_->QuandrelRunCmd(engineArg.get(), output.put())
                     : object_->RunCmd2(runCmdArg.get(), 0, output.put()),
              S_OK);
    if (Refused()) {
      EXPECT_EQ(output.view(), L"failed to execute command");
      ExpectLogNamesTheCharacter(engine ? "QuandrelRunCmd: Refused: " : "[RunCmd2] Refused: ");
    } else {
      EXPECT_EQ(output.view(),
                engine ? L"\"" + server_->file(L"quandrel.dll") + L"\" " + row.text : runCmdLine);
    }
  }
  {
    SCOPED_TRACE("Quandrel");
    win::ComPtr<IDispatch> late;
    ASSERT_EQ(object_.query_to(&late), S_OK);
    DispatchResult call;
    CallByName(late.get(), L"Quandrel", {VariantText(row.text)}, &call);
    if (Refused()) {
      ASSERT_EQ(call.hr, DISP_E_EXCEPTION);
      EXPECT_EQ(call.excep->scode, static_cast<SCODE>(0x800A0005));
      ASSERT_NE(call.excep->bstrDescription, nullptr);
      EXPECT_NE(Narrow(call.excep->bstrDescription)
                    .find("Invalid procedure call or argument: " + CodePointName(row.refused)),
                std::string::npos);
      EXPECT_FALSE(FileExists(server_->file(fixture::kCalls)));
    } else {
      EXPECT_EQ(call.hr, S_OK);
      EXPECT_EQ(ReadFileBytes(server_->file(fixture::kReceived)), Exact(row.text));
    }
  }
  SCOPED_TRACE("quandrelcmd");
  if (row.refusedAtNul) return;  // no command line holds a NUL
  ::DeleteFileW(server_->file(fixture::kReceived).c_str());
  // Started with a wide command line, as programs that are not console programs start it.
  ProcessResult run =
      RunProcess(L"\"" + server_->file(L"quandrelcmd.exe") + L"\" -to \"" + row.text + L"\"",
                 server_->folder());
  ASSERT_TRUE(run.started);
  if (Refused()) {
    EXPECT_EQ(run.exitCode, 87u);
    const size_t at = row.text.find(static_cast<wchar_t>(row.refused)) + 1;
    EXPECT_EQ(run.output, "quandrelcmd: argument 2 cannot reach the engine exactly: " +
                              CodePointName(row.refused) + " at position " + std::to_string(at) +
                              " has no exact form in code page " + std::to_string(::GetACP()) +
                              "\r\n");
    EXPECT_FALSE(FileExists(server_->file(fixture::kReceived)));
  } else {
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(ReadFileBytes(server_->file(fixture::kReceived)),
              "\"-to\" \"" + Exact(row.text) + "\" ");
  }
}

INSTANTIATE_TEST_SUITE_P(Characters, ExactText, testing::ValuesIn(kRows), RowName);

// The other way: output comes back read in the code page, and bytes that it does not define (a
// pair 932 leaves undefined, a lead byte cut off at the end) are pointed out in the log.
TEST(ExactOutput, BytesTheCodePageDoesNotDefineArePointedOutInTheLog) {
  const struct {
    UINT codePage;
    const wchar_t* hex;
    std::wstring text;  // what comes back
    bool whole;
  } rows[] = {
      {1252, L"416361E9", L"Aca\u00E9", true},
      {932, L"82A08145", L"\u3042\u30FB", true},
      {932, L"41428242", L"AB\u30FB", false},
      {932, L"414282", L"AB\u30FB", false},
  };
  ServerInstall server;
  server.Register();
  win::ComPtr<_QuandrelCom> object = server.Create();
  ASSERT_TRUE(object);
  ASSERT_EQ(object->EnableDebugLog(VARIANT_TRUE), S_OK);
  const std::string pointedOut =
      "[RunCmd2] the output is not all text in code page " + std::to_string(::GetACP());
  for (const auto& row : rows) {
    if (row.codePage != ::GetACP()) continue;
    SCOPED_TRACE(Narrow(row.hex));
    ::DeleteFileW(server.file(L"_debug.log").c_str());
    win::UniqueBstr line{L"\"" + WindowsPathOf(KORVANE_RUNNER_CHILD) + L"\" hex " + row.hex};
    win::UniqueBstr output;
    ASSERT_EQ(object->RunCmd2(line.get(), 0, output.put()), S_OK);
    EXPECT_EQ(output.view(), row.text);
    EXPECT_EQ(server.ReadLog().find(pointedOut) != std::string::npos, !row.whole)
        << server.ReadLog();
  }
}

}  // namespace
}  // namespace korvane::test
