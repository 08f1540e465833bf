// One engine run: command line in, files converted, result code and a one-line report out.
// Shared by quandrelsdk.dll and the quandrel.dll program; keeps no state between runs.
#pragma once

#include <string>
#include <string_view>

namespace korvane::engine {

// Result codes of the engine (also the exit codes of the program).
enum ResultCode : int {
  kOk = 0,
  kBadUsage = -1,          // no or malformed command line, unknown option, missing file name
  kInputUnreadable = -2,   // the input file cannot be opened or read
  kOutputUnwritable = -3,  // the output file cannot be created or written
  kInputTooLarge = -4,     // the input exceeds kMaxInputBytes, or memory ran out
  kOutputIsInput = -5,     // the output names the input file itself (by whatever spelling)
};

// The engine holds a whole document in memory; larger inputs are refused.
inline constexpr unsigned long long kMaxInputBytes = 64ull << 20;

struct Outcome {
  int code = kOk;
  // On success "converted <in> -> <out> (<n> lines)", otherwise what went wrong.
  std::string message;
};

// Runs the command line `[options] <in-file> [<out-file>]` (see README.md). File names are
// 8-bit text in the process's ANSI code page, relative ones taken from the current folder.
// Never throws.
Outcome RunConversion(std::string_view commandLine) noexcept;

// Usage text of the engine, one line.
extern const char kUsage[];

}  // namespace korvane::engine
