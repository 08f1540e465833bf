#include "server/com/quandrel_com.h"

#include <new>

#include "common/win/com_ptr.h"
#include "common/win/result.h"
#include "server/com/method_frame.h"
#include "server/com/server_lifetime.h"
#include "server/com/type_info.h"
#include "server/methods/quandrel.h"
#include "server/methods/quandrel_run_cmd.h"
#include "server/methods/run_cmd.h"
#include "server/methods/run_cmd2.h"

namespace korvane::server::com {

HRESULT QuandrelCom::Create(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  auto* object = new (std::nothrow) QuandrelCom();
  if (object == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

QuandrelCom::QuandrelCom() { ObjectCreated(); }
QuandrelCom::~QuandrelCom() { ObjectDestroyed(); }

HRESULT QuandrelCom::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__QuandrelCom) {
    *out = Self();
  } else if (iid == IID_ISupportErrorInfo) {
    *out = static_cast<ISupportErrorInfo*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG QuandrelCom::AddRef() { return ++refs_; }

ULONG QuandrelCom::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT QuandrelCom::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT QuandrelCom::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return GetQuandrelComTypeInfo(info);
}

// The arguments are checked before the type library sees them: it would read names[0] even when
// count is 0, and across processes that slot is whatever the stub left there.
HRESULT QuandrelCom::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (count == 0) return S_OK;
  if (ids == nullptr) return E_POINTER;
  if (names == nullptr) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i)
    if (names[i] == nullptr) return E_INVALIDARG;
  win::ComPtr<ITypeInfo> info;
  KORVANE_RETURN_IF_FAILED(GetQuandrelComTypeInfo(info.put()));
  return ::DispGetIDsOfNames(info.get(), names, count, ids);
}

// The interface must be IID_NULL, as IDispatch documents. The argument block is checked before
// the type library reads it: a count must be matched by its array, and there are never more
// named arguments than arguments.
HRESULT QuandrelCom::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO* excep, UINT* argError) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  // The type information also lists what the interface inherits from IUnknown and IDispatch
  // (DISPIDs below 0x60020000): invoked by DISPID, Release would drop a reference that the caller
  // never had. Only the interface's own members are for late binding.
  if (id >= 0x60000000 && id < 0x60020000) return DISP_E_MEMBERNOTFOUND;
  if (params == nullptr || params->cNamedArgs > params->cArgs ||
      (params->cArgs != 0 && params->rgvarg == nullptr) ||
      (params->cNamedArgs != 0 && params->rgdispidNamedArgs == nullptr))
    return E_INVALIDARG;
  win::ComPtr<ITypeInfo> info;
  KORVANE_RETURN_IF_FAILED(GetQuandrelComTypeInfo(info.put()));
  return ::DispInvoke(Self(), info.get(), id, flags, params, result, excep, argError);
}

HRESULT QuandrelCom::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == IID__QuandrelCom ? S_OK : S_FALSE;
}

// The property get and put touch only the field: no frame, no copies, no log line.
HRESULT QuandrelCom::get_g_isDebug(VARIANT_BOOL* value) {
  if (value == nullptr) return E_POINTER;
  *value = isDebug_;
  return S_OK;
}

HRESULT QuandrelCom::put_g_isDebug(VARIANT_BOOL value) {
  isDebug_ = value;
  return S_OK;
}

HRESULT QuandrelCom::EnableDebugLog(VARIANT_BOOL bEnable) {
  return InvokeInFrame(
      Self(), NoResult{},
      [this](VARIANT_BOOL enable) {
        isDebug_ = enable;
        return methods::MethodStatus();
      },
      bEnable);
}

HRESULT QuandrelCom::RunCmd(BSTR strCmdLine, LONG wShowWindow, VARIANT_BOOL bWait,
                            VARIANT_BOOL* result) {
  return InvokeInFrame(
      Self(), result,
      [this](VARIANT_BOOL& out, const win::UniqueBstr& cmd, LONG show, VARIANT_BOOL wait) {
        return methods::RunCmd(cmd.view(), show, wait != VARIANT_FALSE, Log(), out);
      },
      strCmdLine, wShowWindow, bWait);
}

HRESULT QuandrelCom::RunCmd2(BSTR strCmdLine, LONG wShowWindow, BSTR* result) {
  return InvokeInFrame(
      Self(), result,
      [this](win::UniqueBstr& out, const win::UniqueBstr& cmd, LONG show) {
        return methods::RunCmd2(cmd.view(), show, Log(), out);
      },
      strCmdLine, wShowWindow);
}

HRESULT QuandrelCom::QuandrelRunCmd(BSTR strCmdLine, BSTR* result) {
  return InvokeInFrame(
      Self(), result,
      [this](win::UniqueBstr& out, const win::UniqueBstr& cmd) {
        const auto runCmd2 = [this](BSTR line, BSTR* output) {
          return Self()->RunCmd2(line, 0, output);
        };
        return methods::QuandrelRunCmd(runCmd2, cmd.view(), Log(), out);
      },
      strCmdLine);
}

HRESULT QuandrelCom::Quandrel(BSTR strCmdLine, LONG* result) {
  return InvokeInFrame(
      Self(), result,
      [](LONG& out, const win::UniqueBstr& cmd) {
        return methods::Quandrel(cmd.get() != nullptr ? std::optional(cmd.view()) : std::nullopt,
                                 out);
      },
      strCmdLine);
}

}  // namespace korvane::server::com
