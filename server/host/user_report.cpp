#include "server/host/user_report.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "common/win/ansi_text.h"
#include "common/win/unique_handle.h"

namespace korvane::server::host {

namespace {

bool WriteToConsole(HANDLE console, const std::wstring& text) {
  DWORD written = 0;
  return ::WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written,
                         nullptr) != FALSE;
}

// A pipe or a file gets 8-bit text in the ANSI code page, as console programs write it; what
// the code page lacks (a folder's name, say) is shown as U+XXXX, never as a look-alike.
bool WriteAsAnsi(HANDLE file, const std::wstring& text) {
  const win::AnsiText ansi = win::ToAnsi(win::MarkUncarried(text));
  DWORD written = 0;
  return ansi.ok() && ::WriteFile(file, ansi.bytes.data(), static_cast<DWORD>(ansi.bytes.size()),
                                  &written, nullptr) != FALSE;
}

}  // namespace

void TellUser(std::wstring_view line) {
  const std::wstring text = std::wstring(line) + L"\r\n";
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE) {
    DWORD mode = 0;
    bool written =
        ::GetConsoleMode(out, &mode) ? WriteToConsole(out, text) : WriteAsAnsi(out, text);
    if (written) return;
  }
  if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return;  // nobody to tell
  win::UniqueHandle console(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
  if (console) WriteToConsole(console.get(), text);
  ::FreeConsole();
}

std::wstring HexCode(HRESULT hr) {
  wchar_t text[16];
  std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

}  // namespace korvane::server::host
