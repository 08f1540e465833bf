// The engine's pure parts: splitting its command line, reading options, converting text.
#include <gtest/gtest.h>

#include <optional>

#include "engine/command_line.h"
#include "engine/convert.h"
#include "engine/request.h"

namespace korvane::engine {
namespace {

using Args = std::vector<std::string>;

TEST(EngineArguments, SplitsAtUnquotedBlanksDropsTheQuotesAndRefusesOneLeftOpen) {
  const std::pair<const char*, std::optional<Args>> rows[] = {
      {"\"in.pdf\" \"out.txt\" ", Args{"in.pdf", "out.txt"}},
      {"  a\tb  c ", Args{"a", "b", "c"}},
      {"\"a b\" ", Args{"a b"}},
      {"a\"b c\"d", Args{"ab cd"}},
      {"", Args()},
      {"   ", Args()},
      {"\"\" \"x\" ", Args{"", "x"}},  // empty arguments are kept
      // No escapes: a folder path that ends in a backslash keeps it, and the quote still closes.
      {"\"C:\\out dir\\\" \"b\" ", Args{"C:\\out dir\\", "b"}},
      {"a\\\\\"b c\"", Args{"a\\\\b c"}},
      {"\"in.txt", std::nullopt},
      // How quandrelcmd joins an argument that holds a quote (a"b): three quotes, one left open.
      {"\"a\"b\" ", std::nullopt},
  };
  for (const auto& [line, args] : rows) EXPECT_EQ(SplitArguments(line), args) << line;
}

TEST(EngineArguments, SkipsTheProgramNameByThePlatformRule) {
  EXPECT_EQ(SkipProgramName("\"C:\\my tools\\quandrel.dll\" -to text a.txt"), " -to text a.txt");
  EXPECT_EQ(SkipProgramName("quandrel.dll a.txt"), " a.txt");
  EXPECT_EQ(SkipProgramName("quandrel.dll"), "");
  EXPECT_EQ(SkipProgramName("\"unclosed name"), "");
  EXPECT_EQ(SkipProgramName(""), "");
}

TEST(EngineRequest, ReadsOptionsAndFilesWhoseNamesEndTheOptions) {
  struct Row {
    Args args;
    Format format;
    LineEnding eol;
    std::string in, out;
  };
  // clang-format off
  const Row rows[] = {
      {{"-TO", "Text", "-eol", "lf", "in.txt", "out.txt"}, Format::kText, LineEnding::kLf, "in.txt", "out.txt"},
      {{"in.txt"}, Format::kHtml, LineEnding::kCrlf, "in.txt", "in.html"},
      {{"--", "-odd.txt"}, Format::kHtml, LineEnding::kCrlf, "-odd.txt", "-odd.html"},
      {{"in.txt", "-out.html"}, Format::kHtml, LineEnding::kCrlf, "in.txt", "-out.html"},
      {{"-", "out.html"}, Format::kHtml, LineEnding::kCrlf, "-", "out.html"},  // a lone dash is a name
  };
  // clang-format on
  for (const Row& row : rows) {
    ParsedRequest parsed = ParseRequest(row.args);
    ASSERT_TRUE(parsed.ok) << ::testing::PrintToString(row.args) << ": " << parsed.error;
    EXPECT_EQ(parsed.request.format, row.format);
    EXPECT_EQ(parsed.request.eol, row.eol);
    EXPECT_EQ(parsed.request.inPath, row.in);
    EXPECT_EQ(parsed.request.outPath, row.out);
  }
}

TEST(EngineRequest, RefusesBadUsage) {
  const Args bad[] = {
      {},                        // no input
      {"-to", "html"},           // options only
      {"-to"},                   // option without value
      {"-to", "pdf", "in.txt"},  // unknown format
      {"-eol", "cr", "in.txt"},  // unknown line ending
      {"-x", "1", "in.txt"},     // unknown option
      {"a.txt", "b.html", "c"},  // too many files
      {""},                      // empty input name
      {"in.txt", ""},            // empty output name
  };
  for (const Args& args : bad) {
    ParsedRequest parsed = ParseRequest(args);
    EXPECT_FALSE(parsed.ok) << ::testing::PrintToString(args);
    EXPECT_FALSE(parsed.error.empty());
  }
}

TEST(EngineRequest, DefaultOutputNeverNamesTheInput) {
  EXPECT_EQ(DefaultOutputPath("in.txt", Format::kHtml), "in.html");
  EXPECT_EQ(DefaultOutputPath("C:\\a.b\\notes", Format::kHtml), "C:\\a.b\\notes.html");
  EXPECT_EQ(DefaultOutputPath("dir/.profile", Format::kHtml), "dir/.profile.html");
  EXPECT_EQ(DefaultOutputPath("page.HTML", Format::kHtml), "page.out.html");
  EXPECT_EQ(DefaultOutputPath("in.txt", Format::kText), "in.out.txt");
  EXPECT_EQ(DefaultOutputPath("x.out.txt", Format::kText), "x.out.out.txt");
}

TEST(EngineConvert, TextNormalisesEveryKindOfLineBreakAndPassesOtherBytesThrough) {
  const std::string other("x\0y\xe9\t<&>\n", 8);
  const struct {
    std::string in;
    LineEnding eol;
    std::string bytes;
    size_t lines;
  } rows[] = {
      {"a\r\nb\nc\rd", LineEnding::kLf, "a\nb\nc\nd", 4},
      {"a\nb\n", LineEnding::kCrlf, "a\r\nb\r\n", 2},
      // Empty lines are lines; "\r\r\n" is a lone CR then a CR LF.
      {"\n\r\r\nx", LineEnding::kCrlf, "\r\n\r\n\r\nx", 4},
      {"", LineEnding::kCrlf, "", 0},
      {other, LineEnding::kLf, other, 1},
  };
  for (const auto& row : rows) {
    Converted out = ConvertDocument(row.in, Format::kText, row.eol, "t", "windows-1252");
    EXPECT_EQ(out.bytes, row.bytes) << ::testing::PrintToString(row.in);
    EXPECT_EQ(out.lines, row.lines) << ::testing::PrintToString(row.in);
  }
}

TEST(EngineConvert, HtmlEscapesAndKeepsLines) {
  Converted out = ConvertDocument("a < b & \"c\" > d\n\ncaf\xe9", Format::kHtml, LineEnding::kLf,
                                  "x<y>.txt", "windows-1252");
  EXPECT_EQ(out.lines, 3u);
  EXPECT_EQ(out.bytes,
            "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"windows-1252\">\n"
            "<title>x&lt;y&gt;.txt</title>\n</head>\n<body>\n<pre>\n"
            "a &lt; b &amp; &quot;c&quot; &gt; d\n\ncaf\xe9\n"
            "</pre>\n</body>\n</html>\n");
}

}  // namespace
}  // namespace korvane::engine
