#include "debug_log.h"

#include <windows.h>
#include <oleauto.h>

#include "late_binding.h"
#include "log_line.h"
#include "quandrel_com.h"
#include "server_paths.h"
#include "win/com_ptr.h"
#include "win/scoped_variant.h"
#include "win/variant_args.h"

namespace korvane::server {

namespace {

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
  HRESULT hr = CallMethodByName(fso.get(), L"FileExists", {win::BorrowedTextArg(pathArg.get())},
                                exists.get());
  // A failed existence test falls through to opening for appending.
  bool append = FAILED(hr) || (exists.value().vt == VT_BOOL && exists.value().boolVal != 0);

  win::UniqueVariant opened;
  if (append) {
    hr = CallMethodByName(
        fso.get(), L"OpenTextFile",
        {win::BorrowedTextArg(pathArg.get()), win::LongArg(kForAppending), win::BoolArg(true)},
        opened.get());
  } else {
    hr = CallMethodByName(
        fso.get(), L"CreateTextFile",
        {win::BorrowedTextArg(pathArg.get()), win::LongArg(kOverwrite), win::BoolArg(false)},
        opened.get());
  }
  win::ComPtr<IDispatch> stream = StreamFrom(hr, *opened.get());

  CallMethodByName(stream.get(), L"WriteLine", {win::BorrowedTextArg(lineArg.get())}, nullptr);
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
