// The registration functions against a scratch key standing in for the machine's
// Software\Classes: the exact layout with the AppID and its access list, re-registration, what
// unregistration leaves alone, and a failed registration.
#include <windows.h>

#include <gtest/gtest.h>
#include <sddl.h>

#include "common/win/unique_local.h"
#include "server/host/registration.h"
#include "testing/support/test_support.h"
#include "tests/server/registration/registry_tree.h"

namespace korvane::test {

using namespace server::host;
namespace {

// A scratch key plays the machine's Software\Classes, so the AppID keys are written too.
class ScratchClasses : public ::testing::Test {
 protected:
  HKEY root() const { return root_.get(); }

  ScratchKey root_;
  ClassesRoots roots_ = [this] {
    ClassesRoots roots = ClassesRoots::Single(root_.get());
    roots.appId = true;
    return roots;
  }();
};

// Each registration over the one before: a folder with blanks, a drive's root (which keeps its
// backslash as the help folder), then another folder, to which everything then points.
TEST_F(ScratchClasses, WritesExactlyThePublishedLayoutForTheLastRegisteredFolder) {
  const wchar_t* const folders[] = {L"C:\\Program Files\\Korvane Tools\\QuandrelCom.exe",
                                    L"D:\\QuandrelCom.exe", L"C:\\New place\\QuandrelCom.exe"};
  for (const std::wstring exe : folders) {
    SCOPED_TRACE(Narrow(exe));
    ASSERT_EQ(RegisterServer(roots_, exe), S_OK);
    // The owned keys, their parents, and nothing besides.
    RegistryTree expected = ExpectedRegistration(exe, kPlatform, true);
    for (const wchar_t* parent : {L"CLSID", L"Interface", L"TypeLib", L"AppID"}) expected[parent];
    EXPECT_EQ(ReadTree(root(), L""), expected);
  }
  EXPECT_EQ(AccessPermissionSddl(root()),
            L"O:BAG:BAD:(A;;CCDC;;;PS)(A;;CCDC;;;SY)S:(ML;;NX;;;S-1-16-8192)");

  // Spelled in another case, as Windows compares paths, it is still this copy's registration.
  ASSERT_EQ(UnregisterServer(roots_, L"c:\\NEW PLACE\\quandrelcom.EXE"), S_OK);
  EXPECT_EQ(OwnedKeysIn(root()), kNoKeys);
}

TEST_F(ScratchClasses, RegisteringAgainKeepsAnAccessListAnAdministratorWidened) {
  const std::wstring exe = L"C:\\Tools\\QuandrelCom.exe";
  ASSERT_EQ(RegisterServer(roots_, exe), S_OK);
  const std::wstring widened = L"O:BAG:BAD:(A;;CCDCLC;;;PS)(A;;CCDCLC;;;BU)S:(ML;;NX;;;LW)";
  win::UniqueLocal<> descriptor;
  ULONG bytes = 0;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      widened.c_str(), SDDL_REVISION_1, descriptor.put(), &bytes));
  ASSERT_EQ(::RegSetKeyValueW(root(), kAppIdKey.c_str(), L"AccessPermission", REG_BINARY,
                              descriptor.get(), bytes),
            ERROR_SUCCESS);
  ASSERT_EQ(RegisterServer(roots_, L"C:\\New place\\QuandrelCom.exe"), S_OK);
  EXPECT_EQ(AccessPermissionSddl(root()),
            L"O:BAG:BAD:(A;;CCDCLC;;;PS)(A;;CCDCLC;;;BU)S:(ML;;NX;;;S-1-16-4096)");
}

