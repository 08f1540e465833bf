// What the server was started to do, read from its command line.
#pragma once

#include <string>
#include <string_view>

namespace korvane::server::host {

enum class ServerAction {
  kServe,              // -Embedding (the automation run time starting us), or no switch at all
  kRegister,           // /RegServer: for every user (HKLM\Software\Classes)
  kUnregister,         // /UnregServer
  kRegisterPerUser,    // /RegServerPerUser: for the current user (HKCU\Software\Classes)
  kUnregisterPerUser,  // /UnregServerPerUser
  kCheck,              // /Check: what a client will find, read only; exit code = problems found
  kHelp,               // /? (or /Help): the version and the usage, exit 0
  kInvalid,            // anything else: refused, so a typo never leaves a hidden server running
};

// The text after the program name of a full command line (as GetCommandLineW gives it).
std::wstring_view ArgumentsOf(std::wstring_view commandLine);

// Reads the arguments after the program name. Switches start with '-' or '/' and are matched
// regardless of case; exactly one switch, or none, is accepted.
ServerAction ParseServerAction(std::wstring_view arguments);

}  // namespace korvane::server::host
