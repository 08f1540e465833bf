#include "server/methods/quandrel_run_cmd.h"

#include <optional>
#include <string>

#include "common/win/ansi_path.h"
#include "common/win/ansi_text.h"
#include "common/win/module_path.h"
#include "server/methods/engine_command_line.h"
#include "server/methods/log_line.h"
#include "server/methods/run_cmd2.h"

namespace korvane::server::methods {

MethodStatus QuandrelRunCmd(const ObjectRunCmd2& runCmd2, std::wstring_view arguments,
                            const DebugLog& log, win::UniqueBstr& result) {
  std::wstring enginePath = EngineExecutablePath(win::RunningExecutableFolder());
  log.Write({L"QuandrelRunCmd:strExeName=", enginePath});

  int64_t length = FileLengthOrMinusOne(enginePath);
  log.Write({L"QuandrelRunCmd:lSize=", DecimalText(length).view()});

  if (length < 0) {
    std::wstring message = EngineNotFoundMessage(enginePath);
    log.Write({L"Quandrel: ", message});  // this line's documented label, not the method's name
    result = win::UniqueBstr(std::wstring_view(message));
    return MethodStatus();
  }

  // The command line reaches the engine in the ANSI code page: a server folder that the code page
  // cannot spell is named by its short form, and without one the engine is not started, since a
  // look-alike spelling could start another program.
  std::optional<std::wstring> spelled = win::AnsiSpellingOfPath(enginePath);
  if (!spelled) {
    log.Write(
        {L"QuandrelRunCmd: the ANSI code page cannot spell the engine path, and it has "
         L"no short form that it can: ",
         enginePath});
    result = win::UniqueBstr(std::wstring_view(kFailedToExecute));
    return MethodStatus();
  }

  // The engine program reads its command line in the ANSI code page, however it is started: text
  // that the code page cannot carry exactly does not start it.
  if (std::optional<win::UncarriedCharacter> refused = win::FindUncarried(arguments)) {
    log.Write({L"QuandrelRunCmd: Refused: ", refused->Describe()});
    result = win::UniqueBstr(std::wstring_view(kFailedToExecute));
    return MethodStatus();
  }

  std::wstring commandLine = EngineCommandLine(*spelled, arguments);
  log.Write({L"QuandrelRunCmd: ", commandLine});

  // Through the object's own interface, exactly as a client calls it: its frame, its log lines,
  // and its failure fails this call with the same status.
  win::UniqueBstr argument{std::wstring_view(commandLine)};
  win::UniqueBstr output;
  HRESULT hr = runCmd2(argument.get(), output.put());
  if (FAILED(hr)) return MethodStatus::FromFailedCall(hr);

  result = std::move(output);
  log.Write({L"QuandrelRunCmd: ", result.view()});
  return MethodStatus();
}

}  // namespace korvane::server::methods
