// The automation class QuandrelCom: its one dual interface _QuandrelCom, error information,
// the per-object debug switch and the private log writer. The method bodies live in files of
// their own (run_cmd.cpp, run_cmd2.cpp, quandrel_run_cmd.cpp, quandrel.cpp).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <initializer_list>
#include <string_view>

#include "automation_error.h"
#include "quandrelcom.h"
#include "win/unique_bstr.h"

namespace korvane::server {

class QuandrelCom final : public _QuandrelCom, public ISupportErrorInfo {
 public:
  // Creates an object and hands out the requested interface.
  static HRESULT Create(REFIID iid, void** out);

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch, answered from the type library.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excep, UINT* argError) override;

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  // _QuandrelCom
  HRESULT STDMETHODCALLTYPE get_g_isDebug(VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE put_g_isDebug(VARIANT_BOOL value) override;
  HRESULT STDMETHODCALLTYPE EnableDebugLog(VARIANT_BOOL bEnable) override;
  HRESULT STDMETHODCALLTYPE RunCmd(BSTR strCmdLine, LONG wShowWindow, VARIANT_BOOL bWait,
                                   VARIANT_BOOL* result) override;
  HRESULT STDMETHODCALLTYPE RunCmd2(BSTR strCmdLine, LONG wShowWindow, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE QuandrelRunCmd(BSTR strCmdLine, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE Quandrel(BSTR strCmdLine, LONG* result) override;

  // Appends one line, the pieces joined into one message, to the debug log while the switch is
  // set. Never fails the call: a line that cannot be composed or written is dropped, so logging
  // never costs a result.
  void WriteDebugLog(std::initializer_list<std::wstring_view> pieces) noexcept;

 private:
  QuandrelCom();
  ~QuandrelCom();

  // Method bodies: they run inside the frame on private copies of the arguments.
  MethodStatus RunCmdBody(VARIANT_BOOL& result, const win::UniqueBstr& strCmdLine, LONG wShowWindow,
                          VARIANT_BOOL bWait);
  MethodStatus RunCmd2Body(win::UniqueBstr& result, const win::UniqueBstr& strCmdLine,
                           LONG wShowWindow);
  MethodStatus QuandrelRunCmdBody(win::UniqueBstr& result, const win::UniqueBstr& strCmdLine);
  MethodStatus QuandrelBody(LONG& result, const win::UniqueBstr& strCmdLine);

  std::atomic<ULONG> refs_{1};
  // Debug-log switch, published as the property g_isDebug; any non-zero value counts as on, and
  // is stored unchanged.
  VARIANT_BOOL isDebug_ = VARIANT_FALSE;
};

}  // namespace korvane::server
