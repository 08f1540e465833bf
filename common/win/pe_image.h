// What a Windows executable file's headers say, read from its bytes without loading it: its
// machine type, the names it exports and the libraries it needs. A file that cannot be loaded (the
// other bitness, a damaged copy) can still be described, which is what a self-check needs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::win {

enum class PeDefect {
  kNone,
  kNotAnImage,  // no MZ or PE signature: not a Windows program or library at all
  kTruncated,   // the headers, the export or the import table run past the end of the file
  kMalformed,   // an optional header or name tables that no linker writes (past the caps below)
};

struct PeImage {
  PeDefect defect = PeDefect::kNone;
  uint16_t machine = 0;  // IMAGE_FILE_MACHINE_*
  bool isDll = false;
  std::vector<std::string> exportNames;  // the export table's names, in its order
  // The libraries that its import table names, which the loader must find to load it (not the
  // ones it loads later, by delay-loading).
  std::vector<std::string> importNames;
};

// The most names' bytes read from one file, and the most names its tables may hold:
// far beyond any real library, and a crafted file cannot make the reader run out of memory or
// time.
inline constexpr size_t kMaxPeNameBytes = 16u << 20;
inline constexpr size_t kMaxPeImports = 4096;
inline constexpr uint32_t kMaxPeExports = 65536;  // ordinals are 16-bit

// Reads the file header, the optional header's export and import directories and their names.
[[nodiscard]] PeImage ReadPeImage(std::string_view bytes);

// "x86 (32-bit)", "x64 (64-bit)", "ARM64 (64-bit)", or the number for other machine types.
std::wstring MachineName(uint16_t machine);

}  // namespace korvane::win