TEST_F(ScratchClasses, UnregisteringLeavesOtherClassesAndLibraryVersionsAlone) {
  const std::wstring& library = kTypeLibKey;
  WriteKey(root(), L"CLSID\\{11111111-2222-3333-4444-555555555555}\\LocalServer32", L"other.exe");
  WriteKey(root(), L"Interface\\{11111111-2222-3333-4444-555555555556}", L"IOther");
  WriteKey(root(), L"Other.ProgID\\CLSID", L"{11111111-2222-3333-4444-555555555555}");
  WriteKey(root(), library + L"\\2.0", L"Korvane 2");
  WriteKey(root(), library + L"\\2.0\\0\\win32", L"C:\\v2\\QuandrelCom.exe");
  WriteKey(root(), L"AppID\\{11111111-2222-3333-4444-555555555555}", L"Other");
  const RegistryTree before = ReadTree(root(), L"");

  const std::wstring exe = L"C:\\Tools\\QuandrelCom.exe";
  for (const bool registered : {true, false}) {
    SCOPED_TRACE(registered ? "registered" : "never registered");
    ASSERT_EQ(registered ? RegisterServer(roots_, exe) : S_OK, S_OK);
    ASSERT_EQ(UnregisterServer(roots_, exe), S_OK);
    // Exactly what was there before: the other version keeps the library's own key.
    EXPECT_EQ(ReadTree(root(), L""), before);
    EXPECT_TRUE(KeyExists(root(), library));
    EXPECT_FALSE(KeyExists(root(), library + L"\\1.0"));
  }
}

// Unregistration reads LocalServer32 as clients' process creation does: this copy with
// arguments after it, or with the long-path prefix, is this copy; another copy, a relative path
// (resolved in a folder not known here) or a value naming nothing is left in place, and named.
TEST_F(ScratchClasses, UnregisteringReadsLocalServer32AsProcessCreationDoes) {
  const struct {
    const wchar_t *exe, *localServer32, *typeLibEntry;  // written over the registration
    HRESULT result;
    const wchar_t* registeredTo;
  } rows[] = {
      {L"C:\\Tools\\QuandrelCom.exe", L"\"C:\\Tools\\QuandrelCom.exe\" -Embedding", nullptr, S_OK,
       L""},
      {L"C:\\Tools\\QuandrelCom.exe", L"\\\\?\\C:\\Tools\\QuandrelCom.exe",
       L"\"\\\\?\\C:\\Tools\\QuandrelCom.exe\"", S_OK, L""},
      {L"C:\\a.exe b\\QuandrelCom.exe", L"C:\\a.exe b\\QuandrelCom.exe", nullptr, S_OK, L""},
      {L"C:\\Tools\\QuandrelCom.exe", L"\"D:\\Elsewhere\\QuandrelCom.exe\" -Embedding", nullptr,
       S_FALSE, L"D:\\Elsewhere\\QuandrelCom.exe"},
      {L"C:\\Tools\\QuandrelCom.exe", L"QuandrelCom.exe -Embedding", nullptr, S_FALSE,
       L"QuandrelCom.exe"},
      {L"C:\\Tools\\QuandrelCom.exe", L"\"", nullptr, S_FALSE, L"\""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Narrow(row.localServer32));
    ASSERT_EQ(RegisterServer(roots_, row.exe), S_OK);
    WriteKey(root(), kClassKey + L"\\LocalServer32", row.localServer32);
    if (row.typeLibEntry) WriteKey(root(), kVersionKey + L"\\0\\" + kPlatform, row.typeLibEntry);
    std::wstring registeredTo;
    EXPECT_EQ(UnregisterServer(roots_, row.exe, &registeredTo), row.result);
    EXPECT_EQ(registeredTo, row.registeredTo);
    EXPECT_EQ(KeyExists(root(), kClassKey), row.result == S_FALSE);
    DeleteKeyTree(root(), kClassKey, 0);
  }
}

