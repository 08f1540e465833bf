// The conversion itself, on bytes in memory: no files, no state.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/request.h"

namespace korvane::engine {

struct Converted {
  std::string bytes;
  size_t lines = 0;  // lines of the input; a final line without a line break counts too
};

// Converts plain 8-bit text. Lines end at CR LF, LF or a lone CR; every line break of the output
// is `eol`. Text output keeps the lines as they are and, like the input, ends with a line break
// only when the input did. HTML output is a complete page: `title` (the input's file name) in the
// head, the lines inside <pre> with & < > " escaped, and `charset` declared, as the bytes are
// passed through unchanged in the code page they came in.
Converted ConvertDocument(std::string_view input, Format format, LineEnding eol,
                          std::string_view title, std::string_view charset);

// Appends `text` with & < > " replaced by their HTML entities.
void AppendHtmlEscaped(std::string& out, std::string_view text);

}  // namespace korvane::engine
