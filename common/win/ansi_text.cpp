#include "common/win/ansi_text.h"

#include <windows.h>

#include <climits>
#include <cwchar>

namespace korvane::win {

namespace {

// Exactness is checked a piece at a time, so that a long text needs only small scratch buffers;
// a piece never ends inside a surrogate pair.
constexpr size_t kPiece = 8192;

UINT ResolvedCodePage(UINT codePage) {
  switch (codePage) {
    case CP_ACP:
      return ::GetACP();
    case CP_OEMCP:
      return ::GetOEMCP();
    default:
      return codePage;
  }
}

size_t PieceEnd(std::wstring_view text, size_t from, size_t length) {
  size_t end = from + length < text.size() ? from + length : text.size();
  if (end < text.size() && end > from && IS_HIGH_SURROGATE(text[end - 1])) --end;
  return end;
}

// One character: a surrogate pair, or a single unit (a lone surrogate included).
size_t CharacterLength(std::wstring_view text, size_t at) {
  return at + 1 < text.size() && IS_HIGH_SURROGATE(text[at]) && IS_LOW_SURROGATE(text[at + 1]) ? 2
                                                                                               : 1;
}

char32_t CodePointAt(std::wstring_view text, size_t at) {
  if (CharacterLength(text, at) == 2)
    return 0x10000 + ((static_cast<char32_t>(text[at]) - 0xD800) << 10) +
           (static_cast<char32_t>(text[at + 1]) - 0xDC00);
  return text[at];
}

class ExactConverter {
 public:
  explicit ExactConverter(UINT codePage) : codePage_(ResolvedCodePage(codePage)) {
    // UTF-8 takes no best-fit flag and no default character; there an unpaired surrogate is what
    // cannot be carried, and WC_ERR_INVALID_CHARS refuses it.
    flags_ = codePage_ == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  }
  UINT codePage() const { return codePage_; }

  // Converts `piece` (at most kPiece units) into the scratch bytes; false when it is not carried
  // exactly. The round trip catches what the flags alone may not: code pages that refuse the
  // flags, and mappings that do not come back to the same character.
  bool Convert(std::wstring_view piece) {
    bytes_.clear();
    if (piece.empty()) return true;
    if (std::wmemchr(piece.data(), L'\0', piece.size()) != nullptr) return false;
    const int in = static_cast<int>(piece.size());
    BOOL usedDefault = FALSE;
    int n = Call(piece, in, nullptr, 0, &usedDefault);
    if (n <= 0 || usedDefault) return false;
    bytes_.resize(static_cast<size_t>(n));
    n = Call(piece, in, bytes_.data(), n, &usedDefault);
    if (n <= 0 || usedDefault) return false;
    bytes_.resize(static_cast<size_t>(n));
    const int back = ::MultiByteToWideChar(codePage_, 0, bytes_.data(), n, nullptr, 0);
    if (back != in) return false;
    wide_.resize(static_cast<size_t>(back));
    ::MultiByteToWideChar(codePage_, 0, bytes_.data(), n, wide_.data(), back);
    return std::wstring_view(wide_) == piece;
  }
  const std::string& bytes() const { return bytes_; }

  // The first character of `text[from, end)` that does not convert on its own; `from` when every
  // one does (a code page whose mapping depends on the neighbours).
  UncarriedCharacter Locate(std::wstring_view text, size_t from, size_t end) {
    for (size_t at = from; at < end;) {
      const size_t length = CharacterLength(text, at);
      if (!Convert(text.substr(at, length))) return Describe(text, at);
      at += length;
    }
    return Describe(text, from);
  }

 private:
  int Call(std::wstring_view piece, int in, char* out, int size, BOOL* usedDefault) {
    if (flags_ == WC_ERR_INVALID_CHARS)
      return ::WideCharToMultiByte(codePage_, flags_, piece.data(), in, out, size, nullptr,
                                   nullptr);
    int n =
        ::WideCharToMultiByte(codePage_, flags_, piece.data(), in, out, size, nullptr, usedDefault);
    if (n == 0 && ::GetLastError() == ERROR_INVALID_FLAGS) {
      // A code page that takes no flags at all: the round trip alone decides.
      flags_ = 0;
      n = ::WideCharToMultiByte(codePage_, 0, piece.data(), in, out, size, nullptr, nullptr);
    }
    return n;
  }
  UncarriedCharacter Describe(std::wstring_view text, size_t at) const {
    return UncarriedCharacter{at, CodePointAt(text, at), codePage_};
  }

