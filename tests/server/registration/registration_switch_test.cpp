// The executable's registration switches in both scopes, run as an installer runs them: the
// exact keys appear, all of them go again (and only from the copy they name), the other scope is
// untouched, and the outcome is told on standard output and in the exit code.
#include <gtest/gtest.h>

#include "common/win/ansi_text.h"
#include "common/win/module_path.h"
#include "common/win/unique_hkey.h"
#include "testing/support/server_install.h"
#include "tests/server/registration/registry_tree.h"

namespace korvane::test {
namespace {

constexpr uint32_t kInvalidArgument = 0x80070057;

class RegistrationSwitches : public ::testing::Test {
 protected:
  void SetUp() override {
    // Start from nothing registered, whatever an interrupted run may have left (a registration
    // of another copy is left in place by the switches, so its keys are deleted here).
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
      for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
        for (const std::wstring& key : OwnedKeys())
          DeleteKeyTree(OpenClasses(hive, KEY_ALL_ACCESS | view).get(), key, view);
    ASSERT_EQ(Machine(), RegistryTree{});
    ASSERT_EQ(User(), RegistryTree{});
  }
  void TearDown() override {
    install_.RunSwitch(L"/UnregServer");
    install_.RunSwitch(L"/UnregServerPerUser");
  }

  RegistryTree Machine() { return ReadRegistration(machine_.get()); }
  RegistryTree User() { return ReadRegistration(user_.get()); }

  // A folder the ANSI code page cannot spell: told through a pipe, it reads U+0416.
  ServerInstall install_{L"registered copy \u0416"};
  win::UniqueHkey machine_ = OpenClasses(HKEY_LOCAL_MACHINE, KEY_READ);
  win::UniqueHkey user_ = OpenClasses(HKEY_CURRENT_USER, KEY_READ);
};

// Machine-wide (true) or per user, each by an unusual spelling (the spellings themselves are
// plumbing_test.cpp's table).
class ScopeSwitches : public RegistrationSwitches, public ::testing::WithParamInterface<bool> {
 protected:
  std::wstring Switch(bool add) const {
    if (GetParam()) return add ? L"-regserver" : L"/UNREGSERVER";
    return add ? L"-RegServerPerUser" : L"/unregserverperuser";
  }
  std::string Where() const {
    return GetParam() ? "HKEY_LOCAL_MACHINE\\Software\\Classes"
                      : "HKEY_CURRENT_USER\\Software\\Classes";
  }
  RegistryTree Registered() { return GetParam() ? Machine() : User(); }
  RegistryTree OtherScope() { return GetParam() ? User() : Machine(); }
};

// A second copy (a moved folder, another installation) finds the registration naming the
// first: it says so, leaves every key in place, and exits with 1 (S_FALSE) for scripts.
TEST_P(ScopeSwitches, WriteExactlyTheirKeysAndRemoveThemOnlyFromTheRegisteredCopy) {
  ProcessResult run = install_.Run(Switch(true));
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(run.output.find("registered in " + Where()), std::string::npos) << run.output;
  EXPECT_EQ(Registered(), ExpectedRegistration(install_.exe(), kPlatform, GetParam()));
  EXPECT_EQ(OtherScope(), RegistryTree{});

  ServerInstall second{L"second copy"};
  run = second.Run(Switch(false));
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.output, "QuandrelCom: left in place: registered to " +
                            Narrow(win::MarkUncarried(install_.exe())) + "\r\n");
  EXPECT_EQ(Registered(), ExpectedRegistration(install_.exe(), kPlatform, GetParam()));

  run = install_.Run(Switch(false));
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(run.output.find("unregistered from " + Where()), std::string::npos) << run.output;
  EXPECT_EQ(Registered(), RegistryTree{});
}

INSTANTIATE_TEST_SUITE_P(Scopes, ScopeSwitches, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "MachineWide" : "PerUser"; });

// The copy is the same file whether it was started by its long path or its short (8.3) one: it
// registers its long path, and the other spelling takes the registration away again, also one
// that names the copy by its short path (as Windows names a module started so; Wine never does).
TEST_F(RegistrationSwitches, ShortAndLongSpellingsOfTheCopyAreOneCopy) {
  const std::wstring shortExe = win::ShortPathOf(install_.exe());
  ASSERT_NE(shortExe, install_.exe()) << "no short name to start the copy by";
  auto run = [&](const std::wstring& exe, const wchar_t* option) {
    return RunProcess(L"\"" + exe + L"\" " + option, install_.folder()).exitCode;
  };
  for (bool shortFirst : {true, false}) {
    SCOPED_TRACE(shortFirst ? "registered by the short path" : "registered by the long path");
    EXPECT_EQ(run(shortFirst ? shortExe : install_.exe(), L"/RegServer"), 0u);
    EXPECT_EQ(Machine(), ExpectedRegistration(install_.exe(), kPlatform, true));
    if (shortFirst) {
      for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
        WriteKey(OpenClasses(HKEY_LOCAL_MACHINE, KEY_ALL_ACCESS | view).get(),
                 kClassKey + L"\\LocalServer32", (L"\"" + shortExe + L"\"").c_str(), 0, view);
      WriteKey(OpenClasses(HKEY_LOCAL_MACHINE, KEY_ALL_ACCESS).get(),
               kVersionKey + L"\\0\\" + kPlatform, shortExe.c_str());
    }
    EXPECT_EQ(run(shortFirst ? install_.exe() : shortExe, L"/UnregServer"), 0u);
    EXPECT_EQ(Machine(), RegistryTree{});
  }
}

// A volatile interface key refuses the lasting keys below it: the registration fails part-way,
// says so, exits with the error for installers, and leaves the registry as it found it.
TEST_F(RegistrationSwitches, AFailedRegistrationExitsWithItsErrorAndUndoesItsWrites) {
  const win::UniqueHkey classes = OpenClasses(HKEY_CURRENT_USER, KEY_ALL_ACCESS);
  // Its parent made lasting first: created volatile with it, it would refuse every later test.
  ASSERT_NO_FATAL_FAILURE(WriteKey(classes.get(), L"Interface"));
  ASSERT_NO_FATAL_FAILURE(WriteKey(classes.get(), kInterfaceKey, nullptr, REG_OPTION_VOLATILE));
  const RegistryTree before = User();
  const ProcessResult run = install_.Run(L"/RegServerPerUser");
  EXPECT_EQ(run.exitCode, 0x800703FDu);  // ERROR_CHILD_MUST_BE_VOLATILE
  EXPECT_EQ(run.output.rfind("QuandrelCom: registration in HKEY_CURRENT_USER\\Software\\Classes "
                             "failed, error 0x800703FD",
                             0),
            0u)
      << run.output;
  EXPECT_EQ(User(), before);
}

TEST_F(RegistrationSwitches, UnknownOrSeveralSwitchesAreRefusedAndChangeNothing) {
  for (const wchar_t* arguments : {L"/Install", L"/RegServer /UnregServer"}) {
    SCOPED_TRACE(Narrow(arguments));
    ProcessResult run = install_.Run(arguments);
    EXPECT_EQ(run.exitCode, kInvalidArgument);
    EXPECT_NE(run.output.find("unknown switch"), std::string::npos) << run.output;
    EXPECT_EQ(Machine(), RegistryTree{});
    EXPECT_EQ(User(), RegistryTree{});
  }
}

}  // namespace
}  // namespace korvane::test
