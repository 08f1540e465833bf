#include "engine/command_line.h"

namespace korvane::engine {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::optional<std::vector<std::string>> SplitArguments(std::string_view text) {
  std::vector<std::string> args;
  size_t i = 0;
  for (;;) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i == text.size()) return args;
    std::string arg;
    bool quoted = false;
    for (; i < text.size() && (quoted || !IsBlank(text[i])); ++i) {
      if (text[i] == '"')
        quoted = !quoted;
      else
        arg += text[i];
    }
    if (quoted) return std::nullopt;
    args.push_back(std::move(arg));
  }
}

std::string_view SkipProgramName(std::string_view commandLine) {
  size_t i = 0;
  if (!commandLine.empty() && commandLine[0] == '"') {
    i = commandLine.find('"', 1);
    i = i == std::string_view::npos ? commandLine.size() : i + 1;
  } else {
    while (i < commandLine.size() && commandLine[i] != ' ' && commandLine[i] != '\t') ++i;
  }
  return commandLine.substr(i);
}

}  // namespace korvane::engine
