// The class hosted in the test process: switch, errors with their information, late binding.
#include <gtest/gtest.h>

#include <new>
#include <utility>
#include <vector>

#include "common/win/com_ptr.h"
#include "common/win/late_binding.h"
#include "common/win/module_path.h"
#include "common/win/scoped_com_init.h"
#include "common/win/unique_bstr.h"
#include "common/win/unique_excep_info.h"
#include "server/com/class_factory.h"
#include "server/com/method_frame.h"
#include "server/com/quandrel_com.h"
#include "server/com/server_lifetime.h"
#include "server/com/type_info.h"
#include "server/host/server_loop.h"
#include "server/methods/log_line.h"
#include "server/methods/runtime_error.h"
#include "testing/support/test_support.h"

namespace korvane::test {
using namespace server::com;
using namespace server::methods;
using namespace server::host;

namespace {

DISPID IdOf(IDispatch* dispatch, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  return id;
}

class InProcessObject : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QuandrelCom::Create(IID__QuandrelCom, object_.put_void()), S_OK);
  }
  win::ScopedComInit com_;
  win::ComPtr<_QuandrelCom> object_;
};

// The debug switch keeps the value it is given as the client hands it over (early bound unchanged,
// late bound coerced to a Boolean), and any non-zero value switches the log on, not only
// VARIANT_TRUE: C's TRUE (1) from a client that stores it so counts too.
TEST_F(InProcessObject, DebugSwitchKeepsWhatItIsGivenAndAnyNonZeroValueWritesTheLog) {
  enum How { kEnable, kPut, kLateEnable, kLatePutNumber };
  const struct {
    const char* what;
    How how;
    LONG given;
    VARIANT_BOOL stored;
  } rows[] = {
      {"EnableDebugLog(VARIANT_TRUE)", kEnable, VARIANT_TRUE, VARIANT_TRUE},
      {"EnableDebugLog(1)", kEnable, 1, 1},
      {"EnableDebugLog(VARIANT_FALSE)", kEnable, VARIANT_FALSE, VARIANT_FALSE},
      {"g_isDebug = 5", kPut, 5, 5},
      {"g_isDebug = VARIANT_TRUE", kPut, VARIANT_TRUE, VARIANT_TRUE},
      {"g_isDebug = VARIANT_FALSE", kPut, VARIANT_FALSE, VARIANT_FALSE},
      {"late bound EnableDebugLog(True)", kLateEnable, VARIANT_TRUE, VARIANT_TRUE},
      {"late bound g_isDebug = 7", kLatePutNumber, 7, VARIANT_TRUE},
      {"late bound g_isDebug = 0", kLatePutNumber, 0, VARIANT_FALSE},
  };
  win::ComPtr<IDispatch> late;
  ASSERT_EQ(object_.query_to(&late), S_OK);
  VARIANT_BOOL value = 123;
  ASSERT_EQ(object_->get_g_isDebug(&value), S_OK);
  EXPECT_EQ(value, VARIANT_FALSE) << "a new object's switch is clear";
  const std::wstring log = LogFilePath(win::RunningExecutableFolder());
  ::DeleteFileW(log.c_str());
  win::UniqueBstr empty{std::wstring_view(L"")};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const auto given = static_cast<VARIANT_BOOL>(row.given);
    VARIANT arg{};
    arg.vt = VT_BOOL, arg.boolVal = given;
    if (row.how == kLatePutNumber) arg.vt = VT_I4, arg.lVal = row.given;
    HRESULT hr = E_FAIL;
    if (row.how == kEnable) hr = object_->EnableDebugLog(given);
    if (row.how == kPut) hr = object_->put_g_isDebug(given);
    if (row.how == kLateEnable) hr = win::InvokeByName(late.get(), L"EnableDebugLog", {arg}).hr;
    if (row.how == kLatePutNumber)
      hr = win::InvokeByName(late.get(), L"g_isDebug", {arg}, DISPATCH_PROPERTYPUT).hr;
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(object_->get_g_isDebug(&value), S_OK);
    EXPECT_EQ(value, row.stored);
    win::DispatchOutcome get =
        win::InvokeByName(late.get(), L"g_isDebug", {}, DISPATCH_PROPERTYGET);
    ASSERT_EQ(get.value().vt, VT_BOOL);
    EXPECT_EQ(get.value().boolVal, row.stored);
    // A call that logs two lines when the switch is set (a command line that cannot start).
    const size_t before = test::ReadFileBytes(log).size();
    VARIANT_BOOL started = VARIANT_TRUE;
    ASSERT_EQ(object_->RunCmd(empty.get(), 0, VARIANT_FALSE, &started), S_OK);
    EXPECT_EQ(test::ReadFileBytes(log).size() > before, row.stored != VARIANT_FALSE);
  }
  ::DeleteFileW(log.c_str());
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
    ASSERT_NO_FATAL_FAILURE(LeaveStaleErrorInfo());
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
    EXPECT_EQ(TakeErrorDescription(), std::nullopt);
  }
  // The frame's own reference was given back on the way out.
  object_->AddRef();
  EXPECT_EQ(object_->Release(), 1u);
}

