#include "type_info.h"

#include <mutex>
#include <vector>

#include "quandrelcom.h"
#include "win/com_ptr.h"

namespace korvane::server {

namespace {
std::wstring OwnModulePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}
}  // namespace

HRESULT GetQuandrelComTypeInfo(ITypeInfo** info) {
  static std::mutex lock;
  static win::ComPtr<ITypeInfo> cached;
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  std::lock_guard<std::mutex> guard(lock);
  if (!cached) {
    win::ComPtr<ITypeLib> library;
    HRESULT hr = ::LoadTypeLibEx(OwnModulePath().c_str(), REGKIND_NONE, library.put());
    if (FAILED(hr)) return hr;
    hr = library->GetTypeInfoOfGuid(IID__QuandrelCom, cached.put());
    if (FAILED(hr)) return hr;
  }
  cached->AddRef();
  *info = cached.get();
  return S_OK;
}

}  // namespace korvane::server
