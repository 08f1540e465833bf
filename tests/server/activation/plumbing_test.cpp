// The server's plumbing hosted in the test process: reading the command line, the class object,
// and the counting of objects and locks that decides the server's life.
#include <gtest/gtest.h>

#include <utility>

#include "common/win/com_ptr.h"
#include "server/com/class_factory.h"
#include "server/com/quandrelcom.h"
#include "server/com/server_lifetime.h"
#include "server/host/server_switch.h"

namespace korvane::test {

using namespace server::com;
using namespace server::host;
namespace {

TEST(ServerSwitch, ArgumentsFollowTheProgramNameQuotedOrNot) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"\"C:\\Program Files\\Q\\QuandrelCom.exe\" -Embedding", L"-Embedding"},
      {L"C:\\Q\\QuandrelCom.exe   /RegServer", L"/RegServer"},
      {L"\"C:\\Q\\QuandrelCom.exe\"", L""},
      {L"QuandrelCom.exe", L""},
      {L"\"unterminated -Embedding", L""}};
  for (const auto& [commandLine, arguments] : cases) EXPECT_EQ(ArgumentsOf(commandLine), arguments);
}

// Known switches in any case, with '-' or '/', alone; anything else is refused. (What a refused
// switch does to the registry, and a registration by an unusual spelling of each scope, are run
// as real processes in registration_switch_test.cpp.)
TEST(ServerSwitch, KnownSwitchesInAnyCaseWithDashOrSlashAndNothingElse) {
  constexpr ServerAction kServe = ServerAction::kServe, kReg = ServerAction::kRegister,
                         kUnreg = ServerAction::kUnregister,
                         kRegUser = ServerAction::kRegisterPerUser,
                         kUnregUser = ServerAction::kUnregisterPerUser,
                         kCheck = ServerAction::kCheck, kHelp = ServerAction::kHelp,
                         kInvalid = ServerAction::kInvalid;
  // clang-format off
  const std::pair<const wchar_t*, ServerAction> cases[] = {
      {L"", kServe}, {L"   ", kServe}, {L"-Embedding", kServe}, {L"/embedding", kServe},
      {L"/RegServer", kReg}, {L"-REGSERVER", kReg}, {L"-regserver", kReg}, {L"\"/RegServer\"", kReg}, {L"  /rEgSeRvEr  ", kReg},
      {L"/UnregServer", kUnreg}, {L"-unregserver", kUnreg}, {L"/UNREGSERVER", kUnreg}, {L"-UnRegServer", kUnreg},
      {L"/RegServerPerUser", kRegUser}, {L"-regserverperuser", kRegUser}, {L"-RegServerPerUser", kRegUser},
      {L"/UnregServerPerUser", kUnregUser}, {L"\t-UNREGSERVERPERUSER ", kUnregUser}, {L"/unregserverperuser", kUnregUser},
      {L"/Check", kCheck}, {L"-check", kCheck},
      {L"/?", kHelp}, {L"-?", kHelp}, {L"/help", kHelp}, {L"-HELP", kHelp},
      {L"RegServer", kInvalid}, {L"/", kInvalid}, {L"-", kInvalid}, {L"/RegServe", kInvalid}, {L"/RegServerX", kInvalid},
      {L"/RegServer2", kInvalid}, {L"/Install", kInvalid}, {L"/RegServer /UnregServer", kInvalid}, {L"/RegServer extra", kInvalid},
      {L"-Embedding extra", kInvalid}, {L"--RegServer", kInvalid}, {L"\\RegServer", kInvalid}, {L"/Reg Server", kInvalid},
      {L"?", kInvalid}, {L"/??", kInvalid}, {L"/? /RegServer", kInvalid},
  };
  // clang-format on
  for (const auto& [arguments, action] : cases)
    EXPECT_EQ(ParseServerAction(arguments), action) << testing::PrintToString(arguments);
}

TEST(ClassObject, CreatesObjectsThatAnswerTheInterface) {
  ClassFactory factory;
  win::ComPtr<_QuandrelCom> object;
  ASSERT_EQ(factory.CreateInstance(nullptr, IID__QuandrelCom, object.put_void()), S_OK);
  VARIANT_BOOL value = VARIANT_TRUE;
  EXPECT_EQ(object->get_g_isDebug(&value), S_OK);
  EXPECT_EQ(value, VARIANT_FALSE);

  win::ComPtr<IDispatch> dispatch;
  EXPECT_EQ(factory.CreateInstance(nullptr, IID_IDispatch, dispatch.put_void()), S_OK);
  EXPECT_TRUE(dispatch);
}

TEST(ServerReferences, CountObjectsFromCreationToLastRelease) {
  ClassFactory factory;
  const long before = ServerReferences();
  ASSERT_EQ(before, 0) << "an earlier test left an object alive";
  win::ComPtr<_QuandrelCom> first, second;
  ASSERT_EQ(factory.CreateInstance(nullptr, IID__QuandrelCom, first.put_void()), S_OK);
  ASSERT_EQ(factory.CreateInstance(nullptr, IID__QuandrelCom, second.put_void()), S_OK);
  EXPECT_EQ(ServerReferences(), before + 2);

  win::ComPtr<_QuandrelCom> copy = first;  // another reference, not another object
  first.reset();
  EXPECT_EQ(ServerReferences(), before + 2);
  copy.reset();
  EXPECT_EQ(ServerReferences(), before + 1);
  const ULONGLONG lastReleased = ::GetTickCount64();
  second.reset();
  EXPECT_EQ(ServerReferences(), before);
  // The moment the count fell to zero starts the server's linger.
  EXPECT_GE(LastReleaseTick(), lastReleased);
}

TEST(ServerReferences, LocksCountUntilUnlockedAndAnUnbalancedUnlockIsRefused) {
  ClassFactory factory;
  const long before = ServerReferences();
  EXPECT_EQ(factory.LockServer(TRUE), S_OK);
  EXPECT_EQ(factory.LockServer(TRUE), S_OK);
  EXPECT_EQ(ServerReferences(), before + 2);
  EXPECT_EQ(factory.LockServer(FALSE), S_OK);
  EXPECT_EQ(factory.LockServer(FALSE), S_OK);
  EXPECT_EQ(ServerReferences(), before);

  // A client unlocking more than it locked must not end the server under other clients.
  win::ComPtr<_QuandrelCom> held;
  ASSERT_EQ(factory.CreateInstance(nullptr, IID__QuandrelCom, held.put_void()), S_OK);
  EXPECT_EQ(factory.LockServer(FALSE), E_UNEXPECTED);
  EXPECT_EQ(ServerReferences(), before + 1);
}

}  // namespace
}  // namespace korvane::test
