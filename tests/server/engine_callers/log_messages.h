// Reading the debug log back: the messages of its lines, without prefix and time stamp.
#pragma once

#include <string>
#include <vector>

namespace korvane::test {

// Splits the log at CR LF and returns, for each line, the text after "<prefix><stamp>; ".
// A line that does not have the prefix is returned whole with "!!" in front, so it shows.
std::vector<std::string> LogMessages(const std::string& log);

}  // namespace korvane::test
