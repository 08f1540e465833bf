// A registered server activated from this process by ProgID and by CLSID, and called late bound
// with named arguments, as real clients call it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

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
  EXPECT_EQ(ProcessIdsOf(install_.exe()), servers);
}

// A late-bound RunCmd with every argument passed by name: strCmdLine, wShowWindow and bWait at
// positions order[0], order[1], order[2] of rgvarg. It clears the arguments.
using Order = std::array<int, 3>;
DispatchResult CallRunCmdWithNames(IDispatch* object, const Order& order,
                                   std::array<VARIANT, 3> values) {
  DispatchResult out;
  const wchar_t* const kNames[] = {L"strCmdLine", L"wShowWindow", L"bWait"};
  std::array<LPOLESTR, 4> names{const_cast<LPOLESTR>(L"RunCmd")};
  std::array<VARIANT, 3> args{};
  for (int i = 0; i < 3; ++i) {
    names[order[i] + 1] = const_cast<LPOLESTR>(kNames[i]);
    args[order[i]] = values[i];
  }
  std::array<DISPID, 4> ids{};
  out.hr = object->GetIDsOfNames(IID_NULL, names.data(), 4, LOCALE_USER_DEFAULT, ids.data());
  if (SUCCEEDED(out.hr)) {
    UINT argError = 0;
    DISPPARAMS params{args.data(), ids.data() + 1, 3, 3};
    out.hr = object->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                            out.result.put(), out.excep.put(), &argError);
  }
  for (VARIANT& arg : args) ::VariantClear(&arg);
  return out;
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
  Order order = {0, 1, 2};
  do {
    SCOPED_TRACE("positions " + std::to_string(order[0]) + std::to_string(order[1]) +
                 std::to_string(order[2]));
    auto call = [&](VARIANT cmdLine, VARIANT show, VARIANT wait) {
      return CallRunCmdWithNames(object.get(), order, {cmdLine, show, wait});
    };
    EXPECT_EQ(call(VariantText(L"cmd /c exit 0"), VariantText(L"abc"), win::BoolArg(false)).hr,
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(call(VariantText(L"cmd /c exit 0"), win::LongArg(0), VariantText(L"abc")).hr,
              DISP_E_TYPEMISMATCH);
    DispatchResult text = call(VariantText(L"abc"), win::LongArg(0), win::BoolArg(false));
    EXPECT_EQ(text.hr, S_OK);
    EXPECT_EQ(text.value().boolVal, VARIANT_FALSE);
    DispatchResult overflow =
        call(VariantText(L"cmd /c exit 0"), win::LongArg(65536), win::BoolArg(false));
    ASSERT_EQ(overflow.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<uint32_t>(overflow.excep->scode), 0x800A0006u);
    EXPECT_NE(overflow.excep->bstrDescription, nullptr);

    const std::wstring file = install_.file(L"named-" + std::to_wstring(run++) + L".txt");
    DispatchResult whole = call(VariantText(L"cmd /c echo named>\"" + file + L"\""),
                                win::LongArg(SW_HIDE), win::BoolArg(true));
    ASSERT_EQ(whole.hr, S_OK);
    ASSERT_EQ(whole.value().vt, VT_BOOL);
    EXPECT_EQ(whole.value().boolVal, VARIANT_TRUE);
    EXPECT_TRUE(FileExists(file));
  } while (std::next_permutation(order.begin(), order.end()));
}

}  // namespace
}  // namespace korvane::test
