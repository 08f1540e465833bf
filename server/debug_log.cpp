#include "debug_log.h"

#include <windows.h>
#include <oleauto.h>

#include "late_binding.h"
#include "log_line.h"
#include "quandrel_com.h"
#include "server_paths.h"
#include "win/com_ptr.h"
#include "win/scoped_variant.h"

namespace korvane::server {

namespace {

// Script-style arguments: the text, the integers and the Booleans the file-system object takes.
// Borrows the caller's BSTR, which outlives the call.
VARIANT Text(BSTR text) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = text;
  return v;
}
VARIANT Integer(LONG value) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}
VARIANT Boolean(bool value) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

constexpr LONG kForAppending = 8;
constexpr LONG kOverwrite = 2;  // counts as True

// The stream a call returned, when it returned one.
win::ComPtr<IDispatch> StreamFrom(HRESULT hr, VARIANT& result) {
  if (FAILED(hr) || result.vt != VT_DISPATCH || result.pdispVal == nullptr) return {};
  result.pdispVal->AddRef();
  return win::ComPtr<IDispatch>(result.pdispVal);
}

}  // namespace

void AppendLogLine(const std::wstring& path, std::wstring_view line) {
  // Real BSTRs: the callee reads their length prefix.
  win::UniqueBstr pathArg(path);
  win::UniqueBstr lineArg(line);

  win::ComPtr<IDispatch> fso;
  CreateObjectByProgId(L"Scripting.FileSystemObject", fso.put());

  win::UniqueVariant exists;
  HRESULT hr = CallMethodByName(fso.get(), L"FileExists", {Text(pathArg.get())}, exists.get());
  // A failed existence test falls through to opening for appending.
  bool append = FAILED(hr) || (exists.value().vt == VT_BOOL && exists.value().boolVal != 0);

  win::UniqueVariant opened;
  if (append) {
    hr = CallMethodByName(fso.get(), L"OpenTextFile",
                          {Text(pathArg.get()), Integer(kForAppending), Boolean(true)},
                          opened.get());
  } else {
    hr = CallMethodByName(fso.get(), L"CreateTextFile",
                          {Text(pathArg.get()), Integer(kOverwrite), Boolean(false)}, opened.get());
  }
  win::ComPtr<IDispatch> stream = StreamFrom(hr, *opened.get());

  CallMethodByName(stream.get(), L"WriteLine", {Text(lineArg.get())}, nullptr);
  CallMethodByName(stream.get(), L"Close", {}, nullptr);
  // The stream, then the file-system object, are released on the way out.
}

void QuandrelCom::WriteDebugLog(std::wstring_view message) {
  if (g_isDebug == VARIANT_FALSE) return;
  std::wstring path = LogFilePath(ServerFolder());
  DATE now = CurrentLocalDate();
  std::wstring line = FormatLogLine(LogTimestampText(now), message);
  AppendLogLine(path, line);
}

}  // namespace korvane::server
