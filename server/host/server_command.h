// How a registered server's command line (LocalServer32) and the paths in the registry are read:
// as process creation reads them, so that /Check and unregistration judge what clients start.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvane::server::host {

// A LocalServer32 value taken apart as process creation reads it.
struct ServerCommand {
  std::wstring program;  // the quoted part, or an unquoted path up to the end of its ".exe"
  bool quoted = false;
  std::wstring arguments;  // what follows the program, without surrounding blanks
  // Unquoted with blanks: the programs that process creation tries before this one
  // ("C:\a b\x.exe" tries "C:\a.exe" first).
  std::vector<std::wstring> triedFirst;
};
ServerCommand ParseServerCommand(std::wstring_view localServer32);

// The program a LocalServer32 value starts, without the arguments that may follow.
std::wstring ServerPathOf(std::wstring_view localServer32);

// Whether a path names its drive or share and its folder from the root ("C:\a", "\\srv\s\a"),
// so that it means the same file wherever it is read.
bool IsFullyQualified(std::wstring_view path);

// Whether two full paths name the same file (case-insensitive; a "\\?\" prefix is ignored).
bool SamePath(std::wstring_view a, std::wstring_view b);

}  // namespace korvane::server::host
