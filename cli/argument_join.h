// Joining quandrelcmd's arguments into the one command line the engine receives.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "common/win/ansi_text.h"

namespace korvane::cli {

// Exit code when an argument cannot reach the engine exactly (the engine is then not called).
inline constexpr int kExitArgumentRefused = 87;

// The user's arguments (argv[1] onwards) in the code page the engine reads, each exactly as
// typed; or the first one that cannot be carried so, by its number (from 1), with the character.
struct EngineArguments {
  std::vector<std::string> arguments;
  int refusedArgument = 0;
  std::optional<win::UncarriedCharacter> refused;
};
[[nodiscard]] EngineArguments ArgumentsForEngine(int argc, const wchar_t* const* argv,
                                                 UINT codePage = CP_ACP);

// The line that tells the user why nothing was converted.
std::string RefusalMessage(const EngineArguments& refusal);

// Each user argument (argv[1] onwards; argv[0] is the program) becomes `"` + arg + `" `, in
// order, bytes unchanged. Nothing is escaped, so an argument holding a quote is passed with it.
// The result grows as needed: no argument is ever cut or dropped, however long the line.
std::string JoinQuotedArguments(int argc, const char* const* argv);

}  // namespace korvane::cli
