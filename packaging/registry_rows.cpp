// Prints the registry rows of a registration for the installer packages: the plan /RegServer
// writes (server/host/registration.*), for an executable in the package's install folder.
//
//   korvane_registry_rows.exe <win32|win64>
//
// One row per line, tab-separated, UTF-8:
//   <where> <key below Software\Classes> <value name, empty for the default> <sz|binary> <data>
// where "every" rows go into each registry view, "machine" rows (the AppID) only into a
// machine-wide installation's views, and "typelib" rows into the view of the server's bitness.
// Texts name the folder as [INSTALLDIR], the installer's property; binary data is in hex.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/win/ansi_text.h"
#include "server/host/registration.h"

namespace {

using korvane::server::host::RegistryRow;

constexpr wchar_t kPlaceholderFolder[] = L"C:\\KORVANE-INSTALLDIR\\";

std::wstring WithInstallDir(std::wstring text) {
  const std::wstring placeholder = kPlaceholderFolder;
  for (size_t at; (at = text.find(placeholder)) != std::wstring::npos;) {
    text.replace(at, placeholder.size(), L"[INSTALLDIR]");
  }
  return text;
}

bool SameRow(const RegistryRow& a, const RegistryRow& b) {
  const std::wstring aName = a.valueName ? a.valueName : L"";
  const std::wstring bName = b.valueName ? b.valueName : L"";
  return a.key == b.key && aName == bName;
}

void Print(const wchar_t* where, const RegistryRow& row) {
  std::wstring line =
      std::wstring(where) + L"\t" + row.key + L"\t" + (row.valueName ? row.valueName : L"") + L"\t";
  if (row.binary.empty()) {
    line += L"sz\t" + WithInstallDir(row.text);
  } else {
    line += L"binary\t";
    for (BYTE b : row.binary) {
      wchar_t hex[3];
      swprintf(hex, 3, L"%02X", b);
      line += hex;
    }
  }
  const korvane::win::AnsiText bytes = korvane::win::ToAnsi(line + L"\n", CP_UTF8);
  if (!bytes.ok()) {
    std::fputs("korvane_registry_rows: a row cannot be written as UTF-8\n", stderr);
    std::exit(1);
  }
  std::fwrite(bytes.bytes.data(), 1, bytes.bytes.size(), stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring platform = argc == 2 ? argv[1] : L"";
  if (platform != L"win32" && platform != L"win64") {
    std::fputs("usage: korvane_registry_rows <win32|win64>\n", stderr);
    return 2;
  }
  const std::wstring exe = std::wstring(kPlaceholderFolder) + L"QuandrelCom.exe";
  korvane::server::host::RegistrationPlan perUser;
  korvane::server::host::RegistrationPlan machine;
  HRESULT hr = korvane::server::host::PlanRegistration(exe, false, platform, &perUser);
  if (SUCCEEDED(hr)) hr = korvane::server::host::PlanRegistration(exe, true, platform, &machine);
  if (FAILED(hr)) {
    std::fprintf(stderr, "korvane_registry_rows: 0x%08lX\n", static_cast<unsigned long>(hr));
    return 1;
  }
  // What a machine-wide plan adds to a per-user one is the machine's alone.
  for (const RegistryRow& row : machine.everyView) {
    bool everyScope = false;
    for (const RegistryRow& shared : perUser.everyView)
      everyScope = everyScope || SameRow(row, shared);
    Print(everyScope ? L"every" : L"machine", row);
  }
  for (const RegistryRow& row : machine.typeLibView) Print(L"typelib", row);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
