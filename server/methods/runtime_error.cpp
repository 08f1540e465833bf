#include "server/methods/runtime_error.h"

#include "common/win/unique_bstr.h"

namespace korvane::server::methods {

namespace {
constexpr wchar_t kErrorSource[] = L"Korvane.QuandrelCom";

win::ComPtr<IErrorInfo> MakeErrorInfo(const std::wstring& description, REFGUID interfaceId) {
  win::ComPtr<ICreateErrorInfo> create;
  if (FAILED(::CreateErrorInfo(create.put()))) return {};
  create->SetGUID(interfaceId);
  create->SetSource(const_cast<LPOLESTR>(kErrorSource));
  create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
  win::ComPtr<IErrorInfo> info;
  if (FAILED(create.query_to(&info))) return {};
  return info;
}
}  // namespace

HRESULT HresultOfRuntimeError(long number) {
  return static_cast<HRESULT>(0x800A0000u + static_cast<unsigned long>(number & 0xFFFF));
}

std::wstring DescriptionOfRuntimeError(long number, const std::wstring& detail) {
  switch (number) {
    case kErrInvalidCall:
      return detail.empty() ? L"Invalid procedure call or argument"
                            : L"Invalid procedure call or argument: " + detail;
    case kErrOverflow:
      return L"Overflow";
    case kErrDllLoadFailed:
      return detail.empty() ? L"Error in loading DLL" : L"Error in loading DLL: " + detail;
    case kErrFileNotFound:
      return detail.empty() ? L"File not found" : L"File not found: " + detail;
    case kErrEntryPointNotFound:
      return detail.empty() ? L"Can't find DLL entry point"
                            : L"Can't find DLL entry point " + detail;
    default:
      return L"Application-defined or object-defined error";
  }
}

MethodStatus MethodStatus::RuntimeError(long number, const std::wstring& detail) {
  MethodStatus status;
  status.hr_ = HresultOfRuntimeError(number);
  status.description_ = DescriptionOfRuntimeError(number, detail);
  status.describe_ = true;
  return status;
}

MethodStatus MethodStatus::Failure(HRESULT hr) {
  MethodStatus status;
  status.hr_ = FAILED(hr) ? hr : E_FAIL;
  return status;
}

MethodStatus MethodStatus::FromFailedCall(HRESULT hr) {
  MethodStatus status;
  status.hr_ = FAILED(hr) ? hr : E_FAIL;
  // Take over what the failed call left on this thread, so it reaches our own caller unchanged.
  ::GetErrorInfo(0, status.info_.put());
  if (status.info_) {
    win::UniqueBstr text;
    if (SUCCEEDED(status.info_->GetDescription(text.put())) && text.get())
      status.description_ = text.get();
  }
  return status;
}

HRESULT MethodStatus::Report(REFGUID interfaceId) const {
  if (ok()) return hr_;
  ::SetErrorInfo(0, info_ ? info_.get()
                          : (describe_ ? MakeErrorInfo(description_, interfaceId).get() : nullptr));
  return hr_;
}

}  // namespace korvane::server::methods
