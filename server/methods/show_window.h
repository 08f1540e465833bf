// The show-window code a client passes as a 32-bit integer must fit the 16-bit field of the
// process start-up record.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

namespace korvane::server::methods {

// The value narrowed to 16 bits, or nothing when it lies outside -32768..32767 (the caller then
// fails with the overflow error).
std::optional<int16_t> NarrowShowWindow(LONG value);

// The 16-bit pattern stored in STARTUPINFO.wShowWindow (-1 becomes 0xFFFF).
inline WORD ShowWindowField(int16_t narrowed) { return static_cast<WORD>(narrowed); }

}  // namespace korvane::server::methods
