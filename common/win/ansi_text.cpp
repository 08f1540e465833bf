#include "win/ansi_text.h"

#include <windows.h>

#include <climits>

namespace korvane::win {

std::string ToAnsi(std::wstring_view text, UINT codePage) {
  std::string out;
  while (!text.empty()) {
    // Chunks keep every count within an int; a surrogate pair is never cut.
    size_t take = text.size() < (INT_MAX / 4) ? text.size() : (INT_MAX / 4);
    if (take < text.size() && IS_HIGH_SURROGATE(text[take - 1])) --take;
    int in = static_cast<int>(take);
    int n = ::WideCharToMultiByte(codePage, 0, text.data(), in, nullptr, 0, nullptr, nullptr);
    size_t at = out.size();
    out.resize(at + n);
    ::WideCharToMultiByte(codePage, 0, text.data(), in, out.data() + at, n, nullptr, nullptr);
    text.remove_prefix(take);
  }
  return out;
}

std::wstring FromAnsi(std::string_view bytes, UINT codePage) {
  std::wstring out;
  while (!bytes.empty()) {
    size_t take = bytes.size() < (INT_MAX / 2) ? bytes.size() : (INT_MAX / 2);
    if (take < bytes.size()) {
      // Do not split a lead byte from its trail byte.
      size_t cut = take;
      while (cut > 0 && ::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[cut - 1]))) --cut;
      if ((take - cut) % 2 == 1) --take;
    }
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
