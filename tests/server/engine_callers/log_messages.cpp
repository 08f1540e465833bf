#include "tests/server/engine_callers/log_messages.h"

namespace korvane::test {

std::vector<std::string> LogMessages(const std::string& log) {
  static const std::string kPrefix = "KorvaneCom: Run Time: ";
  std::vector<std::string> messages;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find("\r\n", start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    size_t separator = line.find("; ");
    if (line.compare(0, kPrefix.size(), kPrefix) == 0 && separator != std::string::npos)
      messages.push_back(line.substr(separator + 2));
    else
      messages.push_back("!!" + line);
    start = end + 2;
  }
  return messages;
}

}  // namespace korvane::test
