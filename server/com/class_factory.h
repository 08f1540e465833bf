// The class object of QuandrelCom: one per server process, registered for every client
// (multiple use). It lives as long as the server's main loop, so its own reference count does not
// keep the process alive; objects and LockServer locks do (server_lifetime.h).
#pragma once

#include <unknwn.h>

namespace korvane::server::com {

class ClassFactory final : public IClassFactory {
 public:
  ClassFactory() = default;
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // A new QuandrelCom object; aggregation is not supported.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  // Keeps the server running without an object; an unlock without a lock is refused.
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;
};

}  // namespace korvane::server::com
