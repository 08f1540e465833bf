// The automation class QuandrelCom: its one dual interface _QuandrelCom, error information and
// the per-object debug switch. Each method runs in the frame (method_frame.h) and hands plain
// texts and values to its behaviour in methods/ (run_cmd.*, run_cmd2.*, quandrel_run_cmd.*,
// quandrel.*), with the object's debug log as the sink.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <atomic>

#include "server/com/quandrelcom.h"
#include "server/methods/debug_log.h"

namespace korvane::server::com {

class QuandrelCom final : public _QuandrelCom, public ISupportErrorInfo {
 public:
  // Creates an object and hands out the requested interface.
  [[nodiscard]] static HRESULT Create(REFIID iid, void** out);

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

 private:
  QuandrelCom();
  ~QuandrelCom();

  _QuandrelCom* Self() { return static_cast<_QuandrelCom*>(this); }
  methods::DebugLog Log() const { return methods::DebugLog(&isDebug_); }

  std::atomic<ULONG> refs_{1};
  // Debug-log switch, published as the property g_isDebug; any non-zero value counts as on, and
  // is stored unchanged.
  VARIANT_BOOL isDebug_ = VARIANT_FALSE;
};

}  // namespace korvane::server::com
