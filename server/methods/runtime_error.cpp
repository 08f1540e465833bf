#include "server/methods/runtime_error.h"

#include "server/com/quandrelcom.h"

namespace korvane::server::methods {

namespace {
constexpr wchar_t kErrorSource[] = L"Korvane.QuandrelCom";

win::ComPtr<IErrorInfo> MakeErrorInfo(const std::wstring& description) {
  win::ComPtr<ICreateErrorInfo> create;
  if (FAILED(::CreateErrorInfo(create.put()))) return {};
  create->SetGUID(IID__QuandrelCom);
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
  status.info_ = MakeErrorInfo(status.description_);
  return status;
}

MethodStatus MethodStatus::FromFailedCall(HRESULT hr) {
  MethodStatus status;
  status.hr_ = FAILED(hr) ? hr : E_FAIL;
  // Take over what the failed call left on this thread, so it reaches our own caller unchanged.
  ::GetErrorInfo(0, status.info_.put());
  if (status.info_) {
    BSTR text = nullptr;
    if (SUCCEEDED(status.info_->GetDescription(&text)) && text) status.description_ = text;
    ::SysFreeString(text);
  }
  return status;
}

HRESULT MethodStatus::Report() const {
  if (ok()) return hr_;
  ::SetErrorInfo(0, info_.get());
  return hr_;
}

}  // namespace korvane::server::methods
