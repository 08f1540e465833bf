#include "server/methods/debug_log.h"

#include <windows.h>

#include <oleauto.h>

#include "common/win/com_ptr.h"
#include "common/win/late_binding.h"
#include "common/win/module_path.h"
#include "common/win/unique_bstr.h"
#include "common/win/variant_args.h"
#include "server/methods/log_line.h"

namespace korvane::server::methods {

namespace {

constexpr LONG kForAppending = 8;
constexpr LONG kOverwrite = 2;  // counts as True

// The stream a call returned, when it returned one.
win::ComPtr<IDispatch> StreamFrom(const win::DispatchOutcome& call) {
  const VARIANT& result = call.value();
  if (FAILED(call.hr) || result.vt != VT_DISPATCH) return {};
  return win::ComPtr<IDispatch>(result.pdispVal);
}

}  // namespace

void AppendLogLine(const std::wstring& path, std::wstring_view line) noexcept try {
  // Real BSTRs: the callee reads their length prefix.
  win::UniqueBstr pathArg(path);
  win::UniqueBstr lineArg(line);

  win::ComPtr<IDispatch> fso;
  if (FAILED(win::CreateObjectByProgId(L"Scripting.FileSystemObject", fso.put()))) return;

  win::DispatchOutcome exists =
      win::InvokeByName(fso.get(), L"FileExists", {win::BorrowedTextArg(pathArg.get())});
  // A failed existence test falls through to opening for appending.
  const bool append =
      FAILED(exists.hr) || (exists.value().vt == VT_BOOL && exists.value().boolVal != 0);

  win::DispatchOutcome opened =
      append ? win::InvokeByName(fso.get(), L"OpenTextFile",
                                 {win::BorrowedTextArg(pathArg.get()), win::LongArg(kForAppending),
                                  win::BoolArg(true)})
             : win::InvokeByName(fso.get(), L"CreateTextFile",
                                 {win::BorrowedTextArg(pathArg.get()), win::LongArg(kOverwrite),
                                  win::BoolArg(false)});
  win::ComPtr<IDispatch> stream = StreamFrom(opened);

  win::InvokeByName(stream.get(), L"WriteLine", {win::BorrowedTextArg(lineArg.get())});
  win::InvokeByName(stream.get(), L"Close", {});
  // The stream, then the file-system object, are released on the way out.
} catch (...) {
  // A line that cannot be written is dropped.
}

void DebugLog::Write(std::initializer_list<std::wstring_view> pieces) const noexcept {
  if (!enabled()) return;
  try {
    size_t length = 0;
    for (std::wstring_view piece : pieces) length += piece.size();
    std::wstring message;
    message.reserve(length);
    for (std::wstring_view piece : pieces) message += piece;
    const std::wstring path = LogFilePath(win::RunningExecutableFolder());
    const std::wstring line = FormatLogLine(LogTimestampText(CurrentLocalDate()), message);
    message = std::wstring();  // the line holds it now; give the memory back first
    AppendLogLine(path, line);
  } catch (...) {
    // A line that cannot be composed (memory runs short) is dropped; the call goes on.
  }
}

}  // namespace korvane::server::methods
