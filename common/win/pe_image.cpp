#include "common/win/pe_image.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace korvane::win {

namespace {

constexpr uint16_t kMachineI386 = 0x014c;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kMachineArm64 = 0xaa64;
constexpr uint16_t kFileDll = 0x2000;
constexpr uint16_t kMagicPe32 = 0x10b;
constexpr uint16_t kMagicPe32Plus = 0x20b;
constexpr size_t kFileHeaderBytes = 20;
constexpr size_t kSectionBytes = 40;
constexpr size_t kExportDirectoryBytes = 40;
constexpr size_t kImportDescriptorBytes = 20;

// Little-endian reads that say whether the bytes were there.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool Has(uint64_t offset, uint64_t size) const {
    return offset <= bytes_.size() && size <= bytes_.size() - offset;
  }
  bool U16(uint64_t offset, uint16_t* out) const {
    if (!Has(offset, 2)) return false;
    *out = static_cast<uint16_t>(Byte(offset) | Byte(offset + 1) << 8);
    return true;
  }
  bool U32(uint64_t offset, uint32_t* out) const {
    if (!Has(offset, 4)) return false;
    *out = static_cast<uint32_t>(Byte(offset)) | static_cast<uint32_t>(Byte(offset + 1)) << 8 |
           static_cast<uint32_t>(Byte(offset + 2)) << 16 |
           static_cast<uint32_t>(Byte(offset + 3)) << 24;
    return true;
  }
  // A zero-terminated name; false when the file ends before its zero.
  bool Text(uint64_t offset, std::string* out) const {
    if (offset >= bytes_.size()) return false;
    size_t end = bytes_.find('\0', static_cast<size_t>(offset));
    if (end == std::string_view::npos) return false;
    *out = std::string(bytes_.substr(static_cast<size_t>(offset), end - offset));
    return true;
  }

 private:
  uint32_t Byte(uint64_t offset) const {
    return static_cast<unsigned char>(bytes_[static_cast<size_t>(offset)]);
  }
  std::string_view bytes_;
};

struct Section {
  uint32_t virtualAddress, virtualSize, rawSize, rawOffset;
};

// The section that holds a relative virtual address, or none. `sections` are in the order of
// their addresses, so a file with many sections costs a search, not a scan.
const Section* SectionOf(const std::vector<Section>& sections, uint32_t rva) {
  auto after = std::upper_bound(sections.begin(), sections.end(), rva,
                                [](uint32_t r, const Section& s) { return r < s.virtualAddress; });
  if (after == sections.begin()) return nullptr;
  const Section& s = *std::prev(after);
  const uint64_t size = s.virtualSize != 0 ? s.virtualSize : s.rawSize;
  return rva - s.virtualAddress < size ? &s : nullptr;
}

// The file offset of a relative virtual address, through the section that holds it. Bytes beyond
// the section's raw data are zero-filled at load time: no names live there.
bool FileOffsetOf(const std::vector<Section>& sections, uint32_t rva, uint64_t* out) {
  const Section* s = SectionOf(sections, rva);
  if (s == nullptr || rva - s->virtualAddress >= s->rawSize) return false;
  *out = static_cast<uint64_t>(s->rawOffset) + (rva - s->virtualAddress);
  return true;
}

// Whether a relative virtual address lies in a section's zero-filled tail, which the loader
// reads as zeros.
bool ZeroFilled(const std::vector<Section>& sections, uint32_t rva) {
  const Section* s = SectionOf(sections, rva);
  return s != nullptr && rva - s->virtualAddress >= s->rawSize;
}

struct Directory {
  uint32_t rva = 0, size = 0;
};

// Counts a name of `size` bytes against the cap, unless the names read so far would then pass it.
bool Charge(size_t size, size_t* budget) {
  if (size >= *budget) return false;
  *budget -= size + 1;
  return true;
}

// Adds a name unless the names read so far would then pass the cap.
bool Keep(std::string name, size_t* budget, std::vector<std::string>* names) {
  if (!Charge(name.size(), budget)) return false;
  names->push_back(std::move(name));
  return true;
}

