#include "cli/argument_join.h"

#include <cstring>

namespace korvane::cli {

EngineArguments ArgumentsForEngine(int argc, const wchar_t* const* argv, UINT codePage) {
  EngineArguments result;
  for (int i = 1; i < argc; ++i) {
    win::AnsiText text = win::ToAnsi(argv[i], codePage);
    if (!text.ok()) {
      result.arguments.clear();
      result.refusedArgument = i;
      result.refused = text.refused;
      return result;
    }
    result.arguments.push_back(std::move(text.bytes));
  }
  return result;
}

std::string RefusalMessage(const EngineArguments& refusal) {
  if (!refusal.refused) return {};
  // The description is plain ASCII.
  const win::AnsiText described = win::ToAnsi(refusal.refused->Describe(), CP_UTF8);
  return "quandrelcmd: argument " + std::to_string(refusal.refusedArgument) +
         " cannot reach the engine exactly: " + described.bytes + "\n";
}

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
