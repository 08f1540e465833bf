// Input a careless or hostile client may send, through the vtable and through IDispatch: each
// gets the documented answer or a clean error, the server never falls over and goes on serving.
#include <gtest/gtest.h>

#include <climits>

#include "common/win/unique_handle.h"
#include "testing/support/server_install.h"
#include "testing/support/test_support.h"
#include "tests/server/runners/runner_test_support.h"

namespace korvane::test {
namespace {

constexpr HRESULT kOverflow = static_cast<HRESULT>(0x800A0006);
constexpr wchar_t kFailure[] = L"failed to execute command";

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(server_.Register());
    object_ = server_.Create();
    ASSERT_TRUE(object_);
    dispatch_ = server_.CreateDispatch();
    ASSERT_TRUE(dispatch_);
  }
  // The server still answers, on the object the bad input went to.
  void ExpectServing() {
    auto run = CallRunCmd2(object_.get(), ChildCommand({L"out", L"alive"}));
    EXPECT_EQ(run.hr, S_OK);
    EXPECT_EQ(run.text, L"alive\r\n");
  }

  ServerInstall server_{L"bad input"};
  win::ComPtr<_QuandrelCom> object_;
  win::ComPtr<IDispatch> dispatch_;
};

TEST_F(BadInput, NullEmptyAndEmbeddedNulTexts) {
  win::UniqueBstr text;
  EXPECT_EQ(object_->RunCmd2(nullptr, 0, text.put()), S_OK);
  EXPECT_EQ(text.view(), kFailure);
  win::UniqueBstr empty{std::wstring_view(L"")};
  EXPECT_EQ(object_->RunCmd2(empty.get(), 0, text.put()), S_OK);
  EXPECT_EQ(text.view(), kFailure);
  VARIANT_BOOL started = VARIANT_TRUE;
  EXPECT_EQ(object_->RunCmd(nullptr, 0, VARIANT_TRUE, &started), S_OK);
  EXPECT_EQ(started, VARIANT_FALSE);
  // The 8-bit command line would end at the NUL: the call is refused rather than cut.
  std::wstring withNul = ChildCommand({L"out", L"before"});
  withNul += std::wstring(L"\0 out after", 11);
  auto run = CallRunCmd2(object_.get(), withNul);
  EXPECT_EQ(run.hr, S_OK);
  EXPECT_EQ(run.text, kFailure);
  // Late-bound: a null string and an empty VARIANT are both the empty text.
  DispatchResult late;
  VARIANT nullText;
  ::VariantInit(&nullText);
  nullText.vt = VT_BSTR;
  nullText.bstrVal = nullptr;
  CallByName(dispatch_.get(), L"RunCmd2", {nullText, VariantLong(0)}, &late);
  EXPECT_EQ(late.hr, S_OK);
  EXPECT_EQ(late.Text(), kFailure);
  ExpectServing();
}

// The stub hands the server whatever the client's array held; with no names it must read none.
TEST_F(BadInput, NoNamesToLookUpIsAnEmptyAnswer) {
  LPOLESTR names[1] = {nullptr};
  DISPID ids[1] = {1234};
  EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names, 0, 0x409, ids), S_OK);
  EXPECT_EQ(ids[0], 1234);
  ExpectServing();
}

TEST_F(BadInput, CharactersTheCodePageCannotHoldAndUnpairedSurrogatesAreRefused) {
  for (const wchar_t* word : {L"\u4E2D\u6587", L"a\xD800z", L"\xDC00", L"\U0001F600"}) {
    auto run = CallRunCmd2(object_.get(), ChildCommand({L"out", word}));
    EXPECT_EQ(run.hr, S_OK);
    EXPECT_EQ(run.text, kFailure);
  }
  ExpectServing();
}

TEST_F(BadInput, ACommandLineLongerThanThePlatformTakes) {
  const std::wstring longLine = ChildCommand({L"out", std::wstring(40000, L'x')});
  auto run = CallRunCmd2(object_.get(), longLine);
  EXPECT_EQ(run.hr, S_OK);
  EXPECT_EQ(run.text, kFailure);
  win::UniqueBstr line{std::wstring_view(longLine)};
  VARIANT_BOOL started = VARIANT_TRUE;
  EXPECT_EQ(object_->RunCmd(line.get(), 0, VARIANT_FALSE, &started), S_OK);
  EXPECT_EQ(started, VARIANT_FALSE);
  DispatchResult late;
  CallByName(dispatch_.get(), L"RunCmd2", {VariantText(longLine), VariantLong(0)}, &late);
  EXPECT_EQ(late.hr, S_OK);
  EXPECT_EQ(late.Text(), kFailure);
  ExpectServing();
}

TEST_F(BadInput, ShowWindowCodesOutsideSixteenBitsAreTheOverflowError) {
  const std::wstring line = ChildCommand({L"exit", L"0"});
  for (LONG code : {65536L, -65536L, static_cast<LONG>(INT_MIN), static_cast<LONG>(INT_MAX)}) {
    SCOPED_TRACE(code);
    auto run = CallRunCmd2(object_.get(), line, code);
    EXPECT_EQ(run.hr, kOverflow);
    EXPECT_TRUE(run.resultIsNull);
    win::UniqueBstr text{std::wstring_view(line)};
    VARIANT_BOOL started = VARIANT_TRUE;
    EXPECT_EQ(object_->RunCmd(text.get(), code, VARIANT_FALSE, &started), kOverflow);
    DispatchResult late;
    CallByName(dispatch_.get(), L"RunCmd",
               {VariantText(line), VariantLong(code), VariantBool(false)}, &late);
    EXPECT_EQ(late.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(late.excep->scode, kOverflow);
  }
  ExpectServing();
}

TEST_F(BadInput, ALogFileThatIsLockedReadOnlyOrAFolderCostsNoResult) {
  ASSERT_EQ(object_->EnableDebugLog(VARIANT_TRUE), S_OK);
  const std::wstring log = server_.logPath();
  {
    win::UniqueHandle locked(::CreateFileW(log.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(locked);
    auto run = CallRunCmd2(object_.get(), ChildCommand({L"out", L"locked"}));
    EXPECT_EQ(run.hr, S_OK);
    EXPECT_EQ(run.text, L"locked\r\n");
  }
  ASSERT_TRUE(::SetFileAttributesW(log.c_str(), FILE_ATTRIBUTE_READONLY));
  auto readOnly = CallRunCmd2(object_.get(), ChildCommand({L"out", L"read-only"}));
  EXPECT_EQ(readOnly.hr, S_OK);
  EXPECT_EQ(readOnly.text, L"read-only\r\n");
  ::SetFileAttributesW(log.c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(::DeleteFileW(log.c_str()));
  ASSERT_TRUE(::CreateDirectoryW(log.c_str(), nullptr));
  auto folder = CallRunCmd2(object_.get(), ChildCommand({L"out", L"folder"}));
  EXPECT_EQ(folder.hr, S_OK);
  EXPECT_EQ(folder.text, L"folder\r\n");
  ::RemoveDirectoryW(log.c_str());
}

}  // namespace
}  // namespace korvane::test
