#include "com/type_info.h"

#include <mutex>

#include "quandrelcom.h"
#include "win/module_path.h"
#include "win/com_ptr.h"

namespace korvane::server {

HRESULT GetQuandrelComTypeInfo(ITypeInfo** info) {
  static std::mutex lock;
  static win::ComPtr<ITypeInfo> cached;
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  std::lock_guard<std::mutex> guard(lock);
  if (!cached) {
    win::ComPtr<ITypeLib> library;
    HRESULT hr = ::LoadTypeLibEx(win::RunningExecutablePath().c_str(), REGKIND_NONE, library.put());
    if (FAILED(hr)) return hr;
    hr = library->GetTypeInfoOfGuid(IID__QuandrelCom, cached.put());
    if (FAILED(hr)) return hr;
  }
  cached->AddRef();
  *info = cached.get();
  return S_OK;
}

}  // namespace korvane::server
