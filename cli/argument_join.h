// Joining quandrelcmd's arguments into the one command line the engine receives.
#pragma once

#include <string>

namespace korvane::cli {

// Each user argument (argv[1] onwards; argv[0] is the program) becomes `"` + arg + `" `, in
// order, bytes unchanged. Nothing is escaped, so an argument holding a quote is passed with it.
// The result grows as needed: no argument is ever cut or dropped, however long the line.
std::string JoinQuotedArguments(int argc, const char* const* argv);

}  // namespace korvane::cli
