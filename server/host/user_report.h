// One line for the person or script that ran a registration switch. The server is a program
// without a console and must never show a message box (it would stall unattended installs),
// so the line goes to the standard output it inherited, or else to its parent's console.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace korvane::server::host {

void TellUser(std::wstring_view line);

// An error code as the user reads it in these lines: "0x80070005".
std::wstring HexCode(HRESULT hr);

}  // namespace korvane::server::host
