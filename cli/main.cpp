// quandrelcmd: hands its arguments, each in double quotes, to the engine library beside it,
// prints the engine's result code and exits with it.
//
// The arguments are read wide, as the system hands them over, and converted exactly: the run
// time's 8-bit arguments would turn a character the code page lacks into a look-alike, and a
// look-alike quote would split one file name into two arguments.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/argument_join.h"
#include "cli/engine_binding.h"
#include "engine_api/quandrelsdk.h"

int wmain(int argc, wchar_t** argv) {
  if (argc == 1) {
    std::fputs("Usage: [options] <in-file> [<out-file>]\n", stdout);
    return 0;
  }
  korvane::cli::EngineArguments converted = korvane::cli::ArgumentsForEngine(argc, argv);
  if (converted.refused) {
    std::fputs(korvane::cli::RefusalMessage(converted).c_str(), stderr);
    return korvane::cli::kExitArgumentRefused;
  }
  std::vector<const char*> args{"quandrelcmd"};
  for (const std::string& argument : converted.arguments) args.push_back(argument.c_str());
  // The engine may write anywhere in the buffer it is handed, as in the buffer its peers get.
  std::vector<char> commandLine = korvane::engine_api::ArgumentBuffer(
      korvane::cli::JoinQuotedArguments(static_cast<int>(args.size()), args.data()));
  int result = korvane::cli::RunEngine(commandLine.data());
  std::printf("nRet = %d\n", result);
  return result;
}