  UINT codePage_;
  DWORD flags_;
  std::string bytes_;
  std::wstring wide_;
};

wchar_t HexDigit(unsigned value) {
  return static_cast<wchar_t>(value < 10 ? L'0' + value : L'A' + (value - 10));
}

void AppendCodePointName(std::wstring& out, char32_t codePoint) {
  out += L"U+";
  int digits = codePoint > 0xFFFF ? (codePoint > 0xFFFFF ? 6 : 5) : 4;
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
    out += HexDigit(static_cast<unsigned>(codePoint >> shift) & 0xF);
}

}  // namespace

std::wstring UncarriedCharacter::Describe() const {
  std::wstring text;
  AppendCodePointName(text, codePoint);
  text += L" at position " + std::to_wstring(index + 1);
  text += codePoint == 0 ? std::wstring(L" would end the text there")
                         : L" has no exact form in code page " + std::to_wstring(codePage);
  return text;
}

AnsiText ToAnsi(std::wstring_view text, UINT codePage) {
  ExactConverter converter(codePage);
  AnsiText result;
  for (size_t from = 0; from < text.size();) {
    const size_t end = PieceEnd(text, from, kPiece);
    if (!converter.Convert(text.substr(from, end - from))) {
      result.refused = converter.Locate(text, from, end);
      result.bytes.clear();
      return result;
    }
    result.bytes += converter.bytes();
    from = end;
  }
  return result;
}

std::optional<UncarriedCharacter> FindUncarried(std::wstring_view text, UINT codePage) {
  ExactConverter converter(codePage);
  for (size_t from = 0; from < text.size();) {
    const size_t end = PieceEnd(text, from, kPiece);
    if (!converter.Convert(text.substr(from, end - from))) return converter.Locate(text, from, end);
    from = end;
  }
  return std::nullopt;
}

std::wstring MarkUncarried(std::wstring_view text, UINT codePage) {
  ExactConverter converter(codePage);
  std::wstring out;
  out.reserve(text.size());
  for (size_t from = 0; from < text.size();) {
    const size_t end = PieceEnd(text, from, kPiece);
    if (converter.Convert(text.substr(from, end - from))) {
      out.append(text.substr(from, end - from));
    } else {
      for (size_t at = from; at < end;) {
        const size_t length = CharacterLength(text, at);
        if (converter.Convert(text.substr(at, length)))
          out.append(text.substr(at, length));
        else
          AppendCodePointName(out, CodePointAt(text, at));
        at += length;
      }
    }
    from = end;
  }
  return out;
}

size_t CharacterBoundaryWithin(std::string_view bytes, size_t limit, UINT codePage) {
  size_t take = bytes.size() < limit ? bytes.size() : limit;
  if (take == bytes.size()) return take;
  if (ResolvedCodePage(codePage) == CP_UTF8) {
    // A character has at most three continuation bytes; more are not text anyway.
    for (int back = 0; back < 3 && (static_cast<BYTE>(bytes[take]) & 0xC0) == 0x80; ++back) --take;
    return take;
  }
  size_t cut = take;
  while (cut > 0 && ::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[cut - 1]))) --cut;
  if ((take - cut) % 2 == 1) --take;
  return take;
}

namespace {

// How much of `bytes` one conversion call takes.
size_t BytesPiece(std::string_view bytes, UINT codePage) {
  return CharacterBoundaryWithin(bytes, INT_MAX / 2, codePage);
}

}  // namespace

bool IsWholeText(std::string_view bytes, UINT codePage) {
  while (!bytes.empty()) {
    const size_t take = BytesPiece(bytes, codePage);
    if (::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(take),
                              nullptr, 0) == 0)
      return false;
    bytes.remove_prefix(take);
  }
  return true;
}

std::wstring FromAnsi(std::string_view bytes, UINT codePage) {
  std::wstring out;
  while (!bytes.empty()) {
    const size_t take = BytesPiece(bytes, codePage);
    int in = static_cast<int>(take);
    int n = ::MultiByteToWideChar(codePage, 0, bytes.data(), in, nullptr, 0);
    size_t at = out.size();
    out.resize(at + n);
    ::MultiByteToWideChar(codePage, 0, bytes.data(), in, out.data() + at, n);
    bytes.remove_prefix(take);
  }
  return out;
}

UniqueBstr BstrFromAnsi(std::string_view bytes, UINT codePage) {
  // Past what one conversion call takes, the piecewise conversion above.
  if (bytes.size() > static_cast<size_t>(INT_MAX / 2)) return UniqueBstr(FromAnsi(bytes, codePage));
  const int size = static_cast<int>(bytes.size());
  const int chars =
      size == 0 ? 0 : ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  UniqueBstr text(::SysAllocStringLen(nullptr, static_cast<UINT>(chars)));
  if (text.get() != nullptr && chars > 0)
    ::MultiByteToWideChar(codePage, 0, bytes.data(), size, text.get(), chars);
  return text;
}

}  // namespace korvane::win
