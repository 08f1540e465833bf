#include "server/host/server_command.h"

#include "common/win/registry.h"

namespace korvane::server::host {

ServerCommand ParseServerCommand(std::wstring_view value) {
  auto isBlank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
  auto trim = [&](std::wstring_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return std::wstring(text);
  };
  ServerCommand command;
  while (!value.empty() && isBlank(value.front())) value.remove_prefix(1);
  if (!value.empty() && value.front() == L'"') {
    value.remove_prefix(1);
    const size_t close = value.find(L'"');
    command.quoted = true;
    command.program = value.substr(0, close);
    if (close != std::wstring_view::npos) command.arguments = trim(value.substr(close + 1));
    return command;
  }
  // Unquoted: the path may hold blanks, so it ends after ".exe" followed by a blank or the end.
  constexpr std::wstring_view kExe = L".exe";
  size_t end = std::wstring_view::npos;
  for (size_t at = 0; at + kExe.size() <= value.size() && end == std::wstring_view::npos; ++at) {
    const size_t after = at + kExe.size();
    if (win::SameText(value.substr(at, kExe.size()), kExe) &&
        (after == value.size() || isBlank(value[after])))
      end = after;
  }
  command.program = trim(value.substr(0, end));
  if (end != std::wstring_view::npos) command.arguments = trim(value.substr(end));
  // Process creation reads an unquoted command line up to each blank in turn, adding ".exe" to a
  // name without an extension, and starts the first such file that exists.
  const std::wstring& program = command.program;
  for (size_t at = 0; at < program.size(); ++at) {
    if (!isBlank(program[at]) || at == 0 || isBlank(program[at - 1])) continue;
    std::wstring tried = program.substr(0, at);
    const size_t name = tried.find_last_of(L"\\/");
    if (tried.find(L'.', name == std::wstring::npos ? 0 : name) == std::wstring::npos)
      tried += L".exe";
    command.triedFirst.push_back(std::move(tried));
  }
  return command;
}

std::wstring ServerPathOf(std::wstring_view value) { return ParseServerCommand(value).program; }

bool IsFullyQualified(std::wstring_view path) {
  auto isSlash = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  if (path.size() >= 3 && path[1] == L':' && isSlash(path[2]))
    return (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
  // "\\server\share\..." and "\\?\C:\...": a UNC path or a device path.
  return path.size() >= 3 && isSlash(path[0]) && isSlash(path[1]) && !isSlash(path[2]);
}

bool SamePath(std::wstring_view a, std::wstring_view b) {
  for (std::wstring_view* path : {&a, &b})
    if (path->substr(0, 4) == L"\\\\?\\") path->remove_prefix(4);
  return !a.empty() && win::SameText(a, b);
}

}  // namespace korvane::server::host