PeDefect ReadExports(const Reader& r, const std::vector<Section>& sections, Directory exports,
                     size_t* budget, std::vector<std::string>* names) {
  if (exports.rva == 0 || exports.size == 0) return PeDefect::kNone;  // exports nothing
  uint64_t directory = 0;
  if (!FileOffsetOf(sections, exports.rva, &directory) || !r.Has(directory, kExportDirectoryBytes))
    return PeDefect::kTruncated;
  uint32_t nameCount = 0, namesRva = 0;
  r.U32(directory + 24, &nameCount);
  r.U32(directory + 32, &namesRva);
  if (nameCount == 0) return PeDefect::kNone;
  if (nameCount > kMaxPeExports) return PeDefect::kMalformed;
  uint64_t table = 0;
  if (!FileOffsetOf(sections, namesRva, &table) || !r.Has(table, uint64_t{nameCount} * 4))
    return PeDefect::kTruncated;
  for (uint32_t i = 0; i < nameCount; ++i) {
    uint32_t nameRva = 0;
    uint64_t nameAt = 0;
    std::string name;
    r.U32(table + uint64_t{i} * 4, &nameRva);
    if (!FileOffsetOf(sections, nameRva, &nameAt) || !r.Text(nameAt, &name))
      return PeDefect::kTruncated;
    if (!Keep(std::move(name), budget, names)) return PeDefect::kMalformed;
  }
  return PeDefect::kNone;
}

// The import descriptors run up to one whose name is zero, as the loader reads them; each one's
// lookup table runs up to a zero entry.
PeDefect ReadImports(const Reader& r, const std::vector<Section>& sections, Directory imports,
                     bool wide, size_t* budget, std::vector<PeImport>* out) {
  if (imports.rva == 0 || imports.size == 0) return PeDefect::kNone;  // needs nothing
  const uint64_t entryBytes = wide ? 8 : 4;
  const uint64_t byOrdinal = wide ? uint64_t{1} << 63 : uint64_t{1} << 31;
  size_t functions = 0;
  for (uint64_t rva = imports.rva;; rva += kImportDescriptorBytes) {
    uint64_t descriptor = 0, nameAt = 0;
    uint32_t lookupRva = 0, boundStamp = 0, nameRva = 0, addressRva = 0;
    if (rva > UINT32_MAX || !FileOffsetOf(sections, static_cast<uint32_t>(rva), &descriptor) ||
        !r.Has(descriptor, kImportDescriptorBytes))
      return PeDefect::kTruncated;
    r.U32(descriptor, &lookupRva);
    r.U32(descriptor + 4, &boundStamp);
    r.U32(descriptor + 12, &nameRva);
    r.U32(descriptor + 16, &addressRva);
    if (nameRva == 0) return PeDefect::kNone;
    if (out->size() == kMaxPeImports) return PeDefect::kMalformed;
    PeImport import;
    if (!FileOffsetOf(sections, nameRva, &nameAt) || !r.Text(nameAt, &import.library))
      return PeDefect::kTruncated;
    if (!Charge(import.library.size(), budget)) return PeDefect::kMalformed;
    const uint32_t tableRva = lookupRva != 0 ? lookupRva : boundStamp == 0 ? addressRva : 0;
    for (uint64_t entry = tableRva; tableRva != 0; entry += entryBytes) {
      uint64_t at = 0;
      uint32_t low = 0, high = 0;
      if (entry > UINT32_MAX) return PeDefect::kTruncated;
      if (!FileOffsetOf(sections, static_cast<uint32_t>(entry), &at)) {
        if (ZeroFilled(sections, static_cast<uint32_t>(entry))) break;  // reads as zeros
        return PeDefect::kTruncated;
      }
      if (!r.U32(at, &low) || (wide && !r.U32(at + 4, &high))) return PeDefect::kTruncated;
      const uint64_t value = uint64_t{high} << 32 | low;
      if (value == 0) break;
      // Every entry counts, so that tables of ordinals cannot make the reader run for long.
      if (++functions > kMaxPeImportedFunctions) return PeDefect::kMalformed;
      if (value & byOrdinal) continue;
      std::string function;
      uint64_t hintAt = 0;  // a 16-bit hint, then the name
      if (value > UINT32_MAX - 2) return PeDefect::kMalformed;
      if (!FileOffsetOf(sections, static_cast<uint32_t>(value) + 2, &hintAt) ||
          !r.Text(hintAt, &function))
        return PeDefect::kTruncated;
      if (!Keep(std::move(function), budget, &import.functions)) return PeDefect::kMalformed;
    }
    out->push_back(std::move(import));
  }
}

PeImage Failed(PeDefect defect, uint16_t machine = 0) {
  PeImage image;
  image.defect = defect;
  image.machine = machine;
  return image;
}

}  // namespace

