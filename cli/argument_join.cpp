#include "argument_join.h"

#include <cstring>

namespace korvane::cli {

std::string JoinQuotedArguments(int argc, const char* const* argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    line += '"';
    line.append(argv[i], std::strlen(argv[i]));
    line += "\" ";
  }
  return line;
}

}  // namespace korvane::cli
