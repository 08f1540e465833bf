#include "server/methods/run_cmd2.h"

#include <algorithm>
#include <climits>
#include <new>
#include <string>
#include <vector>

#include "common/win/ansi_text.h"
#include "server/methods/child_process.h"
#include "server/methods/log_line.h"
#include "server/methods/message_pump.h"
#include "server/methods/output_capture.h"
#include "server/methods/show_window.h"

namespace korvane::server::methods {

namespace {

constexpr wchar_t kReturnLabel[] = L"[RunCmd2] strReturn=";

// Output that cannot be held fails the call rather than passing a part off as the whole.
MethodStatus OutOfMemory() { return MethodStatus::Failure(E_OUTOFMEMORY); }

}  // namespace

MethodStatus RunCmd2(std::wstring_view commandLine, LONG showWindow, const DebugLog& log,
                     win::UniqueBstr& result) {
  auto logStepFailed = [&log](int position, DWORD error) {
    LogStepFailed(log, L"[RunCmd2]", position, error);
  };
  // Unlike RunCmd, the command is logged before the show-window code is judged: a call refused
  // for its code still shows in the log what it would have run.
  log.Write({L"[RunCmd2] strCmd = ", commandLine});
  result = win::UniqueBstr(std::wstring_view(kFailedToExecute));

  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  win::UniqueHandle readEnd;
  win::UniqueHandle writeEnd;
  if (!::CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0)) {
    logStepFailed(20000, ::GetLastError());
    return MethodStatus();
  }
  // Only the write end is meant for the child. The read end stays with the server, also out of
  // reach of children that calls served during the wait start.
  ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

  // Both pipe ends are closed on this path too, by their owners.
  std::optional<int16_t> narrowed = NarrowShowWindow(showWindow);
  if (!narrowed) return MethodStatus::RuntimeError(kErrOverflow);
  STARTUPINFOA startup = StartupWithOutputPipe(*narrowed, writeEnd.get());

  ChildProcess child = StartExactly(commandLine, startup, log, L"[RunCmd2]", 20001);
  if (!child.started()) return MethodStatus();
  // From here only the child and what inherits from it hold a write end: the pipe ends when
  // they all have closed theirs.
  writeEnd.reset();

  std::string bytes;
  bool complete = false;
  {
    OutputCapture capture(readEnd.get());
    AwaitChildAndOutput(child.process.get(), capture);
    complete = capture.complete();
    bytes = capture.TakeBytes();
  }

  DWORD exitCode = 0;
  const bool exitQueried = ::GetExitCodeProcess(child.process.get(), &exitCode) != FALSE;
  if (exitQueried) {
    child.process.reset();
    child.thread.reset();
    readEnd.reset();
  }

  if (!complete) return OutOfMemory();
  try {
    win::UniqueBstr collected = win::BstrFromAnsi(bytes);
    if (collected.get() == nullptr) return OutOfMemory();
    // Bytes the code page does not define came back replaced; only the log can say so without
    // changing the result.
    if (log.enabled() && !win::IsWholeText(bytes))
      log.Write({L"[RunCmd2] the output is not all text in code page ",
                 DecimalText(::GetACP()).view(), L": bytes that it does not define are replaced"});
    std::string().swap(bytes);
    result = std::move(collected);
    // The closing line repeats the whole text, which may be many megabytes: the writer composes
    // it only while the switch is set, and drops it rather than the result if memory runs short.
    if (exitQueried) log.Write({kReturnLabel, result.view()});
  } catch (const std::bad_alloc&) {
    return OutOfMemory();
  }
  return MethodStatus();
}

}  // namespace korvane::server::methods
