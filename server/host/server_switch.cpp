#include "server/host/server_switch.h"

#include <windows.h>

#include <vector>

#include "common/win/registry.h"

namespace korvane::server::host {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Splits at blanks; double quotes group blanks into one token and are dropped.
std::vector<std::wstring> Tokens(std::wstring_view text) {
  std::vector<std::wstring> tokens;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i == text.size()) break;
    std::wstring token;
    bool quoted = false;
    for (; i < text.size() && (quoted || !IsBlank(text[i])); ++i) {
      if (text[i] == L'"')
        quoted = !quoted;
      else
        token += text[i];
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

}  // namespace

std::wstring_view ArgumentsOf(std::wstring_view commandLine) {
  size_t i = 0;
  // The program name follows the platform's rule: quoted up to the next quote, else up to a blank.
  if (!commandLine.empty() && commandLine[0] == L'"') {
    size_t close = commandLine.find(L'"', 1);
    i = close == std::wstring_view::npos ? commandLine.size() : close + 1;
  } else {
    while (i < commandLine.size() && !IsBlank(commandLine[i])) ++i;
  }
  while (i < commandLine.size() && IsBlank(commandLine[i])) ++i;
  return commandLine.substr(i);
}

ServerAction ParseServerAction(std::wstring_view arguments) {
  std::vector<std::wstring> tokens = Tokens(arguments);
  if (tokens.empty()) return ServerAction::kServe;
  if (tokens.size() > 1) return ServerAction::kInvalid;
  std::wstring_view token = tokens[0];
  if (token.size() < 2 || (token[0] != L'-' && token[0] != L'/')) return ServerAction::kInvalid;
  std::wstring_view name = token.substr(1);
  struct Known {
    const wchar_t* name;
    ServerAction action;
  };
  static constexpr Known kKnown[] = {
      {L"Embedding", ServerAction::kServe},
      {L"RegServer", ServerAction::kRegister},
      {L"UnregServer", ServerAction::kUnregister},
      {L"RegServerPerUser", ServerAction::kRegisterPerUser},
      {L"UnregServerPerUser", ServerAction::kUnregisterPerUser},
      {L"Check", ServerAction::kCheck},
      {L"?", ServerAction::kHelp},
      {L"Help", ServerAction::kHelp},
  };
  for (const Known& known : kKnown)
    if (win::SameText(name, known.name)) return known.action;
  return ServerAction::kInvalid;
}

}  // namespace korvane::server::host
