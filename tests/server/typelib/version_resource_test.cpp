// The version information of each built executable, read from the file as Explorer and
// installers read it (a 64-bit reader reads the 32-bit file too), against the checked-in dump
// version_resource.txt: every fixed field, string and translation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <sstream>
#include <string>
#include <vector>

#include "tests/server/typelib/built_servers.h"

namespace korvane::test {
namespace {

const BYTE* Aligned(const BYTE* at, const BYTE* base) { return base + ((at - base + 3) & ~3); }

void DumpFixed(const VS_FIXEDFILEINFO& f, std::ostream& out) {
  auto version = [](DWORD ms, DWORD ls) {
    return std::to_string(HIWORD(ms)) + "." + std::to_string(LOWORD(ms)) + "." +
           std::to_string(HIWORD(ls)) + "." + std::to_string(LOWORD(ls));
  };
  out << std::hex << "fixed signature 0x" << f.dwSignature << " struct 0x" << f.dwStrucVersion
      << "\nfixed file " << version(f.dwFileVersionMS, f.dwFileVersionLS) << " product "
      << version(f.dwProductVersionMS, f.dwProductVersionLS) << "\nfixed flags 0x" << f.dwFileFlags
      << " mask 0x" << f.dwFileFlagsMask << " os 0x" << f.dwFileOS << " type 0x" << f.dwFileType
      << " subtype 0x" << f.dwFileSubtype << " date 0x" << f.dwFileDateMS << " 0x" << f.dwFileDateLS
      << std::dec << "\n";
}

// One node of the version block (length, value length, type, key, value, children) and those
// below it, each as its path and its value: text quoted, binary as hex words.
void DumpNode(const BYTE* at, const BYTE* end, const BYTE* base, const std::string& parent,
              std::ostream& out) {
  const WORD* header = reinterpret_cast<const WORD*>(at);
  const BYTE* nodeEnd = std::min(end, at + header[0]);
  const wchar_t* key = reinterpret_cast<const wchar_t*>(at + 6);
  const size_t keyLength = wcsnlen(key, (nodeEnd - at - 6) / 2);
  const std::string path = parent + Narrow(std::wstring_view(key, keyLength));
  const BYTE* value = Aligned(at + 6 + 2 * (keyLength + 1), base);
  const size_t valueBytes = header[2] == 1 ? 2u * header[1] : header[1];
  if (parent.empty() && valueBytes >= sizeof(VS_FIXEDFILEINFO)) {
    DumpFixed(*reinterpret_cast<const VS_FIXEDFILEINFO*>(value), out);
  } else if (header[2] == 1 && (header[1] > 0 || Aligned(value, base) >= nodeEnd)) {
    std::wstring_view text(reinterpret_cast<const wchar_t*>(value), header[1]);
    out << path << " \"" << Narrow(text.substr(0, text.find(L'\0'))) << "\"\n";
  } else if (valueBytes > 0) {
    out << path << std::hex;
    for (size_t i = 0; i + 1 < valueBytes; i += 2)
      out << " 0x" << *reinterpret_cast<const WORD*>(value + i);
    out << std::dec << "\n";
  }
  for (const BYTE* child = Aligned(value + valueBytes, base);
       child + 6 <= nodeEnd && *reinterpret_cast<const WORD*>(child) > 0;
       child = Aligned(child + *reinterpret_cast<const WORD*>(child), base))
    DumpNode(child, nodeEnd, base, path + "\\", out);
}

std::string DumpVersionResource(const BuiltServer& server) {
  DWORD ignored = 0;
  DWORD size = ::GetFileVersionInfoSizeW(server.exe.c_str(), &ignored);
  EXPECT_GT(size, 0u) << "no version information, error " << ::GetLastError();
  std::vector<BYTE> block(size);
  if (size == 0 || !::GetFileVersionInfoW(server.exe.c_str(), 0, size, block.data())) return "";
  std::ostringstream out;
  DumpNode(block.data(), block.data() + size, block.data(), "", out);
  return out.str();
}

// The strings include OLESelfRegister, present and empty: installers take it as "this program
// registers itself".
TEST(BuiltServerDumps, VersionResource) { CheckDump("version_resource.txt", DumpVersionResource); }

}  // namespace
}  // namespace korvane::test
