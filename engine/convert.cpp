#include "engine/convert.h"

#include <vector>

namespace korvane::engine {

namespace {

struct Lines {
  std::vector<std::string_view> lines;
  bool endsWithBreak = false;
};

Lines SplitLines(std::string_view input) {
  Lines result;
  size_t start = 0;
  for (size_t i = 0; i < input.size(); ++i) {
    if (input[i] != '\r' && input[i] != '\n') continue;
    result.lines.push_back(input.substr(start, i - start));
    if (input[i] == '\r' && i + 1 < input.size() && input[i + 1] == '\n') ++i;
    start = i + 1;
  }
  result.endsWithBreak = start == input.size() && !input.empty();
  if (start < input.size()) result.lines.push_back(input.substr(start));
  return result;
}

}  // namespace

void AppendHtmlEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
}

Converted ConvertDocument(std::string_view input, Format format, LineEnding eol,
                          std::string_view title, std::string_view charset) {
  const std::string_view br = eol == LineEnding::kCrlf ? "\r\n" : "\n";
  Lines split = SplitLines(input);
  Converted result;
  result.lines = split.lines.size();
  std::string& out = result.bytes;
  out.reserve(input.size() + input.size() / 8 + 256);

  if (format == Format::kText) {
    for (size_t i = 0; i < split.lines.size(); ++i) {
      out += split.lines[i];
      if (i + 1 < split.lines.size() || split.endsWithBreak) out += br;
    }
    return result;
  }

  for (std::string_view part : {"<!DOCTYPE html>", "<html>", "<head>"}) (out += part) += br;
  out += "<meta charset=\"";
  AppendHtmlEscaped(out, charset);
  (out += "\">") += br;
  out += "<title>";
  AppendHtmlEscaped(out, title);
  (out += "</title>") += br;
  for (std::string_view part : {"</head>", "<body>", "<pre>"}) (out += part) += br;
  for (std::string_view line : split.lines) {
    AppendHtmlEscaped(out, line);
    out += br;
  }
  for (std::string_view part : {"</pre>", "</body>", "</html>"}) (out += part) += br;
  return result;
}

}  // namespace korvane::engine
