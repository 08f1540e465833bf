// A registered server activated from this process by ProgID and by CLSID, and called late bound
// with named arguments, as real clients call it.
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

// Each argument passed by name reaches its own parameter, whatever the order, and is coerced as
// that parameter's type says. Per order: a text that is no number cannot become wShowWindow or
// bWait (refused before the method runs); the same text named strCmdLine is a command line like
// any other (one that cannot start: false); a value named wShowWindow that does not fit a WORD
// overflows inside the method and reaches the client as an exception; and a whole call runs
// (waiting, bWait, makes the file that strCmdLine names exist when it returns; a hidden window,
// wShowWindow, is what a server must use).
TEST_F(Activation, NamedArgumentsInAnyOrderReachTheirOwnParameter) {
  win::ComPtr<IDispatch> object = install_.CreateDispatch();
  ASSERT_TRUE(object);
  int run = 0;
  for (const Order& order : AllOrders()) {
    SCOPED_TRACE("positions " + std::to_string(order[0]) + std::to_string(order[1]) +
                 std::to_string(order[2]));
    auto call = [&](VARIANT cmdLine, VARIANT show, VARIANT wait) {
      NamedCall named;
      CallWithNames(object.get(), L"RunCmd", RunCmdArguments(order, cmdLine, show, wait), &named);
      return named;
    };
    EXPECT_EQ(call(VariantText(L"cmd /c exit 0"), VariantText(L"abc"), VariantBool(false)).hr,
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(call(VariantText(L"cmd /c exit 0"), VariantLong(0), VariantText(L"abc")).hr,
              DISP_E_TYPEMISMATCH);
    NamedCall text = call(VariantText(L"abc"), VariantLong(0), VariantBool(false));
    EXPECT_EQ(text.hr, S_OK);
    EXPECT_EQ(text.result.value().boolVal, VARIANT_FALSE);
    NamedCall overflow =
        call(VariantText(L"cmd /c exit 0"), VariantLong(65536), VariantBool(false));
    ASSERT_EQ(overflow.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<uint32_t>(overflow.result.excep->scode), 0x800A0006u);
    EXPECT_NE(overflow.result.excep->bstrDescription, nullptr);

    const std::wstring file = install_.file(L"named-" + std::to_wstring(run++) + L".txt");
    NamedCall whole = call(VariantText(L"cmd /c echo named>\"" + file + L"\""),
                           VariantLong(SW_HIDE), VariantBool(true));
    ASSERT_EQ(whole.hr, S_OK);
    ASSERT_EQ(whole.result.value().vt, VT_BOOL);
    EXPECT_EQ(whole.result.value().boolVal, VARIANT_TRUE);
    EXPECT_TRUE(FileExists(file));
  }
}

}  // namespace
}  // namespace korvane::test
