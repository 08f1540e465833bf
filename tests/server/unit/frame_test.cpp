// The class hosted in the test process: switch, errors with their information, late binding.
#include <gtest/gtest.h>

#include <new>

#include "methods/runtime_error.h"
#include "com/method_frame.h"
#include "com/quandrel_com.h"
#include "com/type_info.h"
#include "test_support.h"
#include "win/com_ptr.h"
#include "win/unique_excep_info.h"
#include "win/scoped_com_init.h"
#include "win/unique_bstr.h"

namespace korvane::server {
namespace {

class InProcessObject : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QuandrelCom::Create(IID__QuandrelCom, object_.put_void()), S_OK);
  }
  win::ScopedComInit com_;
  win::ComPtr<_QuandrelCom> object_;
};

TEST_F(InProcessObject, SwitchStartsClearAndStoresAllSixteenBits) {
  VARIANT_BOOL value = 123;
  ASSERT_EQ(object_->get_g_isDebug(&value), S_OK);
  EXPECT_EQ(value, VARIANT_FALSE);
  ASSERT_EQ(object_->EnableDebugLog(5), S_OK);
  object_->get_g_isDebug(&value);
  EXPECT_EQ(value, 5);
  ASSERT_EQ(object_->put_g_isDebug(VARIANT_TRUE), S_OK);
  object_->get_g_isDebug(&value);
  EXPECT_EQ(value, VARIANT_TRUE);
  ASSERT_EQ(object_->EnableDebugLog(VARIANT_FALSE), S_OK);
  object_->get_g_isDebug(&value);
  EXPECT_EQ(value, VARIANT_FALSE);
}

TEST_F(InProcessObject, NoExceptionLeavesTheFrameAndNoStaleErrorInformationRemains) {
  struct Case {
    void (*raise)();
    HRESULT expected;
  } cases[] = {
      {[] { throw std::bad_alloc(); }, E_OUTOFMEMORY},
      {[] { throw 42; }, E_UNEXPECTED},
  };
  for (const Case& c : cases) {
    // A description left by an earlier failure must not reach this call's client.
    win::ComPtr<ICreateErrorInfo> create;
    ASSERT_EQ(::CreateErrorInfo(create.put()), S_OK);
    win::ComPtr<IErrorInfo> stale;
    ASSERT_EQ(create.query_to(&stale), S_OK);
    ::SetErrorInfo(0, stale.get());

    LONG code = 5;
    win::UniqueBstr text{std::wstring_view(L"x")};
    const HRESULT hr = InvokeInFrame(
        object_.get(), &code,
        [&c](LONG&, const win::UniqueBstr&) -> MethodStatus {
          c.raise();
          return MethodStatus();
        },
        text.get());
    EXPECT_EQ(hr, c.expected);
    win::ComPtr<IErrorInfo> info;
    EXPECT_EQ(::GetErrorInfo(0, info.put()), S_FALSE);
  }
  // The frame's own reference was given back on the way out.
  object_->AddRef();
  EXPECT_EQ(object_->Release(), 1u);
}

// No engine library lies beside the test program, so binding fails with "file not found".
TEST_F(InProcessObject, FailedBindingIsARunTimeErrorWithItsDescription) {
  LONG code = 77;
  win::UniqueBstr line{std::wstring_view(L"in.txt")};
  EXPECT_EQ(object_->Quandrel(line.get(), &code), static_cast<HRESULT>(0x800A0035));
  win::ComPtr<IErrorInfo> info;
  ASSERT_EQ(::GetErrorInfo(0, info.put()), S_OK);
  win::UniqueBstr description;
  info->GetDescription(description.put());
  EXPECT_EQ(description.view(), L"File not found: quandrelsdk.dll");

  win::ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(object_.query_to(&support), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID__QuandrelCom), S_OK);
}

TEST_F(InProcessObject, LateBoundFailureArrivesAsAnException) {
  win::ComPtr<IDispatch> dispatch;
  ASSERT_EQ(object_.query_to(&dispatch), S_OK);
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Quandrel")};
  DISPID id = 0;
  ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  EXPECT_EQ(id, 0x60030005);
  VARIANT arg;
  arg.vt = VT_BSTR;
  arg.bstrVal = ::SysAllocString(L"x");
  DISPPARAMS params{&arg, nullptr, 1, 0};
  VARIANT result;
  ::VariantInit(&result);
  win::UniqueExcepInfo excep;
  UINT argError = 0;
  EXPECT_EQ(dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                             excep.put(), &argError),
            DISP_E_EXCEPTION);
  EXPECT_EQ(excep->scode, static_cast<SCODE>(0x800A0035));
  EXPECT_EQ(excep.description(), L"File not found: quandrelsdk.dll");
  ::VariantClear(&arg);
}

// The serving thread lets go of the kept type information before it leaves its apartment;
// whatever asks afterwards reads it again.
TEST_F(InProcessObject, TypeInformationLetGoIsReadAgainOnTheNextCall) {
  win::ComPtr<IDispatch> dispatch;
  ASSERT_EQ(object_.query_to(&dispatch), S_OK);
  ReleaseQuandrelComTypeInfo();
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"RunCmd2")};
  DISPID id = 0;
  ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  EXPECT_EQ(id, 0x60030003);
  ReleaseQuandrelComTypeInfo();
  win::ComPtr<ITypeInfo> info;
  ASSERT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID__QuandrelCom);
  info->ReleaseTypeAttr(attr);
  ReleaseQuandrelComTypeInfo();
}

TEST(MethodStatus, ACallersFailureKeepsTheInnerErrorInformation) {
  win::ScopedComInit com;
  MethodStatus inner = MethodStatus::RuntimeError(kErrOverflow);
  EXPECT_EQ(inner.hresult(), static_cast<HRESULT>(0x800A0006));
  HRESULT hr = inner.Report();
  MethodStatus outer = MethodStatus::FromFailedCall(hr);
  EXPECT_EQ(outer.hresult(), hr);
  EXPECT_EQ(outer.description(), L"Overflow");
  EXPECT_EQ(outer.Report(), static_cast<HRESULT>(0x800A0006));
  win::ComPtr<IErrorInfo> info;
  ASSERT_EQ(::GetErrorInfo(0, info.put()), S_OK);
  win::UniqueBstr description;
  info->GetDescription(description.put());
  EXPECT_EQ(description.view(), L"Overflow");
}

TEST(MethodStatus, RunTimeErrorNumbersMapToTheirStatus) {
  EXPECT_EQ(HresultOfRuntimeError(kErrFileNotFound), static_cast<HRESULT>(0x800A0035));
  EXPECT_EQ(HresultOfRuntimeError(kErrDllLoadFailed), static_cast<HRESULT>(0x800A0030));
  EXPECT_EQ(HresultOfRuntimeError(kErrEntryPointNotFound), static_cast<HRESULT>(0x800A01C5));
}

}  // namespace
}  // namespace korvane::server
