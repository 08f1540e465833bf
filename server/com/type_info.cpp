#include "com/type_info.h"

#include <mutex>

#include "quandrelcom.h"
#include "win/com_ptr.h"
#include "win/module_path.h"
#include "win/result.h"

namespace korvane::server {

HRESULT GetQuandrelComTypeInfo(ITypeInfo** info) {
  static std::mutex lock;
  static win::ComPtr<ITypeInfo> cached;
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  std::lock_guard<std::mutex> guard(lock);
  if (!cached) {
    win::ComPtr<ITypeLib> library;
    KORVANE_RETURN_IF_FAILED(
        ::LoadTypeLibEx(win::RunningExecutablePath().c_str(), REGKIND_NONE, library.put()));
    KORVANE_RETURN_IF_FAILED(library->GetTypeInfoOfGuid(IID__QuandrelCom, cached.put()));
  }
  cached->AddRef();
  *info = cached.get();
  return S_OK;
}

}  // namespace korvane::server