TEST_F(ScratchClasses, ProgIdAndExecutableNameTakenOverByAnotherClassAreKept) {
  const std::wstring exe = L"C:\\Tools\\QuandrelCom.exe";
  ASSERT_EQ(RegisterServer(roots_, exe), S_OK);
  const std::wstring other = L"{11111111-2222-3333-4444-555555555555}";
  WriteKey(root(), std::wstring(kProgId) + L"\\CLSID", other.c_str());
  const std::wstring name = L"AppID\\QuandrelCom.exe";
  ASSERT_EQ(::RegSetKeyValueW(root(), name.c_str(), L"AppID", REG_SZ, other.c_str(),
                              static_cast<DWORD>((other.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);

  ASSERT_EQ(UnregisterServer(roots_, exe), S_OK);
  EXPECT_EQ(win::ReadText(root(), std::wstring(kProgId) + L"\\CLSID", nullptr), other);
  EXPECT_EQ(win::ReadText(root(), name, L"AppID"), other);
  EXPECT_FALSE(KeyExists(root(), kClassKey));
  EXPECT_FALSE(KeyExists(root(), kTypeLibKey));
}

// Part-way through, a key fails (made volatile, with the value it had): the version key after the
// class, ProgID and interface keys were written (false), or the interface key over an earlier
// installation (true). Exactly what was there stays: the keys it created (the AppID's too) are
// gone, the ones it found kept, every overwritten value is back (the class still starts the
// earlier installation).
class FailingRegistration : public ScratchClasses, public ::testing::WithParamInterface<bool> {};

TEST_P(FailingRegistration, TakesBackWhatItWroteAndPutsBackWhatItOverwrote) {
  ASSERT_EQ(GetParam() ? RegisterServer(roots_, L"C:\\Old place\\QuandrelCom.exe") : S_OK, S_OK);
  const std::wstring& failing = GetParam() ? kInterfaceKey : kVersionKey;
  const std::wstring name = GetParam() ? ReadTree(root(), failing).at(failing).at(L"") : L"";
  DeleteKeyTree(root(), failing);
  ASSERT_NO_FATAL_FAILURE(
      WriteKey(root(), failing, GetParam() ? name.c_str() : nullptr, REG_OPTION_VOLATILE));
  const RegistryTree before = ReadTree(root(), L"");

  EXPECT_EQ(RegisterServer(roots_, L"C:\\New place\\QuandrelCom.exe"),
            HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
  EXPECT_EQ(ReadTree(root(), L""), before);
  EXPECT_EQ(KeyExists(root(), kClassKey), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Earlier, FailingRegistration, ::testing::Bool(), [](const auto& info) {
  return info.param ? "OverAnEarlierInstallation" : "NothingRegisteredBefore";
});

// A key that cannot be opened is not a missing key: it may hold an earlier installation, which
// an undo would then delete or leave overwritten. Nor is a path too long to serve from written.
// Here the earlier class's LocalServer32 denies this process part of KEY_READ (KEY_NOTIFY) and
// still lets it set values.
TEST_F(ScratchClasses, KeyThatCannotBeOpenedStopsTheRegistrationBeforeAnyWrite) {
  ASSERT_EQ(RegisterServer(roots_, L"C:\\Old place\\QuandrelCom.exe"), S_OK);
  const RegistryTree before = ReadTree(root(), L"");
  const std::wstring server = kClassKey + L"\\LocalServer32";
  const auto setDacl = [&](const wchar_t* sddl) {
    win::UniqueLocal<> descriptor;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                       descriptor.put(), nullptr));
    win::UniqueHkey key;
    ASSERT_EQ(::RegOpenKeyExW(root(), server.c_str(), 0, WRITE_DAC, key.put()), ERROR_SUCCESS);
    ASSERT_EQ(::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor.get()),
              ERROR_SUCCESS);
  };
  setDacl(L"D:(D;;0x10;;;WD)(A;;KA;;;WD)");
  win::UniqueHkey probe;
  EXPECT_EQ(::RegOpenKeyExW(root(), server.c_str(), 0, KEY_READ, probe.put()), ERROR_ACCESS_DENIED)
      << "the access list is not enforced";

  EXPECT_EQ(RegisterServer(roots_, L"C:\\New place\\QuandrelCom.exe"), E_ACCESSDENIED);
  setDacl(L"D:(A;;KA;;;WD)");
  EXPECT_EQ(ReadTree(root(), L""), before);

  // A path that COM and the type library cannot take (MAX_PATH characters) is refused as well;
  // one character less is served.
  const std::wstring folder = L"C:\\" + std::wstring(MAX_PATH - 19, L'd');
  EXPECT_EQ(RegisterServer(roots_, folder + L"\\QuandrelCom.exe"),
            HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(ReadTree(root(), L""), before);
  EXPECT_EQ(RegisterServer(roots_, folder.substr(0, folder.size() - 1) + L"\\QuandrelCom.exe"),
            S_OK);
}

}  // namespace
}  // namespace korvane::test
