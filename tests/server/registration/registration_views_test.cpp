// Clients of either bitness: the class, its ProgID and its interface in both registry views of a
// 64-bit Windows, each build's own type library entry, and unregistration that takes only this
// server's keys from both, and the keys both views share only when no view needs them.
#include <gtest/gtest.h>

#include "common/win/registry.h"
#include "common/win/unique_hkey.h"
#include "server/host/registration.h"
#include "testing/support/server_install.h"
#include "tests/server/registration/registry_tree.h"

namespace korvane::test {

using namespace server::host;
namespace {

bool HasClass(HKEY root, REGSAM view = 0) {
  return KeyExists(root, kClassKey + L"\\LocalServer32", view) &&
         KeyExists(root, kInterfaceKey, view) &&
         KeyExists(root, std::wstring(kProgId) + L"\\CLSID", view);
}

TEST(RegistryViewChoice, BothViewsOnA64BitWindowsOneOnA32BitWindows) {
  EXPECT_EQ(RegistryViews(true), (std::vector<REGSAM>{KEY_WOW64_64KEY, KEY_WOW64_32KEY}));
  EXPECT_EQ(RegistryViews(false), std::vector<REGSAM>{0});
  EXPECT_EQ(OwnTypeLibView(true), sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
  EXPECT_EQ(OwnTypeLibView(false), 0u);
}

// Each view's class (N nobody, T this server, O another), this build's type library entry, the
// other build's entry there -> whose class keys go per view; whether the shared keys, this
// build's entry and the version key go; whether anything is left in place.
TEST(RemovalPlan, SharedKeysGoOnlyWhenNoViewNamesAnotherExecutable) {
  constexpr Owner N = Owner::kNobody, T = Owner::kThisServer, O = Owner::kAnotherServer;
  struct Row {
    std::vector<Owner> classes;
    Owner entry;
    bool otherEntry;
    std::vector<bool> classKeys;
    bool shared, ownEntry, version, left;
  };
  const Row rows[] = {
      {{N, N}, N, false, {true, true}, true, true, true, false},
      {{T, T}, T, false, {true, true}, true, true, true, false},
      {{T}, T, false, {true}, true, true, true, false},
      {{T, T}, T, true, {true, true}, true, true, false, false},
      {{T, O}, T, false, {true, false}, false, true, false, true},
      {{O, O}, O, false, {false, false}, false, false, false, true},
      {{T, N}, O, false, {true, true}, true, false, false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(&row - rows);
    const Removal r = PlanRemoval({row.classes, row.entry, row.otherEntry});
    EXPECT_EQ(r.classKeys, row.classKeys);
    EXPECT_EQ(std::vector<bool>({r.sharedKeys, r.typeLibEntry, r.typeLibVersion, r.leftInPlace}),
              std::vector<bool>({row.shared, row.ownEntry, row.version, row.left}));
  }
}

// Two scratch keys standing in for the two views, and a third for the keys that Windows 7 and
// later share between them.
class ScratchViews : public ::testing::Test {
 protected:
  void SetUp() override {
    roots_.views = {{own(), 0}, {other(), 0}};
    roots_.typeLib = {own(), 0};
  }
  HKEY own() const { return keys_[0].get(); }
  HKEY other() const { return keys_[1].get(); }
  HKEY shared() const { return keys_[2].get(); }

  const std::wstring exe_ = L"C:\\Tools\\QuandrelCom.exe";
  ScratchKey keys_[3];
  ClassesRoots roots_;
};

TEST_F(ScratchViews, ClassGoesIntoEveryViewAndTheTypeLibraryIntoItsOwn) {
  ASSERT_EQ(RegisterServer(roots_, exe_), S_OK);
  EXPECT_TRUE(HasClass(own()));
  EXPECT_TRUE(HasClass(other()));
  EXPECT_TRUE(KeyExists(own(), kVersionKey + L"\\0\\" + kPlatform));
  EXPECT_FALSE(KeyExists(other(), L"TypeLib"));

  ASSERT_EQ(UnregisterServer(roots_, exe_), S_OK);
  for (HKEY root : {own(), other()}) EXPECT_EQ(OwnedKeysIn(root), kNoKeys);
}

TEST_F(ScratchViews, AFailureInTheSecondViewIsUndoneInBoth) {
  ASSERT_NO_FATAL_FAILURE(WriteKey(other(), kInterfaceKey, nullptr, REG_OPTION_VOLATILE));
  const RegistryTree ownBefore = ReadTree(own(), L"");
  const RegistryTree otherBefore = ReadTree(other(), L"");
  EXPECT_EQ(RegisterServer(roots_, exe_), HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
  // Exactly what each view held before: nothing of the class in the first, only the key the
  // registration found in the second.
  EXPECT_EQ(ReadTree(own(), L""), ownBefore);
  EXPECT_EQ(ReadTree(other(), L""), otherBefore);
  EXPECT_FALSE(KeyExists(own(), kClassKey));
}

// Another installation of the other build, elsewhere, took over the second view and added its
// library entry. With the keys common to both views kept apart (as Wine does) or shared (as
// Windows 7 and later do): this build's class and library entry go, what that installation
// needs stays (the switch is told so), and the rest goes once it is gone.
class AnotherInstallation : public ScratchViews, public ::testing::WithParamInterface<bool> {};

TEST_P(AnotherInstallation, KeepsWhatItNeedsUntilItIsGone) {
  if (GetParam()) roots_.shared = ClassesView{shared(), 0};
  roots_.appId = true;
  const HKEY common = GetParam() ? shared() : own();  // type library, own view's ProgID, AppID
  ASSERT_EQ(RegisterServer(roots_, exe_), S_OK);
  WriteKey(other(), kClassKey + L"\\LocalServer32", L"\"D:\\Elsewhere\\QuandrelCom.exe\"");
  WriteKey(common, kVersionKey + L"\\0\\" + kOtherPlatform, L"D:\\Elsewhere\\QuandrelCom.exe");

  std::wstring registeredTo;
  ASSERT_EQ(UnregisterServer(roots_, exe_, &registeredTo), S_FALSE);
  EXPECT_EQ(registeredTo, L"D:\\Elsewhere\\QuandrelCom.exe");
  EXPECT_FALSE(KeyExists(own(), kClassKey));
  EXPECT_TRUE(KeyExists(other(), kInterfaceKey));
  for (const std::wstring& key : {std::wstring(kProgId), kAppIdKey, kVersionKey + L"\\FLAGS",
                                  kVersionKey + L"\\0\\" + kOtherPlatform})
    EXPECT_TRUE(KeyExists(common, key)) << Narrow(key);
  EXPECT_FALSE(KeyExists(common, kVersionKey + L"\\0\\" + kPlatform));

  DeleteKeyTree(other(), kClassKey);
  DeleteKeyTree(common, kVersionKey + L"\\0\\" + kOtherPlatform);
  ASSERT_EQ(UnregisterServer(roots_, exe_), S_OK);
  for (HKEY root : {own(), other(), shared()}) EXPECT_EQ(OwnedKeysIn(root), kNoKeys);
}

INSTANTIATE_TEST_SUITE_P(CommonKeys, AnotherInstallation, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Shared" : "InEachView"; });

// The real Software\Classes keys of the test prefix, seen through both views.
class BothViews : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (!win::IsSixtyFourBitWindows())
      GTEST_SKIP() << "a 32-bit Windows has one registry view; the 64-bit run checks both";
  }
  HKEY hive() const { return GetParam() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }
  std::wstring switchFor(bool add) const {
    return std::wstring(add ? L"/RegServer" : L"/UnregServer") + (GetParam() ? L"" : L"PerUser");
  }

  ServerInstall install_{L"views"};
};

TEST_P(BothViews, SwitchesWriteBothViewsAndRemoveOnlyThisServersKeys) {
  win::UniqueHkey view64 = OpenClasses(hive(), KEY_ALL_ACCESS | KEY_WOW64_64KEY);
  win::UniqueHkey view32 = OpenClasses(hive(), KEY_ALL_ACCESS | KEY_WOW64_32KEY);
  // The other build registered its type library entry first.
  const std::wstring ownEntry = kVersionKey + L"\\0\\" + kPlatform;
  const std::wstring otherEntry = kVersionKey + L"\\0\\" + kOtherPlatform;
  const bool own64 = sizeof(void*) == 8;
  HKEY ownTypeLibRoot = own64 ? view64.get() : view32.get();
  const REGSAM ownView = own64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
  WriteKey(ownTypeLibRoot, otherEntry, L"C:\\Other build\\QuandrelCom.exe", 0, ownView);

  ASSERT_EQ(install_.RunSwitch(switchFor(true)), 0u);
  EXPECT_TRUE(HasClass(view64.get(), KEY_WOW64_64KEY));
  EXPECT_TRUE(HasClass(view32.get(), KEY_WOW64_32KEY));
  EXPECT_TRUE(KeyExists(ownTypeLibRoot, ownEntry, ownView));

  ASSERT_EQ(install_.RunSwitch(switchFor(false)), 0u);
  for (const auto& [root, view] :
       {std::pair{view64.get(), KEY_WOW64_64KEY}, std::pair{view32.get(), KEY_WOW64_32KEY}})
    for (const std::wstring& key : {kClassKey, kInterfaceKey, std::wstring(kProgId)})
      EXPECT_FALSE(KeyExists(root, key, view)) << Narrow(key);
  EXPECT_FALSE(KeyExists(ownTypeLibRoot, ownEntry, ownView));
  EXPECT_TRUE(KeyExists(ownTypeLibRoot, otherEntry, ownView)) << "the other build's entry stays";
  DeleteKeyTree(ownTypeLibRoot, kTypeLibKey, ownView);
}

INSTANTIATE_TEST_SUITE_P(Scopes, BothViews, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "MachineWide" : "PerUser"; });

// The choice of views answered "32-bit Windows" on a 64-bit one: one view only, the process's own.
TEST(ForcedThirtyTwoBitWindows, RegistersInTheProcesssOwnViewOnly) {
  if (!win::IsSixtyFourBitWindows())
    GTEST_SKIP() << "on a 32-bit Windows there is no other view to stay empty";
  const std::wstring exe = L"C:\\Forced\\QuandrelCom.exe";
  OpenedClasses classes;
  // Machine-wide: Wine keeps the user's Classes key in one view, Windows and Wine the machine's
  // in two.
  ASSERT_EQ(OpenClassesViews(RegistrationScope::kMachine, false, &classes), S_OK);
  ASSERT_EQ(classes.roots.views.size(), 1u);
  ASSERT_EQ(RegisterServer(classes.roots, exe), S_OK);

  win::UniqueHkey own = OpenClasses(HKEY_LOCAL_MACHINE, KEY_ALL_ACCESS);
  const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  win::UniqueHkey other = OpenClasses(HKEY_LOCAL_MACHINE, KEY_ALL_ACCESS | otherView);
  EXPECT_TRUE(HasClass(own.get()));
  EXPECT_FALSE(KeyExists(other.get(), kClassKey, otherView));
  EXPECT_EQ(UnregisterServer(classes.roots, exe), S_OK);
  EXPECT_FALSE(KeyExists(own.get(), kClassKey));
}

}  // namespace
}  // namespace korvane::test
