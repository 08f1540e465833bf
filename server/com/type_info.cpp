#include "server/com/type_info.h"

#include <mutex>

#include "common/win/com_ptr.h"
#include "common/win/module_path.h"
#include "common/win/result.h"
#include "server/com/method_frame.h"
#include "server/com/quandrelcom.h"

namespace korvane::server::com {

namespace {

std::mutex g_lock;
win::ComPtr<ITypeInfo> g_cached;

}  // namespace

HRESULT GetQuandrelComTypeInfo(ITypeInfo** info) noexcept {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  // IDispatch's own methods call this outside the method frame (the path is built on the heap).
  return NoExceptionEscapes([&]() -> HRESULT {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_cached) {
      win::ComPtr<ITypeLib> library;
      KORVANE_RETURN_IF_FAILED(
          ::LoadTypeLibEx(win::RunningExecutablePath().c_str(), REGKIND_NONE, library.put()));
      KORVANE_RETURN_IF_FAILED(library->GetTypeInfoOfGuid(IID__QuandrelCom, g_cached.put()));
    }
    g_cached->AddRef();
    *info = g_cached.get();
    return S_OK;
  });
}

void ReleaseQuandrelComTypeInfo() {
  std::lock_guard<std::mutex> guard(g_lock);
  g_cached.reset();
}

}  // namespace korvane::server::com
