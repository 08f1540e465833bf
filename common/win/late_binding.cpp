#include "common/win/late_binding.h"

#include <objbase.h>

#include "common/win/result.h"

namespace korvane::win {

std::wstring DispatchOutcome::Text() const {
  const VARIANT& v = value();
  if (v.vt != VT_BSTR) return L"<not a string>";
  return v.bstrVal ? std::wstring(v.bstrVal, ::SysStringLen(v.bstrVal)) : std::wstring();
}

DispatchOutcome InvokeByName(IDispatch* object, std::wstring_view name,
                             const std::vector<VARIANT>& args, WORD flags) {
  DispatchOutcome outcome;
  if (object == nullptr) {
    outcome.hr = E_POINTER;
    return outcome;
  }
  std::wstring member(name);
  LPOLESTR names[] = {member.data()};
  DISPID id = DISPID_UNKNOWN;
  outcome.hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(outcome.hr)) return outcome;
  // IDispatch wants the arguments last to first.
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  DISPID put = DISPID_PROPERTYPUT;
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  UINT argError = 0;
  outcome.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                              outcome.result.put(), outcome.excep.put(), &argError);
  return outcome;
}

HRESULT CreateObjectByProgId(const wchar_t* progId, IDispatch** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  CLSID clsid{};
  KORVANE_RETURN_IF_FAILED(::CLSIDFromProgID(progId, &clsid));
  return ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                            IID_IDispatch, reinterpret_cast<void**>(object));
}

}  // namespace korvane::win