PeImage ReadPeImage(std::string_view bytes) {
  const Reader r(bytes);
  uint16_t mz = 0;
  uint32_t peOffset = 0, signature = 0;
  if (!r.U16(0, &mz) || mz != 0x5A4D) return Failed(PeDefect::kNotAnImage);
  if (!r.U32(0x3C, &peOffset)) return Failed(PeDefect::kTruncated);
  if (!r.U32(peOffset, &signature)) return Failed(PeDefect::kTruncated);
  if (signature != 0x00004550) return Failed(PeDefect::kNotAnImage);

  const uint64_t fileHeader = static_cast<uint64_t>(peOffset) + 4;
  PeImage image;
  uint16_t sectionCount = 0, optionalSize = 0, characteristics = 0, magic = 0;
  if (!r.U16(fileHeader, &image.machine) || !r.U16(fileHeader + 2, &sectionCount) ||
      !r.U16(fileHeader + 16, &optionalSize) || !r.U16(fileHeader + 18, &characteristics))
    return Failed(PeDefect::kTruncated);
  image.isDll = (characteristics & kFileDll) != 0;

  const uint64_t optional = fileHeader + kFileHeaderBytes;
  if (!r.U16(optional, &magic)) return Failed(PeDefect::kTruncated, image.machine);
  // Where the count of data directories stands; the directories follow it.
  uint64_t countAt = 0;
  if (magic == kMagicPe32)
    countAt = 92;
  else if (magic == kMagicPe32Plus)
    countAt = 108;
  else
    return Failed(PeDefect::kMalformed, image.machine);
  if (optionalSize < countAt + 4) return Failed(PeDefect::kMalformed, image.machine);
  uint32_t directoryCount = 0;
  if (!r.U32(optional + countAt, &directoryCount))
    return Failed(PeDefect::kTruncated, image.machine);

  // The loader maps the headers at address 0, so tables there (some small or packed files keep
  // their imports in the headers' slack) are read like a section's.
  uint32_t headersSize = 0;
  r.U32(optional + 60, &headersSize);
  std::vector<Section> sections{{0, headersSize, headersSize, 0}};
  const uint64_t sectionTable = optional + optionalSize;
  if (!r.Has(sectionTable, uint64_t{sectionCount} * kSectionBytes))
    return Failed(PeDefect::kTruncated, image.machine);
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint64_t at = sectionTable + uint64_t{i} * kSectionBytes;
    Section s{};
    r.U32(at + 8, &s.virtualSize);
    r.U32(at + 12, &s.virtualAddress);
    r.U32(at + 16, &s.rawSize);
    r.U32(at + 20, &s.rawOffset);
    sections.push_back(s);
  }
  std::stable_sort(sections.begin(), sections.end(), [](const Section& a, const Section& b) {
    return a.virtualAddress < b.virtualAddress;
  });

  // The data directories that the header holds: the export directory first, then the import
  // directory.
  Directory exports, imports;
  const uint64_t held = std::min<uint64_t>(directoryCount, (optionalSize - countAt - 4) / 8);
  if (held >= 1 && (!r.U32(optional + countAt + 4, &exports.rva) ||
                    !r.U32(optional + countAt + 8, &exports.size)))
    return Failed(PeDefect::kTruncated, image.machine);
  if (held >= 2 && (!r.U32(optional + countAt + 12, &imports.rva) ||
                    !r.U32(optional + countAt + 16, &imports.size)))
    return Failed(PeDefect::kTruncated, image.machine);
  size_t budget = kMaxPeNameBytes;
  PeDefect defect = ReadExports(r, sections, exports, &budget, &image.exportNames);
  if (defect == PeDefect::kNone)
    defect = ReadImports(r, sections, imports, magic == kMagicPe32Plus, &budget, &image.imports);
  if (defect != PeDefect::kNone) return Failed(defect, image.machine);
  return image;
}

std::wstring MachineName(uint16_t machine) {
  switch (machine) {
    case kMachineI386:
      return L"x86 (32-bit)";
    case kMachineAmd64:
      return L"x64 (64-bit)";
    case kMachineArm64:
      return L"ARM64 (64-bit)";
    default: {
      wchar_t text[32];
      std::swprintf(text, 32, L"machine type 0x%04X", static_cast<unsigned>(machine));
      return text;
    }
  }
}

}  // namespace korvane::win
