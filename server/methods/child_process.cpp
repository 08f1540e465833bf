#include "server/methods/child_process.h"

#include "common/win/ansi_text.h"
#include "common/win/result.h"
#include "server/methods/log_line.h"
#include "server/methods/show_window.h"

namespace korvane::server::methods {

STARTUPINFOA StartupWithShowWindow(int16_t showWindow) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = ShowWindowField(showWindow);
  return startup;
}

STARTUPINFOA StartupWithOutputPipe(int16_t showWindow, HANDLE outputWriteEnd) {
  STARTUPINFOA startup = StartupWithShowWindow(showWindow);
  startup.dwFlags |= STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = outputWriteEnd;
  startup.hStdError = outputWriteEnd;
  return startup;
}

namespace {

// Starts `commandLine`, which the platform may write into.
ChildProcess StartChildProcess(std::string& commandLine, STARTUPINFOA& startup) {
  ChildProcess child;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &info)) {
    child.lastError = ::GetLastError();
    child.hr = win::HresultFromWin32(child.lastError);
    return child;
  }
  child.hr = S_OK;
  child.process.reset(info.hProcess);
  child.thread.reset(info.hThread);
  return child;
}

}  // namespace

void LogStepFailed(const DebugLog& log, std::wstring_view tag, int position, DWORD error) {
  log.Write({tag, L" Pos=", DecimalText(position).view(), L", ErrorCode=",
             DecimalText(static_cast<LONG>(error)).view()});
}

ChildProcess StartExactly(std::wstring_view commandLine, STARTUPINFOA& startup, const DebugLog& log,
                          std::wstring_view tag, int failedStartPosition) {
  win::AnsiText ansi = win::ToAnsi(commandLine);
  if (!ansi.ok()) {
    log.Write({tag, L" Refused: ", ansi.refused->Describe()});
    ChildProcess refused;
    refused.hr = E_INVALIDARG;
    return refused;
  }
  ChildProcess child = StartChildProcess(ansi.bytes, startup);
  if (!child.started()) LogStepFailed(log, tag, failedStartPosition, child.lastError);
  return child;
}

}  // namespace korvane::server::methods
