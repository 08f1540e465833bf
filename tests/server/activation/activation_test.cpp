// A registered server activated from this process by ProgID and by CLSID, and called as real
// clients call it: early bound through the dual interface's vtable and late bound through
// IDispatch, named arguments included.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "common/win/unique_handle.h"
#include "testing/support/server_install.h"

namespace korvane::test {
namespace {

class Activation : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(install_.Register()); }
  ServerInstall install_{L"activated copy"};
};

TEST_F(Activation, ProgIdAndClsidReachOneServerProcess) {
  CLSID clsid{};
  ASSERT_EQ(::CLSIDFromProgID(L"Korvane.QuandrelCom", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_QuandrelCom);

  win::ComPtr<_QuandrelCom> byClsid = install_.Create();
  win::ComPtr<IDispatch> byProgId = install_.CreateDispatch();
  ASSERT_TRUE(byClsid);
  ASSERT_TRUE(byProgId);
  // One server serves every object (a multiple-use class object), from the registered copy.
  std::vector<DWORD> servers = ServerProcessIds();
  ASSERT_EQ(servers.size(), 1u);
  win::UniqueHandle process(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, servers.front()));
  ASSERT_TRUE(process.valid());
  wchar_t image[MAX_PATH] = {};
  DWORD length = MAX_PATH;
  ASSERT_TRUE(::QueryFullProcessImageNameW(process.get(), 0, image, &length));
  EXPECT_EQ(::lstrcmpiW(image, install_.exe().c_str()), 0) << Narrow(image);
}

TEST_F(Activation, EarlyBoundSwitchThroughTheVtable) {
  win::ComPtr<_QuandrelCom> object = install_.Create();
  ASSERT_TRUE(object);
  VARIANT_BOOL value = VARIANT_TRUE;
  ASSERT_EQ(object->get_g_isDebug(&value), S_OK);
  EXPECT_EQ(value, VARIANT_FALSE);

  ASSERT_EQ(object->EnableDebugLog(VARIANT_TRUE), S_OK);
  ASSERT_EQ(object->get_g_isDebug(&value), S_OK);
  EXPECT_EQ(value, VARIANT_TRUE);
  ASSERT_EQ(object->EnableDebugLog(VARIANT_FALSE), S_OK);
  ASSERT_EQ(object->get_g_isDebug(&value), S_OK);
  EXPECT_EQ(value, VARIANT_FALSE);

  // Stored unchanged across the process boundary: any non-zero value, not just -1.
  ASSERT_EQ(object->put_g_isDebug(5), S_OK);
  ASSERT_EQ(object->get_g_isDebug(&value), S_OK);
  EXPECT_EQ(value, 5);
}

TEST_F(Activation, LateBoundSwitchThroughIDispatch) {
  win::ComPtr<IDispatch> object = install_.CreateDispatch();
  ASSERT_TRUE(object);
  {
    DispatchResult get;
    CallByName(object.get(), L"g_isDebug", {}, &get, DISPATCH_PROPERTYGET);
    ASSERT_EQ(get.hr, S_OK);
    ASSERT_EQ(get.value().vt, VT_BOOL);
    EXPECT_EQ(get.value().boolVal, VARIANT_FALSE);
  }
  {
    DispatchResult call;
    CallByName(object.get(), L"EnableDebugLog", {VariantBool(true)}, &call);
    ASSERT_EQ(call.hr, S_OK);
    DispatchResult get;
    CallByName(object.get(), L"g_isDebug", {}, &get, DISPATCH_PROPERTYGET);
    EXPECT_EQ(get.value().boolVal, VARIANT_TRUE);
  }
  {
    // Arguments are coerced as the type library says: a number becomes the Boolean false.
    DispatchResult put;
    CallByName(object.get(), L"g_isDebug", {VariantLong(0)}, &put, DISPATCH_PROPERTYPUT);
    ASSERT_EQ(put.hr, S_OK);
    DispatchResult get;
    CallByName(object.get(), L"g_isDebug", {}, &get, DISPATCH_PROPERTYGET);
    EXPECT_EQ(get.value().boolVal, VARIANT_FALSE);
  }
}

// A late-bound call with every argument passed by name, in the order given.
struct NamedCall {
  HRESULT hr = E_FAIL;
  UINT argError = static_cast<UINT>(-1);
  DispatchResult result;
};

void CallWithNames(IDispatch* object, const wchar_t* member,
                   std::vector<std::pair<const wchar_t*, VARIANT>> args, NamedCall* out) {
  std::vector<LPOLESTR> names = {const_cast<LPOLESTR>(member)};
  for (auto& arg : args) names.push_back(const_cast<LPOLESTR>(arg.first));
  std::vector<DISPID> ids(names.size());
  out->hr = object->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()),
                                  LOCALE_USER_DEFAULT, ids.data());
  if (SUCCEEDED(out->hr)) {
    std::vector<VARIANT> values;
    for (auto& arg : args) values.push_back(arg.second);
    DISPPARAMS params{values.data(), ids.data() + 1, static_cast<UINT>(values.size()),
                      static_cast<UINT>(values.size())};
    out->hr = object->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                             out->result.result.put(), out->result.excep.put(), &out->argError);
  }
  for (auto& arg : args) ::VariantClear(&arg.second);
}

