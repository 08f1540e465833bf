#include "server/methods/run_cmd.h"

#include <string>

#include "server/methods/child_process.h"
#include "server/methods/show_window.h"

namespace korvane::server::methods {

MethodStatus RunCmd(std::wstring_view commandLine, LONG showWindow, bool wait, const DebugLog& log,
                    VARIANT_BOOL& result) {
  result = VARIANT_FALSE;
  // An unusable show-window code fails the call before anything is logged or started.
  std::optional<int16_t> narrowed = NarrowShowWindow(showWindow);
  if (!narrowed) return MethodStatus::RuntimeError(kErrOverflow);
  STARTUPINFOA startup = StartupWithShowWindow(*narrowed);

  auto logStepFailed = [&log](int position, DWORD error) {
    LogStepFailed(log, L"[RunCmd]", position, error);
  };
  log.Write({L"[RunCmd] strCmd = ", commandLine});

  ChildProcess child = StartExactly(commandLine, startup, log, L"[RunCmd]", 10001);
  if (!child.started()) return MethodStatus();

  // Every early return below still closes both handles (the owners do it); the closes that
  // the result depends on are the explicit ones at the end.
  if (wait) {
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

}  // namespace korvane::server::methods
