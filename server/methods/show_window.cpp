#include "server/methods/show_window.h"

namespace korvane::server::methods {

std::optional<int16_t> NarrowShowWindow(LONG value) {
  if (value < INT16_MIN || value > INT16_MAX) return std::nullopt;
  return static_cast<int16_t>(value);
}

}  // namespace korvane::server::methods
