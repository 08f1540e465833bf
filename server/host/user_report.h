// One line for the person or script that ran a registration switch. The server is a program
// without a console and must never show a message box (it would stall unattended installs),
// so the line goes to the standard output it inherited, or else to its parent's console.
#pragma once

#include <string_view>

namespace korvane::server::host {

void TellUser(std::wstring_view line);

}  // namespace korvane::server::host
