// Helpers for tests that run under Wine: temporary folders, files and child programs, reporting
// failures to GoogleTest (files_and_processes.h holds what the benchmarks share).
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/win/ansi_text.h"
#include "common/win/unique_handle.h"
#include "testing/support/files_and_processes.h"

namespace korvane::test {

// A fresh, empty folder below %TEMP% that is deleted with everything in it when the object dies.
class TempDir {
 public:
  explicit TempDir(std::wstring_view hint = L"kt");
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::wstring& path() const { return path_; }
  // The path of a name inside the folder.
  std::wstring operator/(std::wstring_view name) const;

 private:
  std::wstring path_;
};

std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, std::string_view bytes);
void CopyFileOrFail(const std::wstring& from, const std::wstring& to);
// Rewrites the machine type in a program's or library's header, as if it were built for another.
void SetMachine(const std::wstring& path, uint16_t machine);
// A file of `size` bytes whose content was never written (sparse where the volume allows it).
void WriteSizedFile(const std::wstring& path, uint64_t size);
// Replaces the access list of a file or folder with the one `sddl` ("D:...") spells, as a whole:
// Wine's SetNamedSecurityInfoW would mix the parent folder's entries in. Wine keeps the list as
// the file's Unix mode: what Everyone may do is kept, the owner's write right is not taken away.
void SetAccessList(const std::wstring& path, const std::wstring& sddl);

struct ProcessResult {
  bool started = false;
  DWORD startError = 0;
  uint32_t exitCode = 0;  // the full 32-bit Windows exit code
  std::string output;     // standard output and error, as bytes
};

// Starts a command line without a window, its standard output and error going to the file
// `outputPath` (created afresh), and returns the process (invalid, with a test failure, when it
// cannot be started). The caller waits for it.
win::UniqueHandle StartWithOutputFile(const std::wstring& commandLine,
                                      const std::wstring& outputPath);

// Runs a command line hidden, with output captured, in `cwd` (or the current folder) and waits
// at most `timeoutMs` (the child is killed and the test fails past it).
ProcessResult RunProcess(const std::wstring& commandLine, const std::wstring& cwd = L"",
                         DWORD timeoutMs = 60000);

// The messages of the server's debug-log lines in `log`: what follows "<prefix><time stamp>; ".
// A message may span several physical lines (captured output ends in CR LF); text that is no
// log line comes back whole with "!!" in front, so it shows in a comparison.
std::vector<std::string> LogMessages(std::string_view log);

// Error information on this thread as an earlier failure leaves it, so that a test can see a call
// not pass it on to its client.
void LeaveStaleErrorInfo();
// Takes this thread's error information: its description, or none when there is none.
std::optional<std::wstring> TakeErrorDescription();

// Text conversions of the product's own helpers (win/ansi_text.h), under the tests' short names.
inline std::wstring Widen(std::string_view text, UINT codePage = CP_ACP) {
  return win::FromAnsi(text, codePage);
}
// For messages and comparisons: what the code page lacks comes out as U+XXXX.
inline std::string Narrow(std::wstring_view text, UINT codePage = CP_ACP) {
  return win::ToAnsi(win::MarkUncarried(text, codePage), codePage).bytes;
}

}  // namespace korvane::test
