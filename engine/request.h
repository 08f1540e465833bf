// What one engine command asks for, read from its arguments.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvane::engine {

enum class Format { kHtml, kText };
enum class LineEnding { kCrlf, kLf };

struct Request {
  Format format = Format::kHtml;
  LineEnding eol = LineEnding::kCrlf;
  std::string inPath;
  std::string outPath;  // always set: the default is filled in when none was given
};

struct ParsedRequest {
  bool ok = false;
  Request request;
  std::string error;  // why the arguments were refused, when !ok
};

// Reads `[options] <in-file> [<out-file>]`. Options come first; "--" ends them so that a file
// name may start with "-". Option names and values are case-insensitive.
ParsedRequest ParseRequest(const std::vector<std::string>& args);

// The output file used when none is given: the input's extension replaced by ".html" (or
// ".out.html" when the input already is ".html"), or by ".out.txt" for text output, so that
// the default never names the input file itself.
std::string DefaultOutputPath(std::string_view inPath, Format format);

}  // namespace korvane::engine
