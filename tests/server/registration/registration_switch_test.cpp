// The executable's registration switches in both scopes, run as an installer runs them: the
// exact keys appear, all of them go again, the other scope is untouched, and the outcome is
// told on standard output and in the exit code.
#include <gtest/gtest.h>

#include "registry_tree.h"
#include "server_install.h"
#include "win/unique_hkey.h"

namespace korvane::test {
namespace {

constexpr uint32_t kInvalidArgument = 0x80070057;

win::UniqueHkey OpenClasses(HKEY hive) {
  win::UniqueHkey key;
  // A fresh prefix may not have the user's Classes key yet; Windows always does.
  EXPECT_EQ(::RegCreateKeyExW(hive, L"Software\\Classes", 0, nullptr, 0, KEY_READ, nullptr,
                              key.put(), nullptr),
            ERROR_SUCCESS);
  return key;
}

class RegistrationSwitches : public ::testing::Test {
 protected:
  void SetUp() override {
    // Start from nothing registered, whatever an interrupted run may have left.
    ASSERT_EQ(install_.RunSwitch(L"/UnregServer"), 0u);
    ASSERT_EQ(install_.RunSwitch(L"/UnregServerPerUser"), 0u);
    ASSERT_EQ(Machine(), RegistryTree{});
    ASSERT_EQ(User(), RegistryTree{});
  }
  void TearDown() override {
    install_.RunSwitch(L"/UnregServer");
    install_.RunSwitch(L"/UnregServerPerUser");
  }

  RegistryTree Machine() { return ReadRegistration(machine_.get()); }
  RegistryTree User() { return ReadRegistration(user_.get()); }
  RegistryTree Expected() {
    return ExpectedRegistration(install_.exe(), sizeof(void*) == 8 ? L"win64" : L"win32");
  }

  ServerInstall install_{L"registered copy"};
  win::UniqueHkey machine_ = OpenClasses(HKEY_LOCAL_MACHINE);
  win::UniqueHkey user_ = OpenClasses(HKEY_CURRENT_USER);
};

TEST_F(RegistrationSwitches, MachineWideRegistrationWritesAndRemovesExactlyItsKeys) {
  ProcessResult run = install_.Run(L"/RegServer");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(run.output.find("registered in HKEY_LOCAL_MACHINE\\Software\\Classes"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(Machine(), Expected());
  EXPECT_EQ(User(), RegistryTree{});

  run = install_.Run(L"/UnregServer");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(run.output.find("unregistered from HKEY_LOCAL_MACHINE\\Software\\Classes"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(Machine(), RegistryTree{});
}

TEST_F(RegistrationSwitches, PerUserRegistrationWritesAndRemovesExactlyItsKeys) {
  ProcessResult run = install_.Run(L"/RegServerPerUser");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(run.output.find("registered in HKEY_CURRENT_USER\\Software\\Classes"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(User(), Expected());
  EXPECT_EQ(Machine(), RegistryTree{});

  run = install_.Run(L"/UnregServerPerUser");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(run.output.find("unregistered from HKEY_CURRENT_USER\\Software\\Classes"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(User(), RegistryTree{});
}

TEST_F(RegistrationSwitches, SwitchesIgnoreCaseAndTakeEitherPrefix) {
  struct Step {
    const wchar_t* arguments;
    bool machineRegistered;
    bool userRegistered;
  };
  const Step steps[] = {
      {L"-regserver", true, false},        {L"/UNREGSERVER", false, false},
      {L"-RegServerPerUser", false, true}, {L"/unregserverperuser", false, false},
      {L"  /rEgSeRvEr  ", true, false},    {L"-UnRegServer", false, false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(Narrow(step.arguments));
    EXPECT_EQ(install_.RunSwitch(step.arguments), 0u);
    EXPECT_EQ(Machine(), step.machineRegistered ? Expected() : RegistryTree{});
    EXPECT_EQ(User(), step.userRegistered ? Expected() : RegistryTree{});
  }
}

TEST_F(RegistrationSwitches, UnknownOrSeveralSwitchesAreRefusedAndChangeNothing) {
  for (const wchar_t* arguments : {L"/Install", L"RegServer", L"/RegServer /UnregServer", L"-",
                                   L"/RegServer2", L"/RegServer extra"}) {
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
