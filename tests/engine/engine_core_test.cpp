// The engine's pure parts: splitting its command line, reading options, converting text.
#include <gtest/gtest.h>

#include "engine/command_line.h"
#include "engine/convert.h"
#include "engine/request.h"

namespace korvane::engine {
namespace {

using Args = std::vector<std::string>;

TEST(EngineArguments, SplitsAtUnquotedBlanksAndDropsTheQuotes) {
  EXPECT_EQ(SplitArguments("\"in.pdf\" \"out.txt\" "), Args({"in.pdf", "out.txt"}));
  EXPECT_EQ(SplitArguments("  a\tb  c "), Args({"a", "b", "c"}));
  EXPECT_EQ(SplitArguments("\"a b\" "), Args({"a b"}));
  EXPECT_EQ(SplitArguments("a\"b c\"d"), Args({"ab cd"}));
  EXPECT_EQ(SplitArguments(""), Args());
  EXPECT_EQ(SplitArguments("   "), Args());
}

TEST(EngineArguments, KeepsEmptyArgumentsAndTrailingBackslashes) {
  EXPECT_EQ(SplitArguments("\"\" \"x\" "), Args({"", "x"}));
  // No escapes: a folder path that ends in a backslash keeps it, and the quote still closes.
  EXPECT_EQ(SplitArguments("\"C:\\out dir\\\" \"b\" "), Args({"C:\\out dir\\", "b"}));
  EXPECT_EQ(SplitArguments("a\\\\\"b c\""), Args({"a\\\\b c"}));
}

TEST(EngineArguments, RefusesAQuoteLeftOpen) {
  EXPECT_FALSE(SplitArguments("\"in.txt"));
  // How quandrelcmd joins an argument that holds a quote (a"b): three quotes, one left open.
  EXPECT_FALSE(SplitArguments("\"a\"b\" "));
}

TEST(EngineArguments, SkipsTheProgramNameByThePlatformRule) {
  EXPECT_EQ(SkipProgramName("\"C:\\my tools\\quandrel.dll\" -to text a.txt"), " -to text a.txt");
  EXPECT_EQ(SkipProgramName("quandrel.dll a.txt"), " a.txt");
  EXPECT_EQ(SkipProgramName("quandrel.dll"), "");
  EXPECT_EQ(SkipProgramName("\"unclosed name"), "");
  EXPECT_EQ(SkipProgramName(""), "");
}

TEST(EngineRequest, ReadsOptionsAndFiles) {
  ParsedRequest parsed = ParseRequest({"-TO", "Text", "-eol", "lf", "in.txt", "out.txt"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.request.format, Format::kText);
  EXPECT_EQ(parsed.request.eol, LineEnding::kLf);
  EXPECT_EQ(parsed.request.inPath, "in.txt");
  EXPECT_EQ(parsed.request.outPath, "out.txt");

  parsed = ParseRequest({"in.txt"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.request.format, Format::kHtml);
  EXPECT_EQ(parsed.request.eol, LineEnding::kCrlf);
  EXPECT_EQ(parsed.request.outPath, "in.html");
}

TEST(EngineRequest, OptionsEndAtTheFirstFileOrAtDoubleDash) {
  ParsedRequest parsed = ParseRequest({"--", "-odd.txt"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.request.inPath, "-odd.txt");
  parsed = ParseRequest({"in.txt", "-out.html"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.request.outPath, "-out.html");
  parsed = ParseRequest({"-", "out.html"});  // a lone dash is a name
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.request.inPath, "-");
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

Converted Text(std::string_view in, LineEnding eol) {
  return ConvertDocument(in, Format::kText, eol, "t", "windows-1252");
}

TEST(EngineConvert, TextNormalisesEveryKindOfLineBreak) {
  Converted out = Text("a\r\nb\nc\rd", LineEnding::kLf);
  EXPECT_EQ(out.bytes, "a\nb\nc\nd");
  EXPECT_EQ(out.lines, 4u);
  out = Text("a\nb\n", LineEnding::kCrlf);
  EXPECT_EQ(out.bytes, "a\r\nb\r\n");
  EXPECT_EQ(out.lines, 2u);
  // Empty lines are lines; "\r\r\n" is a lone CR then a CR LF.
  out = Text("\n\r\r\nx", LineEnding::kCrlf);
  EXPECT_EQ(out.bytes, "\r\n\r\n\r\nx");
  EXPECT_EQ(out.lines, 4u);
  out = Text("", LineEnding::kCrlf);
  EXPECT_EQ(out.bytes, "");
  EXPECT_EQ(out.lines, 0u);
}

TEST(EngineConvert, TextPassesOtherBytesThrough) {
  std::string in("x\0y\xe9\t<&>\n", 8);
  EXPECT_EQ(Text(in, LineEnding::kLf).bytes, in);
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