// The serving thread asks COM to let a fault end the process. Wine takes the option and keeps
// nothing (its Query answers 0), so what is asked is read from a stand-in for COM's options
// object; the platform's own must take it or refuse it with a "none here" error.
TEST(ComExceptionHandling, FaultsAreLeftToEndTheProcess) {
  struct RecordingOptions final : IGlobalOptions {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Set(GLOBALOPT_PROPERTIES property, ULONG_PTR value) override {
      sets.emplace_back(property, value);
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Query(GLOBALOPT_PROPERTIES, ULONG_PTR*) override { return E_NOTIMPL; }
    std::vector<std::pair<GLOBALOPT_PROPERTIES, ULONG_PTR>> sets;
  } recording;
  ASSERT_EQ(LetFaultsEndTheProcess(&recording), S_OK);
  ASSERT_EQ(recording.sets.size(), 1u);
  EXPECT_EQ(recording.sets[0].first, COMGLB_EXCEPTION_HANDLING);
  EXPECT_EQ(recording.sets[0].second, static_cast<ULONG_PTR>(COMGLB_EXCEPTION_DONOT_HANDLE_ANY));

  win::ScopedComInit com(COINIT_APARTMENTTHREADED);
  const HRESULT hr = LetFaultsEndTheProcess();
  EXPECT_TRUE(hr == S_OK || hr == E_NOINTERFACE || hr == REGDB_E_CLASSNOTREG) << std::hex << hr;
}

// No engine library lies beside the test program, so binding fails with "file not found", early
// bound as the status with its error information, late bound as an exception.
TEST_F(InProcessObject, FailedBindingIsARunTimeErrorWithItsDescription) {
  LONG code = 77;
  win::UniqueBstr line{std::wstring_view(L"in.txt")};
  EXPECT_EQ(object_->Quandrel(line.get(), &code), static_cast<HRESULT>(0x800A0035));
  EXPECT_EQ(TakeErrorDescription(), L"File not found: quandrelsdk.dll");
  win::ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(object_.query_to(&support), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID__QuandrelCom), S_OK);

  win::ComPtr<IDispatch> dispatch;
  ASSERT_EQ(object_.query_to(&dispatch), S_OK);
  EXPECT_EQ(IdOf(dispatch.get(), L"Quandrel"), 0x60030005);
  VARIANT arg{};
  arg.vt = VT_BSTR;
  arg.bstrVal = line.get();
  const win::DispatchOutcome late = win::InvokeByName(dispatch.get(), L"Quandrel", {arg});
  EXPECT_EQ(late.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(late.excep->scode, static_cast<SCODE>(0x800A0035));
  EXPECT_EQ(late.excep.description(), L"File not found: quandrelsdk.dll");
  ASSERT_NE(late.excep->bstrSource, nullptr);
  EXPECT_STREQ(late.excep->bstrSource, L"Korvane.QuandrelCom");
}

// Every entry point of the class and its class factory checks its arguments before it uses
// them: missing or null arguments get a documented error and nothing is read or written
// through them.
TEST_F(InProcessObject, MissingAndNullArgumentsGetTheirDocumentedErrors) {
  _QuandrelCom* object = object_.get();
  static LPOLESTR known[] = {const_cast<LPOLESTR>(L"RunCmd2")};
  static LPOLESTR nullName[] = {nullptr};
  static VARIANT noArgs[1] = {};
  static DISPID putId[] = {DISPID_PROPERTYPUT};
  struct Case {
    const char* what;
    HRESULT (*call)(_QuandrelCom* object);
    HRESULT expected;
  } cases[] = {
      // clang-format off
      {"no names, null name slot", [](_QuandrelCom* o) { DISPID id = 1234; HRESULT hr = o->GetIDsOfNames(IID_NULL, nullName, 0, 0x409, &id); EXPECT_EQ(id, 1234); return hr; }, S_OK},
      {"no names, null arrays", [](_QuandrelCom* o) { return o->GetIDsOfNames(IID_NULL, nullptr, 0, 0x409, nullptr); }, S_OK},
      {"null name array", [](_QuandrelCom* o) { DISPID id = 0; return o->GetIDsOfNames(IID_NULL, nullptr, 1, 0x409, &id); }, E_INVALIDARG},
      {"null name", [](_QuandrelCom* o) { DISPID id = 0; return o->GetIDsOfNames(IID_NULL, nullName, 1, 0x409, &id); }, E_INVALIDARG},
      {"null id array", [](_QuandrelCom* o) { return o->GetIDsOfNames(IID_NULL, known, 1, 0x409, nullptr); }, E_POINTER},
      {"null count slot", [](_QuandrelCom* o) { return o->GetTypeInfoCount(nullptr); }, E_POINTER},
      {"null type info slot", [](_QuandrelCom* o) { return o->GetTypeInfo(0, 0x409, nullptr); }, E_POINTER},
      {"type info index 1", [](_QuandrelCom* o) { ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1); HRESULT hr = o->GetTypeInfo(1, 0x409, &info); EXPECT_EQ(info, nullptr); return hr; }, DISP_E_BADINDEX},
      {"null interface slot", [](_QuandrelCom* o) { return o->QueryInterface(IID_IUnknown, nullptr); }, E_POINTER},
      {"null switch slot", [](_QuandrelCom* o) { return o->get_g_isDebug(nullptr); }, E_POINTER},
      {"null RunCmd result", [](_QuandrelCom* o) { return o->RunCmd(nullptr, 0, VARIANT_FALSE, nullptr); }, E_POINTER},
      {"null RunCmd2 result", [](_QuandrelCom* o) { return o->RunCmd2(nullptr, 0, nullptr); }, E_POINTER},
      {"null QuandrelRunCmd result", [](_QuandrelCom* o) { return o->QuandrelRunCmd(nullptr, nullptr); }, E_POINTER},
      {"null Quandrel result", [](_QuandrelCom* o) { return o->Quandrel(nullptr, nullptr); }, E_POINTER},
      {"error information of another interface", [](_QuandrelCom* o) { win::ComPtr<ISupportErrorInfo> support; EXPECT_EQ(o->QueryInterface(IID_ISupportErrorInfo, support.put_void()), S_OK); return support->InterfaceSupportsErrorInfo(IID_IDispatch); }, S_FALSE},
      {"class factory: null interface slot", [](_QuandrelCom*) { return ClassFactory().QueryInterface(IID_IUnknown, nullptr); }, E_POINTER},
      {"class factory: null object slot", [](_QuandrelCom*) { return ClassFactory().CreateInstance(nullptr, IID_IDispatch, nullptr); }, E_POINTER},
      {"class factory: an interface the object lacks", [](_QuandrelCom*) { void* made = reinterpret_cast<void*>(1); HRESULT hr = ClassFactory().CreateInstance(nullptr, IID_IClassFactory, &made); EXPECT_EQ(made, nullptr); return hr; }, E_NOINTERFACE},
      {"class factory: aggregation", [](_QuandrelCom* o) { IUnknown* made = reinterpret_cast<IUnknown*>(1); HRESULT hr = ClassFactory().CreateInstance(o, IID_IUnknown, reinterpret_cast<void**>(&made)); EXPECT_EQ(made, nullptr); return hr; }, CLASS_E_NOAGGREGATION},
      // clang-format on
  };
  const long references = ServerReferences();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(object), c.expected);
  }
  // Nothing refused stays counted, or the server would never end.
  EXPECT_EQ(ServerReferences(), references);
  DISPPARAMS none{nullptr, nullptr, 0, 0}, countedAbsent{nullptr, nullptr, 2, 0},
      namedAbsent{noArgs, nullptr, 1, 1}, moreNamed{noArgs, putId, 0, 1};
  constexpr WORD kGet = DISPATCH_PROPERTYGET, kPut = DISPATCH_PROPERTYPUT, kCall = DISPATCH_METHOD;
  struct InvokeCase {
    const char* what;
    DISPID id;
    const IID& iid;
    WORD flags;
    DISPPARAMS* params;
    HRESULT expected;
  } invokes[] = {
      // clang-format off
      {"null argument block", 0x40030000, IID_NULL, kGet, nullptr, E_INVALIDARG},
      {"arguments counted but absent", 0x60030002, IID_NULL, kCall, &countedAbsent, E_INVALIDARG},
      {"named arguments counted but absent", 0x40030000, IID_NULL, kPut, &namedAbsent, E_INVALIDARG},
      {"more named arguments than arguments", 0x40030000, IID_NULL, kPut, &moreNamed, E_INVALIDARG},
      {"interface other than IID_NULL", 0x40030000, IID_IDispatch, kGet, &none, DISP_E_UNKNOWNINTERFACE},
      {"an inherited member by its DISPID (Release)", 0x60000002, IID_NULL, kCall, &none, DISP_E_MEMBERNOTFOUND},
      {"no result slot for a property get", 0x40030000, IID_NULL, kGet, &none, S_OK},
      // clang-format on
  };
  for (const InvokeCase& c : invokes) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(object->Invoke(c.id, c.iid, 0x409, c.flags, c.params, nullptr, nullptr, nullptr),
              c.expected);
  }
  // Nothing above kept or dropped a reference.
  object_->AddRef();
  EXPECT_EQ(object_->Release(), 1u);
}

