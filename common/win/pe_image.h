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

// A library that an import table names, with the functions taken from it by name (those taken
// by ordinal are not listed).
struct PeImport {
  std::string library;
  std::vector<std::string> functions;
  bool operator==(const PeImport& other) const {
    return library == other.library && functions == other.functions;
  }
};

struct PeImage {
  PeDefect defect = PeDefect::kNone;
  uint16_t machine = 0;  // IMAGE_FILE_MACHINE_*
  bool isDll = false;
  std::vector<std::string> exportNames;  // the export table's names, in its order
  // What its import table names, which the loader must find to load it (not what it loads
  // later, by delay-loading).
  std::vector<PeImport> imports;
};

// The most names' bytes read from one file, and the most names its tables may hold:
// far beyond any real library, and a crafted file cannot make the reader run out of memory or
// time.
inline constexpr size_t kMaxPeNameBytes = 16u << 20;
inline constexpr size_t kMaxPeImports = 4096;                // libraries
inline constexpr size_t kMaxPeImportedFunctions = 1u << 20;  // entries, ordinals included
inline constexpr uint32_t kMaxPeExports = 65536;             // ordinals are 16-bit

// Reads the file header, the optional header's export and import directories and their names.
// The loader takes the names of an import from its lookup table, or from its address table where
// there is none; an old bound import without a lookup table holds addresses there, so its
// functions are not listed.
[[nodiscard]] PeImage ReadPeImage(std::string_view bytes);

// "x86 (32-bit)", "x64 (64-bit)", "ARM64 (64-bit)", or the number for other machine types.
std::wstring MachineName(uint16_t machine);

}  // namespace korvane::win
