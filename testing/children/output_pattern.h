// The bytes the test child writes for "bytes <n>": lines of 100 printable bytes ending in CR LF,
// varying from line to line, so that a lost, doubled or reordered read shows.
#pragma once

#include <cstdint>
#include <string>

namespace korvane::test {

inline char PatternByte(uint64_t index) {
  uint64_t column = index % 100;
  if (column == 98) return '\r';
  if (column == 99) return '\n';
  return static_cast<char>('a' + (index / 100 + column) % 26);
}

inline std::string PatternBytes(uint64_t from, uint64_t count) {
  std::string bytes(static_cast<size_t>(count), '\0');
  for (uint64_t i = 0; i < count; ++i) bytes[static_cast<size_t>(i)] = PatternByte(from + i);
  return bytes;
}

}  // namespace korvane::test
