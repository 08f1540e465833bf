#include "late_binding.h"

#include <objbase.h>

#include <algorithm>
#include <string>
#include <vector>

namespace korvane::server {

HRESULT CallMethodByName(IDispatch* object, std::wstring_view name,
                         std::initializer_list<VARIANT> args, VARIANT* result) {
  if (object == nullptr) return E_POINTER;
  std::wstring member(name);
  LPOLESTR names[] = {member.data()};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  // IDispatch wants the arguments last to first.
  std::vector<VARIANT> reversed(args.begin(), args.end());
  std::reverse(reversed.begin(), reversed.end());
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  EXCEPINFO excep{};
  UINT argError = 0;
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, &excep,
                      &argError);
  ::SysFreeString(excep.bstrSource);
  ::SysFreeString(excep.bstrDescription);
  ::SysFreeString(excep.bstrHelpFile);
  return hr;
}

HRESULT CreateObjectByProgId(const wchar_t* progId, IDispatch** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  CLSID clsid{};
  HRESULT hr = ::CLSIDFromProgID(progId, &clsid);
  if (FAILED(hr)) return hr;
  return ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                            IID_IDispatch, reinterpret_cast<void**>(object));
}

}  // namespace korvane::server
