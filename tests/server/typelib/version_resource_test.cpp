// The version information of each built executable, read from the file as Explorer and
// installers read it (a 64-bit reader reads the 32-bit file too).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/server/typelib/built_servers.h"

namespace korvane::test {
namespace {

class VersionResourceTest : public ::testing::TestWithParam<BuiltServer> {
 protected:
  void SetUp() override {
    SKIP_IF_OTHER_RUNS_IT(GetParam());
    ASSERT_BUILT(GetParam());
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeW(GetParam().exe.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version information, error " << ::GetLastError();
    block_.resize(size);
    ASSERT_TRUE(::GetFileVersionInfoW(GetParam().exe.c_str(), 0, size, block_.data()));
  }

  // A value of the U.S. English, Unicode string table; false when it is missing.
  bool StringValue(const std::wstring& name, std::wstring* value) {
    std::wstring path = L"\\StringFileInfo\\040904b0\\" + name;
    void* data = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block_.data(), path.c_str(), &data, &length)) return false;
    const wchar_t* text = static_cast<const wchar_t*>(data);
    // The reported length may or may not count the terminating zero.
    while (length > 0 && text[length - 1] == L'\0') --length;
    value->assign(text, length);
    return true;
  }

  std::vector<BYTE> block_;
};

TEST_P(VersionResourceTest, FixedVersionIsOneZeroZeroZero) {
  void* data = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(block_.data(), L"\\", &data, &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(data);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST_P(VersionResourceTest, OneTranslationUsEnglishUnicode) {
  void* data = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(block_.data(), L"\\VarFileInfo\\Translation", &data, &length));
  ASSERT_EQ(length, 4u);
  const WORD* pair = static_cast<const WORD*>(data);
  EXPECT_EQ(pair[0], 0x0409);
  EXPECT_EQ(pair[1], 1200);
}

TEST_P(VersionResourceTest, NamesVersionsAndSelfRegistrationMark) {
  const std::pair<const wchar_t*, const char*> expected[] = {
      {L"ProductName", "QuandrelCom"},
      {L"InternalName", "QuandrelCom"},
      {L"FileVersion", "1.00"},
      {L"ProductVersion", "1.00"},
      // Present and empty: installers take it as "this program registers itself".
      {L"OLESelfRegister", ""},
  };
  for (const auto& [name, value] : expected) {
    SCOPED_TRACE(Narrow(name));
    std::wstring actual;
    ASSERT_TRUE(StringValue(name, &actual)) << "missing";
    EXPECT_EQ(Narrow(actual), value);
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, VersionResourceTest, ::testing::Values(X64Server(), I686Server()),
                         [](const auto& info) { return std::string(info.param.build); });

}  // namespace
}  // namespace korvane::test
