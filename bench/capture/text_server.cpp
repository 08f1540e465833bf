// The capture benchmark's minimal local server: the smallest out-of-process automation server
// that hands back a text, so the benchmark can measure what crossing processes costs by itself.
// Its one dual interface (text_server.idl) goes through the automation marshaller, IDispatch is
// answered from its embedded type library, the same way as the real server. The benchmark
// registers it, keeps one object for the whole run and releases it at the end; the server then
// ends. Started by COM with -Embedding only.
#include "bench/capture/text_server.h"

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <cwchar>
#include <new>

#include "common/win/com_ptr.h"
#include "common/win/scoped_com_init.h"

namespace {

using korvane::win::ComPtr;

// Ends the server if no client has come or stayed this long (a benchmark that died).
constexpr UINT kIdleLimitMs = 60000;

DWORD g_mainThread = 0;
std::atomic<long> g_objects{0};
ITypeInfo* g_typeInfo = nullptr;  // of _BenchText; lives as long as the apartment

void ObjectGone() {
  // The last object gone ends the server: the benchmark holds one for its whole run.
  if (--g_objects == 0) ::PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
}

class BenchText final : public _BenchText {
 public:
  BenchText() { ++g_objects; }
  BenchText(const BenchText&) = delete;
  BenchText& operator=(const BenchText&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__BenchText) {
      *out = static_cast<_BenchText*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0) {
      delete this;
      ObjectGone();
    }
    return left;
  }

  // IDispatch, from the type library.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    g_typeInfo->AddRef();
    *info = g_typeInfo;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    return ::DispGetIDsOfNames(g_typeInfo, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception,
                                   UINT* badArgument) override {
    return ::DispInvoke(static_cast<_BenchText*>(this), g_typeInfo, id, flags, params, result,
                        exception, badArgument);
  }

  // _BenchText
  HRESULT STDMETHODCALLTYPE get_Flag(VARIANT_BOOL* value) override {
    if (value == nullptr) return E_POINTER;
    *value = VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Empty() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Text(LONG length, BSTR* text) override {
    if (text == nullptr) return E_POINTER;
    *text = nullptr;
    if (length < 0) return E_INVALIDARG;
    BSTR made = ::SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (made == nullptr) return E_OUTOFMEMORY;
    // Lines of printable text like the test child's; filled by copying, which costs little
    // next to the transfer this server exists to measure.
    static const wchar_t kLine[] =
        L"abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyz"
        L"abcdefghijklmnopqrst\r\n";
    constexpr UINT kLineChars = static_cast<UINT>(sizeof kLine / sizeof kLine[0] - 1);
    for (UINT at = 0; at < static_cast<UINT>(length); at += kLineChars) {
      UINT n =
          static_cast<UINT>(length) - at < kLineChars ? static_cast<UINT>(length) - at : kLineChars;
      std::wmemcpy(made + at, kLine, n);
    }
    *text = made;
    return S_OK;
  }

 private:
  ~BenchText() = default;
  std::atomic<ULONG> references_{1};
};

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // A static object: its count does not decide its life.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    BenchText* object = new (std::nothrow) BenchText;
    if (object == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  g_mainThread = ::GetCurrentThreadId();
  korvane::win::ScopedComInit com(COINIT_APARTMENTTHREADED);
  wchar_t self[MAX_PATH];
  if (::GetModuleFileNameW(nullptr, self, MAX_PATH) == 0) return 1;
  ComPtr<ITypeLib> library;
  if (FAILED(::LoadTypeLibEx(self, REGKIND_NONE, library.put()))) return 2;
  ComPtr<ITypeInfo> info;
  if (FAILED(library->GetTypeInfoOfGuid(IID__BenchText, info.put()))) return 3;
  g_typeInfo = info.get();
  DWORD cookie = 0;
  if (FAILED(::CoRegisterClassObject(CLSID_BenchText, &g_factory, CLSCTX_LOCAL_SERVER,
                                     REGCLS_MULTIPLEUSE, &cookie)))
    return 4;
  ::SetTimer(nullptr, 0, kIdleLimitMs, nullptr);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr) {
      if (g_objects == 0) break;
      continue;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  ::CoRevokeClassObject(cookie);
  return 0;
}
