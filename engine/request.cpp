#include "engine/request.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <utility>

namespace korvane::engine {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Sets `out` to the choice whose name is `value` (in any case); false when none is.
template <typename T>
bool Choose(std::string_view value, std::initializer_list<std::pair<std::string_view, T>> choices,
            T& out) {
  for (const auto& [name, choice] : choices) {
    if (EqualsNoCase(value, name)) {
      out = choice;
      return true;
    }
  }
  return false;
}

ParsedRequest Refuse(std::string why) {
  ParsedRequest parsed;
  parsed.error = std::move(why);
  return parsed;
}

}  // namespace

ParsedRequest ParseRequest(const std::vector<std::string>& args) {
  ParsedRequest parsed;
  Request& request = parsed.request;
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') break;
    if (arg == "--") {
      ++i;
      break;
    }
    if (i + 1 == args.size()) return Refuse("option " + arg + " needs a value");
    const std::string& value = args[++i];
    if (EqualsNoCase(arg, "-to")) {
      if (!Choose(value, {{"html", Format::kHtml}, {"text", Format::kText}}, request.format))
        return Refuse("unknown output format '" + value + "' (html or text)");
    } else if (EqualsNoCase(arg, "-eol")) {
      if (!Choose(value, {{"crlf", LineEnding::kCrlf}, {"lf", LineEnding::kLf}}, request.eol))
        return Refuse("unknown line ending '" + value + "' (crlf or lf)");
    } else {
      return Refuse("unknown option " + arg);
    }
  }
  size_t positional = args.size() - i;
  if (positional == 0) return Refuse("no input file given");
  if (positional > 2) return Refuse("too many arguments: " + args[i + 2]);
  if (args[i].empty()) return Refuse("the input file name is empty");
  request.inPath = args[i];
  if (positional == 2) {
    if (args[i + 1].empty()) return Refuse("the output file name is empty");
    request.outPath = args[i + 1];
  } else {
    request.outPath = DefaultOutputPath(request.inPath, request.format);
  }
  parsed.ok = true;
  return parsed;
}

std::string DefaultOutputPath(std::string_view inPath, Format format) {
  size_t nameStart = inPath.find_last_of("\\/:");
  nameStart = nameStart == std::string_view::npos ? 0 : nameStart + 1;
  size_t dot = inPath.rfind('.');
  // A dot that opens the name (".profile") or sits in a folder name is not an extension.
  bool hasExtension = dot != std::string_view::npos && dot > nameStart;
  std::string_view stem = hasExtension ? inPath.substr(0, dot) : inPath;
  std::string_view extension = hasExtension ? inPath.substr(dot) : std::string_view();
  std::string out(stem);
  if (format == Format::kText)
    out += ".out.txt";
  else if (EqualsNoCase(extension, ".html"))
    out += ".out.html";
  else
    out += ".html";
  return out;
}

}  // namespace korvane::engine
