// The server's plumbing hosted in the test process: reading the command line, the class object,
// and the counting of objects and locks that decides the server's life.
#include <gtest/gtest.h>

#include "common/win/com_ptr.h"
#include "server/com/class_factory.h"
#include "server/com/quandrelcom.h"
#include "server/com/server_lifetime.h"
#include "server/host/server_switch.h"

namespace korvane::server {
namespace {

TEST(ServerSwitch, ArgumentsFollowTheProgramNameQuotedOrNot) {
  EXPECT_EQ(ArgumentsOf(L"\"C:\\Program Files\\Q\\QuandrelCom.exe\" -Embedding"), L"-Embedding");
  EXPECT_EQ(ArgumentsOf(L"C:\\Q\\QuandrelCom.exe   /RegServer"), L"/RegServer");
  EXPECT_EQ(ArgumentsOf(L"\"C:\\Q\\QuandrelCom.exe\""), L"");
  EXPECT_EQ(ArgumentsOf(L"QuandrelCom.exe"), L"");
  EXPECT_EQ(ArgumentsOf(L"\"unterminated -Embedding"), L"");
}

TEST(ServerSwitch, KnownSwitchesInAnyCaseWithDashOrSlash) {
  struct Case {
    const wchar_t* arguments;
    ServerAction action;
  };
  const Case cases[] = {
      {L"", ServerAction::kServe},
      {L"   ", ServerAction::kServe},
      {L"-Embedding", ServerAction::kServe},
      {L"/embedding", ServerAction::kServe},
      {L"/RegServer", ServerAction::kRegister},
      {L"-REGSERVER", ServerAction::kRegister},
      {L"\"/RegServer\"", ServerAction::kRegister},
      {L"/UnregServer", ServerAction::kUnregister},
      {L"-unregserver", ServerAction::kUnregister},
      {L"/RegServerPerUser", ServerAction::kRegisterPerUser},
      {L"-regserverperuser", ServerAction::kRegisterPerUser},
      {L"/UnregServerPerUser", ServerAction::kUnregisterPerUser},
      {L"\t-UNREGSERVERPERUSER ", ServerAction::kUnregisterPerUser},
      {L"/Check", ServerAction::kCheck},
      {L"-check", ServerAction::kCheck},
      {L"/?", ServerAction::kHelp},
      {L"-?", ServerAction::kHelp},
      {L"/help", ServerAction::kHelp},
      {L"-HELP", ServerAction::kHelp},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ParseServerAction(c.arguments), c.action) << testing::PrintToString(c.arguments);
}

TEST(ServerSwitch, AnythingElseIsRefused) {
  for (const wchar_t* arguments :
       {L"RegServer", L"/", L"-", L"/RegServe", L"/RegServerX", L"/RegServer /UnregServer",
        L"-Embedding extra", L"--RegServer", L"\\RegServer", L"/Reg Server", L"?", L"/??",
        L"/? /RegServer"}) {
    EXPECT_EQ(ParseServerAction(arguments), ServerAction::kInvalid)
        << testing::PrintToString(arguments);
  }
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

TEST(ClassObject, RefusesAggregationAndUnknownInterfaces) {
  ClassFactory factory;
  win::ComPtr<IUnknown> outer;
  ASSERT_EQ(factory.CreateInstance(nullptr, IID_IUnknown, outer.put_void()), S_OK);
  const long before = ServerReferences();

  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory.CreateInstance(outer.get(), IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory.CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(factory.CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
  // Nothing refused may stay counted, or the server would never end.
  EXPECT_EQ(ServerReferences(), before);
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
}  // namespace korvane::server
