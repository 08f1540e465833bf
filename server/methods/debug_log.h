// The debug log: the sink the methods write to, and its file handling (one line appended
// through a fresh scripting file-system object, late-bound, with every error swallowed).
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <initializer_list>
#include <string>
#include <string_view>

namespace korvane::server::methods {

// Where a method's log lines go: `_debug.log` beside the server, while the object's switch is
// set. The switch is read at every line, so a client that changes it while a call waits decides
// the call's later lines.
class DebugLog {
 public:
  explicit DebugLog(const VARIANT_BOOL* isDebug) : isDebug_(isDebug) {}

  // Appends one line, the pieces joined into one message. Never fails the call: a line that
  // cannot be composed or written is dropped, so logging never costs a result.
  void Write(std::initializer_list<std::wstring_view> pieces) const noexcept;

  // Whether lines are written now (also asked before a line that costs work to find out).
  bool enabled() const noexcept { return *isDebug_ != VARIANT_FALSE; }

 private:
  const VARIANT_BOOL* isDebug_;
};

// Appends `line` and a CR LF to the 8-bit text file at `path`, creating the file when it is
// missing. A step that fails is abandoned and the next one is tried; nothing is reported.
void AppendLogLine(const std::wstring& path, std::wstring_view line) noexcept;

}  // namespace korvane::server::methods
