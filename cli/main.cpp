// quandrelcmd: hands its arguments, each in double quotes, to the engine library beside it,
// prints the engine's result code and exits with it.
#include <cstdio>
#include <string>
#include <vector>

#include "argument_join.h"
#include "engine_binding.h"
#include "quandrelsdk.h"

int main(int argc, char** argv) {
  if (argc == 1) {
    std::fputs("Usage: [options] <in-file> [<out-file>]\n", stdout);
    return 0;
  }
  // The engine may write anywhere in the buffer it is handed, as in the buffer its peers get.
  std::vector<char> commandLine =
      korvane::engine_api::ArgumentBuffer(korvane::cli::JoinQuotedArguments(argc, argv));
  int result = korvane::cli::RunEngine(commandLine.data());
  std::printf("nRet = %d\n", result);
  return result;
}
