// RunCmd: starts a command line as a child process, optionally waits for its end without
// serving other calls meanwhile, and answers whether every step succeeded.
#include <string>

#include "child_process.h"
#include "log_line.h"
#include "quandrel_com.h"
#include "show_window.h"
#include "win/ansi_text.h"

namespace korvane::server {

MethodStatus QuandrelCom::RunCmdBody(VARIANT_BOOL& result, const win::UniqueBstr& strCmdLine,
                                     LONG wShowWindow, VARIANT_BOOL bWait) {
  result = VARIANT_FALSE;
  // An unusable show-window code fails the call before anything is logged or started.
  std::optional<int16_t> showWindow = NarrowShowWindow(wShowWindow);
  if (!showWindow) return MethodStatus::RuntimeError(kErrOverflow);
  STARTUPINFOA startup = StartupWithShowWindow(*showWindow);

  // The error is read before anything else can change it.
  auto logStepFailed = [this](int position, DWORD error) {
    WriteDebugLog({L"[RunCmd] Pos=", DecimalText(position).view(), L", ErrorCode=",
                   DecimalText(static_cast<LONG>(error)).view()});
  };
  WriteDebugLog({L"[RunCmd] strCmd = ", strCmdLine.view()});

  std::string commandLine = win::ToAnsi(strCmdLine.view());
  ChildProcess child = StartChildProcess(commandLine, startup);
  if (!child.started()) {
    logStepFailed(10001, child.lastError);
    return MethodStatus();
  }

  // Every early return below still closes both handles (the owners do it); the closes that
  // the result depends on are the explicit ones at the end.
  if (bWait != VARIANT_FALSE) {
    // Blocks the server's thread on purpose: no other call is served until the child ends.
    DWORD waited = ::WaitForSingleObject(child.process.get(), INFINITE);
    if (waited == WAIT_OBJECT_0) {
      DWORD exitCode = 0;
      if (!::GetExitCodeProcess(child.process.get(), &exitCode)) {
        logStepFailed(10004, ::GetLastError());
        return MethodStatus();
      }
    } else if (waited == WAIT_ABANDONED) {
      logStepFailed(10002, ::GetLastError());
      return MethodStatus();
    } else {
      logStepFailed(10003, ::GetLastError());
      return MethodStatus();
    }
  }

  if (!child.process.reset()) {
    logStepFailed(10005, ::GetLastError());
    return MethodStatus();
  }
  if (!child.thread.reset()) {
    logStepFailed(10006, ::GetLastError());
    return MethodStatus();
  }
  result = VARIANT_TRUE;
  return MethodStatus();
}

}  // namespace korvane::server