// The serving thread lets go of the kept type information before it leaves its apartment;
// whatever asks afterwards reads it again.
TEST_F(InProcessObject, TypeInformationLetGoIsReadAgainOnTheNextCall) {
  win::ComPtr<IDispatch> dispatch;
  ASSERT_EQ(object_.query_to(&dispatch), S_OK);
  ReleaseQuandrelComTypeInfo();
  EXPECT_EQ(IdOf(dispatch.get(), L"RunCmd2"), 0x60030003);
  ReleaseQuandrelComTypeInfo();
  win::ComPtr<ITypeInfo> info;
  ASSERT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID__QuandrelCom);
  info->ReleaseTypeAttr(attr);
  // Letting go drops the one reference the cache held (the counts are the type library's).
  auto references = [&] { return (info->AddRef(), info->Release()); };
  const ULONG cached = references();
  ReleaseQuandrelComTypeInfo();
  EXPECT_EQ(references(), cached - 1);
}

TEST(MethodStatus, ACallersFailureKeepsTheInnerErrorInformation) {
  win::ScopedComInit com;
  MethodStatus inner = MethodStatus::RuntimeError(kErrOverflow);
  EXPECT_EQ(inner.hresult(), static_cast<HRESULT>(0x800A0006));
  HRESULT hr = inner.Report(IID__QuandrelCom);
  {  // it names the interface and the server, as clients read it
    win::ComPtr<IErrorInfo> info;
    ASSERT_EQ(::GetErrorInfo(0, info.put()), S_OK);
    GUID guid{};
    win::UniqueBstr source;
    EXPECT_EQ(info->GetGUID(&guid), S_OK);
    EXPECT_EQ(guid, IID__QuandrelCom);
    EXPECT_EQ(info->GetSource(source.put()), S_OK);
    EXPECT_EQ(source.view(), L"Korvane.QuandrelCom");
    ::SetErrorInfo(0, info.get());
  }
  MethodStatus outer = MethodStatus::FromFailedCall(hr);
  EXPECT_EQ(outer.hresult(), hr);
  EXPECT_EQ(outer.description(), L"Overflow");
  EXPECT_EQ(outer.Report(IID__QuandrelCom), static_cast<HRESULT>(0x800A0006));
  EXPECT_EQ(TakeErrorDescription(), L"Overflow");

  // A failure of the method's own leaves no stale information behind.
  LeaveStaleErrorInfo();
  EXPECT_EQ(MethodStatus::Failure(E_OUTOFMEMORY).Report(IID__QuandrelCom), E_OUTOFMEMORY);
  EXPECT_EQ(TakeErrorDescription(), std::nullopt);
}

// The wording package/README.txt documents for each.
TEST(MethodStatus, RunTimeErrorNumbersMapToTheirStatus) {
  const struct {
    long number;
    ULONG status;
    const wchar_t *detail, *description;
  } rows[] = {
      // clang-format off
      {kErrInvalidCall, 0x800A0005, L"U+FF02 at position 2", L"Invalid procedure call or argument: U+FF02 at position 2"},
      {kErrDllLoadFailed, 0x800A0030, L"quandrelsdk.dll", L"Error in loading DLL: quandrelsdk.dll"},
      {kErrFileNotFound, 0x800A0035, L"quandrelsdk.dll", L"File not found: quandrelsdk.dll"},
      {kErrEntryPointNotFound, 0x800A01C5, L"KorvaneQuandrelConverter in quandrelsdk.dll", L"Can't find DLL entry point KorvaneQuandrelConverter in quandrelsdk.dll"},
      // clang-format on
  };
  for (const auto& row : rows) {
    EXPECT_EQ(HresultOfRuntimeError(row.number), static_cast<HRESULT>(row.status)) << row.number;
    EXPECT_EQ(DescriptionOfRuntimeError(row.number, row.detail), row.description);
  }
}

}  // namespace
}  // namespace korvane::test
