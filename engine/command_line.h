// Splitting an engine command line into arguments.
//
// The syntax is the inverse of how quandrelcmd joins its arguments: a double quote opens and
// closes a quoted stretch, unquoted spaces and tabs separate arguments, and nothing is escaped.
// A backslash is an ordinary character, so a quoted folder path ending in "\" survives intact.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::engine {

// The arguments of `text`, or nothing when a quoted stretch is left open (the caller cannot
// know where the argument was meant to end, so it is refused rather than guessed).
// `""` yields an empty argument; quotes may also sit inside a word: a"b c"d is one argument.
std::optional<std::vector<std::string>> SplitArguments(std::string_view text);

// What follows the program name in a process command line, by the platform's rule for the
// program name: up to the closing quote when it starts with one, else up to the first blank.
std::string_view SkipProgramName(std::string_view commandLine);

}  // namespace korvane::engine
