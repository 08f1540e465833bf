// The application manifest of each shipped program, read from the file as Windows reads it
// (a 64-bit reader reads the 32-bit files too) and parsed with MSXML: a manifest Windows cannot
// parse stops the program before it starts.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "common/win/com_ptr.h"
#include "common/win/late_binding.h"
#include "common/win/scoped_com_init.h"
#include "common/win/unique_bstr.h"
#include "common/win/unique_module.h"
#include "common/win/variant_args.h"
#include "testing/support/test_support.h"

namespace korvane::test {
namespace {

struct Program {
  const char* name;
  const char* path;
  bool otherTree = false;  // built in the i686 folder beside this build's, when it is
};
void PrintTo(const Program& program, std::ostream* out) { *out << program.name; }

const Program kPrograms[] = {
    {KORVANE_BUILD_NAME "_QuandrelCom", KORVANE_SERVER_EXE},
    {KORVANE_BUILD_NAME "_quandrelcmd", KORVANE_CLI_EXE},
#ifdef KORVANE_I686_SERVER_EXE  // the shipping files, read by the x86_64 run too
    {"i686_QuandrelCom", KORVANE_I686_SERVER_EXE, true},
    {"i686_quandrelcmd", KORVANE_I686_CLI_EXE, true},
#endif
};
const LPCWSTR kManifest = MAKEINTRESOURCEW(24);  // RT_MANIFEST

// Every manifest resource of a module: its name (an id) once per language.
BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR name, WORD, LONG_PTR names) {
  reinterpret_cast<std::vector<ULONG_PTR>*>(names)->push_back(reinterpret_cast<ULONG_PTR>(name));
  return TRUE;
}
BOOL CALLBACK AddName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR names) {
  return ::EnumResourceLanguagesW(module, type, name, AddLanguage, names);
}

// Calls a method of an MSXML object with text arguments.
win::DispatchOutcome Call(IDispatch* object, const wchar_t* name, std::vector<std::wstring> args) {
  std::vector<win::UniqueBstr> texts;
  std::vector<VARIANT> variants;
  for (const std::wstring& arg : args)
    variants.push_back(win::BorrowedTextArg(texts.emplace_back(std::wstring_view(arg)).get()));
  return win::InvokeByName(object, name, variants);
}

class ShippedManifest : public ::testing::TestWithParam<Program> {};

TEST_P(ShippedManifest, OneManifestRunsAsInvokerOnWindows7To11) {
  const std::wstring path = WindowsPathOf(GetParam().path);
  if (GetParam().otherTree && !FileExists(path))
    GTEST_SKIP() << "the i686 tree is not built beside this one: " << Narrow(path);
  win::UniqueModule file(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(file) << Narrow(path) << " not readable, error " << ::GetLastError();
  // Resource 1 is the one Windows reads; a second manifest (a toolchain's default one) would
  // leave to chance which of them applies.
  std::vector<ULONG_PTR> manifests;
  ::EnumResourceNamesW(file.get(), kManifest, AddName, reinterpret_cast<LONG_PTR>(&manifests));
  ASSERT_EQ(manifests, std::vector<ULONG_PTR>{1});
  HRSRC found = ::FindResourceW(file.get(), MAKEINTRESOURCEW(1), kManifest);
  std::string xml(static_cast<const char*>(::LockResource(::LoadResource(file.get(), found))),
                  ::SizeofResource(file.get(), found));

  win::ScopedComInit com;
  win::ComPtr<IDispatch> doc;
  ASSERT_EQ(win::CreateObjectByProgId(L"Msxml2.DOMDocument.6.0", doc.put()), S_OK);
  win::DispatchOutcome loaded = Call(doc.get(), L"loadXML", {Widen(xml, CP_UTF8)});
  ASSERT_TRUE(loaded.value().vt == VT_BOOL && loaded.value().boolVal) << "malformed:\n" << xml;
  Call(doc.get(), L"setProperty",
       {L"SelectionNamespaces",
        L"xmlns:a='urn:schemas-microsoft-com:asm.v1' "
        L"xmlns:t='urn:schemas-microsoft-com:asm.v3' "
        L"xmlns:c='urn:schemas-microsoft-com:compatibility.v1'"});
  const std::pair<const wchar_t*, LONG> expected[] = {
      {L"/a:assembly/t:trustInfo/t:security/t:requestedPrivileges/"
       L"t:requestedExecutionLevel[@level='asInvoker' and @uiAccess='false']",
       1},
      {L"//t:requestedExecutionLevel", 1},
      {L"/a:assembly/c:compatibility/c:application/c:supportedOS", 4},
      {L"//c:supportedOS[@Id='{35138b9a-5d96-4fbd-8e2d-a2440225f93a}']", 1},  // Windows 7
      {L"//c:supportedOS[@Id='{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}']", 1},  // 8
      {L"//c:supportedOS[@Id='{1f676c76-80e1-4239-95bb-83d0f6d0da78}']", 1},  // 8.1
      {L"//c:supportedOS[@Id='{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}']", 1},  // 10 and 11
      {L"//*[local-name()='activeCodePage' or local-name()='longPathAware']", 0},
  };
  for (const auto& [xpath, count] : expected) {
    win::DispatchOutcome nodes = Call(doc.get(), L"selectNodes", {xpath});
    ASSERT_EQ(nodes.value().vt, VT_DISPATCH) << Narrow(xpath);
    win::DispatchOutcome length =
        win::InvokeByName(nodes.value().pdispVal, L"length", {}, DISPATCH_PROPERTYGET);
    ASSERT_EQ(length.value().vt, VT_I4) << Narrow(xpath);
    EXPECT_EQ(length.value().lVal, count) << Narrow(xpath);
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, ShippedManifest, ::testing::ValuesIn(kPrograms),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvane::test
