// Entry point of QuandrelCom.exe: a program of the graphical subsystem that never shows a window.
// Started by the automation run time (-Embedding) it serves the class; started with a
// registration switch it registers or unregisters itself and says so on its standard output.
#include <windows.h>

#include <new>
#include <string>

#include "common/win/module_path.h"
#include "common/win/registry.h"
#include "server/host/registration.h"
#include "server/host/self_check.h"
#include "server/host/self_check_facts.h"
#include "server/host/server_loop.h"
#include "server/host/server_switch.h"
#include "server/host/user_report.h"
#include "server/korvane_version.h"

namespace {

using namespace korvane::server::host;

// The system's wording of an error, without its line end; empty when it has none.
std::wstring ErrorText(HRESULT hr) {
  wchar_t text[512] = {};
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(hr), 0, text, 512, nullptr);
  while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L' ')) --n;
  return std::wstring(text, n);
}

HRESULT Register(RegistrationScope scope, bool add) {
  OpenedClasses classes;
  HRESULT hr = OpenClassesViews(scope, korvane::win::IsSixtyFourBitWindows(), &classes);
  std::wstring registeredTo;
  // Started by a short (8.3) spelling, Windows names the module by it: the registration names
  // the file by its long one, whichever this copy was started by.
  const std::wstring exe = korvane::win::FullLongPath(korvane::win::RunningExecutablePath());
  if (SUCCEEDED(hr)) {
    hr = add ? RegisterServer(classes.roots, exe)
             : UnregisterServer(classes.roots, exe, &registeredTo);
  }
  std::wstring where = ClassesRootName(scope);
  if (hr == S_FALSE) {
    // Another copy's registration (a moved folder, a second installation) is not ours to take.
    TellUser(L"QuandrelCom: left in place: registered to " + registeredTo);
  } else if (SUCCEEDED(hr)) {
    TellUser(add ? L"QuandrelCom: registered in " + where + L"."
                 : L"QuandrelCom: unregistered from " + where + L".");
    // Registered all the same: installers and scripts rely on the switch succeeding.
    if (add) {
      for (const std::wstring& problem :
           ChangeableByOthers(GatherInstallSecurity(korvane::win::RunningExecutablePath()), scope))
        TellUser(L"QuandrelCom: warning: " + problem);
    }
  } else {
    std::wstring line = std::wstring(L"QuandrelCom: ") +
                        (add ? L"registration in " : L"unregistration from ") + where +
                        L" failed, error " + HexCode(hr);
    std::wstring reason = ErrorText(hr);
    TellUser(reason.empty() ? line + L"." : line + L": " + reason);
    if (hr == HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE))
      TellUser(L"QuandrelCom: the server's path " + WhyServerPathTooLong(exe) +
               L": install it in a folder with a shorter path.");
  }
  return hr;
}

// One line per item, then the count, which is also the exit code: 0 means a client can use
// this server.
int Check() {
  const CheckReport report = ConcludeCheck(GatherCheckFacts(korvane::win::RunningExecutablePath()));
  TellUser(L"QuandrelCom " KORVANE_VERSION_WTEXT L" /Check");
  for (const CheckLine& line : report.lines) TellUser(FormatCheckLine(line));
  if (report.problems == 0) {
    TellUser(L"QuandrelCom /Check: no problems; clients can use this server.");
  } else {
    TellUser(L"QuandrelCom /Check: " + std::to_wstring(report.problems) +
             (report.problems == 1 ? L" problem." : L" problems."));
  }
  return report.problems;
}

constexpr wchar_t kUsage[] =
    L"Usage: QuandrelCom.exe [/RegServer | /UnregServer | /RegServerPerUser | "
    L"/UnregServerPerUser | /Check | /?]";

void TellVersionAndUsage() {
  TellUser(L"QuandrelCom " KORVANE_VERSION_WTEXT
           L", automation server Korvane.QuandrelCom (Korvane Quandrel front ends)");
  TellUser(kUsage);
  TellUser(L"  /RegServer            register for every user (as administrator)");
  TellUser(L"  /UnregServer          remove that registration");
  TellUser(L"  /RegServerPerUser     register for the current user only");
  TellUser(L"  /UnregServerPerUser   remove that registration");
  TellUser(L"  /Check                check what clients will find (registry, engine files);");
  TellUser(L"                        changes nothing, exits with the number of problems");
  TellUser(L"  /?                    show this text");
  TellUser(L"Exit code: 0 done, 1 left in place (registered to another copy), else an HRESULT");
  TellUser(L"(0x8007000E out of memory, 0x8000FFFF an unexpected failure).");
  TellUser(L"Started by COM (-Embedding) it serves Korvane.QuandrelCom.");
}

// Runs the switch the command line names; returns the exit code.
int Run() {
  HRESULT hr = S_OK;
  const ServerAction action = ParseServerAction(ArgumentsOf(::GetCommandLineW()));
  switch (action) {
    case ServerAction::kServe:
      hr = RunServer();
      break;
    case ServerAction::kRegister:
    case ServerAction::kUnregister:
    case ServerAction::kRegisterPerUser:
    case ServerAction::kUnregisterPerUser:
      hr = Register(action == ServerAction::kRegister || action == ServerAction::kUnregister
                        ? RegistrationScope::kMachine
                        : RegistrationScope::kUser,
                    action == ServerAction::kRegister || action == ServerAction::kRegisterPerUser);
      break;
    case ServerAction::kCheck:
      return Check();
    case ServerAction::kHelp:
      TellVersionAndUsage();
      break;
    case ServerAction::kInvalid:
      hr = E_INVALIDARG;
      TellUser(
          L"QuandrelCom: unknown switch. Use /RegServer, /UnregServer, /RegServerPerUser, "
          L"/UnregServerPerUser, /Check or /? (version and usage).");
      break;
  }
  return static_cast<int>(hr);
}

// Tells the user, if telling does not fail too.
void TellFailure(const wchar_t* line) noexcept {
  try {
    TellUser(line);
  } catch (...) {
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // No system dialog (missing disk, file error box) may ever wait for a user.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // Nothing leaves the program as an exception: the user gets a line and an exit code.
  try {
    return Run();
  } catch (const std::bad_alloc&) {
    TellFailure(L"QuandrelCom: out of memory.");
    return static_cast<int>(E_OUTOFMEMORY);
  } catch (...) {
    TellFailure(L"QuandrelCom: unexpected failure.");
    return static_cast<int>(E_UNEXPECTED);
  }
}
