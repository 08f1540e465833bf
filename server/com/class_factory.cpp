#include "server/com/class_factory.h"

#include "server/com/quandrel_com.h"
#include "server/com/server_lifetime.h"

namespace korvane::server::com {

HRESULT ClassFactory::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IClassFactory) {
    *out = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

// Not counted: the owner keeps the class object for as long as it is registered.
ULONG ClassFactory::AddRef() { return 2; }
ULONG ClassFactory::Release() { return 1; }

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  // The server is ending: activation retries with another server instead.
  if (IsStopping()) return CO_E_SERVER_STOPPING;
  return QuandrelCom::Create(iid, out);
}

HRESULT ClassFactory::LockServer(BOOL lock) {
  if (lock) {
    if (IsStopping()) return CO_E_SERVER_STOPPING;
    LockAcquired();
    return S_OK;
  }
  return LockReleased() ? S_OK : E_UNEXPECTED;
}

}  // namespace korvane::server::com
