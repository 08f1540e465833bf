// Conversions between UTF-16 and 8-bit text: by default the process's ANSI code page, the form in
// which text crosses to the engine and to child processes.
//
// Text leaves the wide world through ToAnsi only, which is exact or refuses. The platform's
// standard conversion writes a character that the code page lacks as a look-alike that it has
// (a fullwidth quote as '"', a yen sign as '\' in Japanese): a look-alike can change how a command
// line splits or which file it names, so it must never reach a child or the engine.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/win/unique_bstr.h"

namespace korvane::win {

// A character that a code page cannot carry exactly, and where it stands in the text.
struct UncarriedCharacter {
  size_t index = 0;        // in UTF-16 units, from 0
  char32_t codePoint = 0;  // a lone surrogate as its own value
  UINT codePage = 0;       // the code page asked for, CP_ACP resolved

  // "U+FF02 at position 13 has no exact form in code page 1252" (position counted from 1, in
  // UTF-16 units, as automation clients count characters).
  std::wstring Describe() const;
};

// The 8-bit text, or the first character that stopped it.
struct AnsiText {
  std::string bytes;
  std::optional<UncarriedCharacter> refused;

  bool ok() const { return !refused; }
};

// UTF-16 to 8-bit text exactly: every character maps to the code page's own form of it and back
// again, or nothing is converted and the first character that does not is named. A NUL is refused
// too: the text reaches its reader zero-terminated, so everything after it would be lost.
// UTF-8 (also as the ANSI code page) refuses only lone surrogates (and NUL). Any length.
[[nodiscard]] AnsiText ToAnsi(std::wstring_view text, UINT codePage = CP_ACP);

// The first character ToAnsi would refuse, without making the 8-bit text.
[[nodiscard]] std::optional<UncarriedCharacter> FindUncarried(std::wstring_view text,
                                                              UINT codePage = CP_ACP);

// `text` with every character ToAnsi would refuse written as "U+XXXX", for a reader (a log, a
// message) who must see what was there rather than a look-alike.
[[nodiscard]] std::wstring MarkUncarried(std::wstring_view text, UINT codePage = CP_ACP);

// Whether `bytes` are text in the code page: each byte (or double-byte pair) a character that the
// page defines, none cut off at the end. Bytes that are not (binary output, some UTF-8 under a
// double-byte code page) still convert below, each to a replacement that does not give it back.
[[nodiscard]] bool IsWholeText(std::string_view bytes, UINT codePage = CP_ACP);

// How many of the leading bytes, at most `limit`, end on a character boundary: a lead byte is not
// split from its trail byte, nor a UTF-8 sequence (where text too long for one conversion call is
// cut).
size_t CharacterBoundaryWithin(std::string_view bytes, size_t limit, UINT codePage = CP_ACP);

// 8-bit text to UTF-16. A multi-byte character must not be split across two calls.
std::wstring FromAnsi(std::string_view bytes, UINT codePage = CP_ACP);

// 8-bit text straight into an automation string, converted once, as a whole (a multi-byte
// character split between two reads of a pipe joins up), without an intermediate copy. Null when
// the string cannot be allocated.
UniqueBstr BstrFromAnsi(std::string_view bytes, UINT codePage = CP_ACP);

}  // namespace korvane::win