using Order = std::array<int, 3>;  // positions of strCmdLine, wShowWindow, bWait in rgvarg

std::vector<Order> AllOrders() {
  std::vector<Order> orders;
  Order order = {0, 1, 2};
  do orders.push_back(order);
  while (std::next_permutation(order.begin(), order.end()));
  return orders;
}

std::vector<std::pair<const wchar_t*, VARIANT>> RunCmdArguments(const Order& order, VARIANT cmdLine,
                                                                VARIANT show, VARIANT wait) {
  std::vector<std::pair<const wchar_t*, VARIANT>> args(3);
  args[order[0]] = {L"strCmdLine", cmdLine};
  args[order[1]] = {L"wShowWindow", show};
  args[order[2]] = {L"bWait", wait};
  return args;
}

TEST_F(Activation, NamedArgumentsInAnyOrderAreCoercedToTheirOwnParameter) {
  win::ComPtr<IDispatch> object = install_.CreateDispatch();
  ASSERT_TRUE(object);
  for (const Order& order : AllOrders()) {
    SCOPED_TRACE("positions " + std::to_string(order[0]) + std::to_string(order[1]) +
                 std::to_string(order[2]));
    // A text that is no number cannot become wShowWindow or bWait, wherever it stands: the
    // call is refused before the method runs.
    NamedCall badShow;
    CallWithNames(object.get(), L"RunCmd",
                  RunCmdArguments(order, VariantText(L"cmd /c exit 0"), VariantText(L"abc"),
                                  VariantBool(false)),
                  &badShow);
    EXPECT_EQ(badShow.hr, DISP_E_TYPEMISMATCH);
    NamedCall badWait;
    CallWithNames(
        object.get(), L"RunCmd",
        RunCmdArguments(order, VariantText(L"cmd /c exit 0"), VariantLong(0), VariantText(L"abc")),
        &badWait);
    EXPECT_EQ(badWait.hr, DISP_E_TYPEMISMATCH);
    // The same text named strCmdLine is a command line like any other (one that cannot start,
    // which RunCmd answers with false), wherever it stands.
    NamedCall goodText;
    CallWithNames(object.get(), L"RunCmd",
                  RunCmdArguments(order, VariantText(L"abc"), VariantLong(0), VariantBool(false)),
                  &goodText);
    EXPECT_EQ(goodText.hr, S_OK);
  }
}

TEST_F(Activation, NamedArgumentsInAnyOrderReachRunCmd) {
  win::ComPtr<IDispatch> object = install_.CreateDispatch();
  ASSERT_TRUE(object);
  int run = 0;
  for (const Order& order : AllOrders()) {
    SCOPED_TRACE("order " + std::to_string(order[0]) + std::to_string(order[1]) +
                 std::to_string(order[2]));
    // Waiting (bWait) makes the file exist when the call returns; the command line
    // (strCmdLine) names the file; a hidden window (wShowWindow) is what a server must use.
    const std::wstring file = install_.file(L"named-" + std::to_wstring(run++) + L".txt");
    NamedCall call;
    CallWithNames(object.get(), L"RunCmd",
                  RunCmdArguments(order, VariantText(L"cmd /c echo named>\"" + file + L"\""),
                                  VariantLong(SW_HIDE), VariantBool(true)),
                  &call);
    ASSERT_EQ(call.hr, S_OK);
    ASSERT_EQ(call.result.value().vt, VT_BOOL);
    EXPECT_EQ(call.result.value().boolVal, VARIANT_TRUE);
    EXPECT_TRUE(FileExists(file));
  }
}

TEST_F(Activation, FailingCallReachesTheLateBoundClientAsAnException) {
  win::ComPtr<IDispatch> object = install_.CreateDispatch();
  ASSERT_TRUE(object);
  // A show-window code that does not fit in 16 bits overflows inside the method.
  NamedCall call;
  CallWithNames(object.get(), L"RunCmd",
                {{L"wShowWindow", VariantLong(65536)},
                 {L"bWait", VariantBool(false)},
                 {L"strCmdLine", VariantText(L"cmd /c exit 0")}},
                &call);
  ASSERT_EQ(call.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(static_cast<uint32_t>(call.result.excep->scode), 0x800A0006u);
  EXPECT_NE(call.result.excep->bstrDescription, nullptr);
}

}  // namespace
}  // namespace korvane::test
