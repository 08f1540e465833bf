// quandrel.dll: the engine as a console program (named like a library for the callers that
// expect it so). Reports on stdout, errors on stderr, exits with the engine's result code.
#include <windows.h>

#include <cstdio>

#include "engine/command_line.h"
#include "engine/engine.h"

int main() {
  using namespace korvane::engine;
  // The program's own command line, not argv: the engine splits it by its own rule, in which
  // a backslash before a quote is an ordinary character.
  Outcome outcome = RunConversion(SkipProgramName(::GetCommandLineA()));
  if (outcome.code == kOk) {
    std::printf("%s\n", outcome.message.c_str());
  } else {
    std::fprintf(stderr, "quandrel: error %d: %s\n", outcome.code, outcome.message.c_str());
    if (outcome.code == kBadUsage) std::fprintf(stderr, "%s\n", kUsage);
  }
  return outcome.code;
}
