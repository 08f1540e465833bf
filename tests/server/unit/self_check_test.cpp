// The self-check's plain parts: the PE reader over images built here, the LocalServer32 command
// line, who may change a file by its access list, the AppID's access list, and each verdict the
// check concludes from gathered facts.
#include "server/host/self_check.h"

#include <windows.h>

#include <combaseapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <functional>
#include <map>
#include <tuple>

#include "server/host/self_check_facts.h"

namespace korvane::test {
using namespace server::host;

namespace {

using win::PeDefect;

void Put(std::string& bytes, size_t at, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// A DLL with one section at file offset 0x200 (RVA 0x1000) holding the export table and the
// import table; a function named "#<n>" is taken by ordinal n. The functions' names are in each
// import's lookup table, or only in its address table (as old linkers write it), maybe bound.
enum class Names { kLookupTable, kAddressTable, kBoundAddressTable };
std::string Image(uint16_t machine, bool pe32Plus, const std::vector<std::string>& exports,
                  const std::vector<win::PeImport>& imports = {},
                  Names names = Names::kLookupTable) {
  std::string image(0x200, '\0');
  image[0] = 'M', image[1] = 'Z';
  Put(image, 0x3C, 0x40, 4);
  image.replace(0x40, 4, "PE\0\0", 4);
  const size_t optional = 0x58, optionalSize = pe32Plus ? 240 : 224;
  const size_t directories = optional + (pe32Plus ? 108 : 92);
  Put(image, 0x44, machine, 2);
  Put(image, 0x46, 1, 2);  // one section
  Put(image, 0x54, optionalSize, 2);
  Put(image, 0x56, 0x2002, 2);  // an executable DLL
  Put(image, optional, pe32Plus ? 0x20b : 0x10b, 2);
  Put(image, directories, 16, 4);
  std::string data(40 + 4 * exports.size(), '\0');
  Put(data, 24, static_cast<uint32_t>(exports.size()), 4);
  Put(data, 32, 0x1000 + 40, 4);
  for (size_t i = 0; i < exports.size(); ++i) {
    Put(data, 40 + 4 * i, 0x1000 + static_cast<uint32_t>(data.size()), 4);
    data += exports[i] + '\0';
  }
  Put(image, directories + 4, 0x1000, 4);
  Put(image, directories + 8, static_cast<uint32_t>(data.size()), 4);
  if (!imports.empty()) {
    const size_t descriptors = data.size();
    data.append(20 * (imports.size() + 1), '\0');
    const size_t entry = pe32Plus ? 8 : 4;
    for (size_t i = 0; i < imports.size(); ++i) {
      Put(data, descriptors + 20 * i + 12, 0x1000 + static_cast<uint32_t>(data.size()), 4);
      data += imports[i].library + '\0';
      const std::vector<std::string>& functions = imports[i].functions;
      if (functions.empty()) continue;
      const size_t table = data.size();
      const size_t descriptor = descriptors + 20 * i;
      Put(data, names == Names::kLookupTable ? descriptor : descriptor + 16,
          0x1000 + static_cast<uint32_t>(table), 4);
      if (names == Names::kBoundAddressTable) Put(data, descriptor + 4, 0xFFFFFFFF, 4);
      data.append(entry * (functions.size() + 1), '\0');
      for (size_t f = 0; f < functions.size(); ++f) {
        const size_t at = table + entry * f;
        if (functions[f][0] == '#') {
          Put(data, at, std::stoul(functions[f].substr(1)), 2);
          data[at + entry - 1] = '\x80';
        } else {
          Put(data, at, 0x1000 + static_cast<uint32_t>(data.size()), 4);
          data += std::string(2, '\0') + functions[f] + '\0';  // a hint, then the name
        }
      }
    }
    Put(image, directories + 12, 0x1000 + static_cast<uint32_t>(descriptors), 4);
    Put(image, directories + 16, static_cast<uint32_t>(20 * (imports.size() + 1)), 4);
  }
  const size_t section = optional + optionalSize;
  Put(image, section + 8, static_cast<uint32_t>(data.size()), 4);
  Put(image, section + 12, 0x1000, 4);
  Put(image, section + 16, static_cast<uint32_t>(data.size()), 4);
  Put(image, section + 20, 0x200, 4);
  return image + data;
}

TEST(PeImage, ReadsMachineExportsAndImportsOrNamesTheDefect) {
  const std::string x86 = Image(0x14c, false, {"KorvaneQuandrelConverter"});
  const std::string oneFunction = Image(0x14c, false, {}, {{"a.dll", {"Function"}}});
  const std::vector<win::PeImport> needs = {{"KERNEL32.dll", {"GetTickCount", "#5", "Sleep"}},
                                            {"engine runtime.dll", {}}};
  const std::vector<win::PeImport> read = {{"KERNEL32.dll", {"GetTickCount", "Sleep"}},
                                           {"engine runtime.dll", {}}};
  const std::string needing = Image(0x8664, true, {"KorvaneQuandrelConverter"}, needs);
  std::string badMagic = x86;
  Put(badMagic, 0x58, 0x999, 2);
  std::string zeroFilled = x86;  // the file holds only the export directory of the section
  Put(zeroFilled, 0x58 + 224 + 16, 40, 4);
  // The last import takes a function by ordinal; its table's closing zero entry lies beyond the
  // section's raw data, where the loader reads zeros.
  std::string zeroEnded = Image(0x14c, false, {}, {{"a.dll", {"F"}}, {"b.dll", {"#1"}}});
  Put(zeroEnded, 0x58 + 224 + 16, static_cast<uint32_t>(zeroEnded.size() - 0x200 - 4), 4);
  zeroEnded.resize(zeroEnded.size() - 4);
  // The import table in the slack after the section table, which the loader maps with the
  // headers when the headers' size covers it.
  std::string inHeaders = x86;
  const size_t descriptor = 0x170, name = 0x1A0, lookup = 0x1B0, hintAndName = 0x1C0;
  Put(inHeaders, descriptor, lookup, 4);
  Put(inHeaders, descriptor + 12, name, 4);
  inHeaders.replace(name, 6, "h.dll", 6);
  Put(inHeaders, lookup, hintAndName, 4);
  inHeaders.replace(hintAndName + 2, 3, "Fn", 3);
  Put(inHeaders, 0x58 + 104, descriptor, 4);  // the import directory
  Put(inHeaders, 0x58 + 108, 40, 4);
  std::string pastHeaders = inHeaders;
  Put(inHeaders, 0x58 + 60, 0x200, 4);
  Put(pastHeaders, 0x58 + 60, 0x180, 4);  // ends before the library's name
  struct Case {
    const char* name;
    std::string bytes;
    PeDefect defect;
    uint16_t machine;
    std::vector<std::string> exports;
    std::vector<win::PeImport> imports = {};
  } cases[] = {
      // clang-format off
      {"x86 engine", x86, PeDefect::kNone, 0x14c, {"KorvaneQuandrelConverter"}},
      {"x64, two exports", Image(0x8664, true, {"A", "KorvaneQuandrelConverter"}), PeDefect::kNone, 0x8664, {"A", "KorvaneQuandrelConverter"}},
      {"no export", Image(0x14c, false, {}), PeDefect::kNone, 0x14c, {}},
      {"x64 needing two libraries", needing, PeDefect::kNone, 0x8664, {"KorvaneQuandrelConverter"}, read},
      {"x86 needing two libraries", Image(0x14c, false, {}, needs), PeDefect::kNone, 0x14c, {}, read},
      {"cut in a function's name", oneFunction.substr(0, oneFunction.size() - 3), PeDefect::kTruncated, 0x14c, {}},
      {"names in the address table only", Image(0x14c, false, {}, needs, Names::kAddressTable), PeDefect::kNone, 0x14c, {}, read},
      {"an old bound import: addresses only, not read as names", Image(0x14c, false, {}, needs, Names::kBoundAddressTable), PeDefect::kNone, 0x14c, {}, {{"KERNEL32.dll", {}}, {"engine runtime.dll", {}}}},
      {"more ordinals than an import table takes", Image(0x14c, false, {}, {{"a.dll", std::vector<std::string>(win::kMaxPeImportedFunctions + 1, "#1")}}), PeDefect::kMalformed, 0x14c, {}},
      {"more functions than an import table names", Image(0x14c, false, {}, {{"a.dll", std::vector<std::string>(win::kMaxPeImportedFunctions + 1, "f")}}), PeDefect::kMalformed, 0x14c, {}},
      {"cut in an import name", needing.substr(0, needing.size() - 3), PeDefect::kTruncated, 0x8664, {}},
      {"empty file", "", PeDefect::kNotAnImage, 0, {}},
      {"text", "This is not a library at all", PeDefect::kNotAnImage, 0, {}},
      {"DOS header only", "MZ", PeDefect::kTruncated, 0, {}},
      {"cut in the section table", x86.substr(0, 0x140), PeDefect::kTruncated, 0x14c, {}},
      {"cut in an export name", x86.substr(0, x86.size() - 3), PeDefect::kTruncated, 0x14c, {}},
      {"unknown optional header", badMagic, PeDefect::kMalformed, 0x14c, {}},
      {"names where the section is zero-filled", zeroFilled, PeDefect::kTruncated, 0x14c, {}},
      {"a lookup table ended by the section's zero-filled tail", zeroEnded, PeDefect::kNone, 0x14c, {}, {{"a.dll", {"F"}}, {"b.dll", {}}}},
      {"an import table in the headers", inHeaders, PeDefect::kNone, 0x14c, {"KorvaneQuandrelConverter"}, {{"h.dll", {"Fn"}}}},
      {"an import table past the headers' size", pastHeaders, PeDefect::kTruncated, 0x14c, {}},
      {"more libraries than an import table names", Image(0x14c, false, {}, std::vector<win::PeImport>(win::kMaxPeImports + 1, {"a.dll", {}})), PeDefect::kMalformed, 0x14c, {}},
      {"names past the cap", Image(0x14c, false, {std::string(win::kMaxPeNameBytes, 'n')}), PeDefect::kMalformed, 0x14c, {}},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const win::PeImage image = win::ReadPeImage(c.bytes);
    EXPECT_EQ(image.defect, c.defect);
    EXPECT_EQ(image.machine, c.machine);
    EXPECT_EQ(image.exportNames, c.exports);
    EXPECT_EQ(image.imports, c.imports);
  }
}

// COM asks the AppID's access list with the server's own identity (principal self) standing for
// the user who starts it, for a call from this machine.
TEST(SelfCheck, AsksTheAppIdAccessListForTheCallersOwnLocalCalls) {
  const struct {
    const wchar_t* sddl;
    const wchar_t* forCaller;
  } texts[] = {
      {L"D:(A;;0x3;;;PS)(A;;0x3;;;SY)S:(ML;;NX;;;ME)",
       L"O:S-1-5-21-7G:S-1-5-21-7D:(A;;0x3;;;S-1-5-21-7)(A;;0x3;;;SY)S:(ML;;NX;;;ME)"},
      {L"D:(D;;0x1;;;PS)(A;;0x1;;;PS)",
       L"O:S-1-5-21-7G:S-1-5-21-7D:(D;;0x1;;;S-1-5-21-7)(A;;0x1;;;S-1-5-21-7)"},
      {L"D:(A;;0x3;;;PU)(A;;0x3;;;WD)", L"O:S-1-5-21-7G:S-1-5-21-7D:(A;;0x3;;;PU)(A;;0x3;;;WD)"},
      {L"", L"O:S-1-5-21-7G:S-1-5-21-7"},
  };
  for (const auto& t : texts)
    EXPECT_EQ(DescriptorForCaller(t.sddl, L"S-1-5-21-7", true), t.forCaller);
  EXPECT_EQ(DescriptorForCaller(L"D:(A;;0xb;;;PS)", L"S-1-5-21-7", false),
            L"O:S-1-5-21-7G:S-1-5-21-7D:(A;;0xb;;;PS)");  // a launch list

  // Whether a list tells local from remote calls is read from all its entries, not from what
  // one caller is granted.
  const struct {
    const wchar_t* sddl;
    bool localFromRemote;
  } lists[] = {
      {L"D:(A;;0x1;;;PS)(D;;0x1;;;AN)", false},
      {L"D:(A;;GA;;;WD)", false},
      {L"D:(A;;0x3;;;PS)(A;;0x3;;;SY)", true},
      {L"D:(A;;0x9;;;PS)", true},
      {L"D:(A;;0x1;;;PS)(A;;0xb;;;SY)", true},  // mixed, which COM does not expect
      {L"D:(A;;0x1;;;PS)(D;;0x4;;;WD)", true},
      // Every entry counts, one for what the object holds only too.
      {L"D:(A;;0x1;;;PS)(A;OICIIO;0x3;;;SY)", true},
      {L"D:", false},
  };
  for (const auto& l : lists) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(l.sddl, SDDL_REVISION_1,
                                                                       &descriptor, nullptr));
    BOOL listed = FALSE, defaulted = FALSE;
    ACL* list = nullptr;
    EXPECT_TRUE(::GetSecurityDescriptorDacl(descriptor, &listed, &list, &defaulted));
    EXPECT_EQ(TellsLocalFromRemote(list), l.localFromRemote)
        << testing::PrintToString(std::wstring(l.sddl));
    ::LocalFree(descriptor);
  }
  EXPECT_FALSE(TellsLocalFromRemote(nullptr));  // no list: everyone, as the old kind
  // A launch list's local launch is the bit of an access list's local access.
  const struct {
    ACCESS_MASK granted;
    bool localFromRemote;
    bool calls, launches;
  } rights[] = {
      {0, false, false, false},
      {COM_RIGHTS_EXECUTE, false, true, true},  // the old kind: local and remote
      {COM_RIGHTS_EXECUTE, true, false, false},
      {COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL, true, true, false},
      {COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_REMOTE, true, false, false},
      {COM_RIGHTS_EXECUTE | COM_RIGHTS_ACTIVATE_LOCAL, true, false, false},
      {COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL | COM_RIGHTS_ACTIVATE_LOCAL, true, true, true},
      {COM_RIGHTS_EXECUTE_LOCAL | COM_RIGHTS_ACTIVATE_LOCAL, true, false, false},
      {COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL | COM_RIGHTS_EXECUTE_REMOTE |
           COM_RIGHTS_ACTIVATE_LOCAL,
       true, true, true},
  };
  for (const auto& r : rights) {
    EXPECT_EQ(LetsCallLocally(r.granted, r.localFromRemote), r.calls)
        << std::hex << r.granted << " " << r.localFromRemote;
    EXPECT_EQ(LetsLaunchLocally(r.granted, r.localFromRemote), r.launches)
        << std::hex << r.granted << " " << r.localFromRemote;
  }

  // The registry value's bytes must hold the whole descriptor before the system reads it.
  PSECURITY_DESCRIPTOR made = nullptr;
  ULONG size = 0;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"O:BAG:BAD:(A;;0x3;;;PS)(A;;0x3;;;SY)S:(ML;;NX;;;ME)", SDDL_REVISION_1, &made, &size));
  std::vector<BYTE> whole(static_cast<BYTE*>(made), static_cast<BYTE*>(made) + size);
  ::LocalFree(made);
  std::vector<BYTE> farDacl = whole;
  farDacl[16] = 0xF0;  // the access list's offset, past the end
  std::vector<BYTE> absolute = whole;
  absolute[3] &= 0x7F;  // SE_SELF_RELATIVE cleared
  // The parts without their present bit, and an owner and group of none, are not read.
  std::vector<BYTE> partsNotPresent(20, 0);
  partsNotPresent[0] = 1, partsNotPresent[3] = 0x80;  // revision 1, self-relative
  partsNotPresent[12] = partsNotPresent[16] = 0xF0;   // the lists' offsets, past the end
  // The access list damaged, where the header's offset says it is.
  const size_t list = size_t{whole[16]} | size_t{whole[17]} << 8;
  ASSERT_EQ(whole[list + 4], 2);  // two entries, each a header, a mask and a SID
  std::vector<BYTE> listShorterThanItsHeader = whole;
  listShorterThanItsHeader[list + 2] = 4, listShorterThanItsHeader[list + 3] = 0;
  std::vector<BYTE> moreEntriesThanTheListHolds = whole;
  moreEntriesThanTheListHolds[list + 4] = 3;
  // One entry left, its size (at 8 + 2) 4 bytes past the list, or too small for a mask.
  std::vector<BYTE> entryPastTheList = whole, entryWithoutAMask = whole;
  entryPastTheList[list + 4] = entryWithoutAMask[list + 4] = 1;
  entryPastTheList[list + 10] = static_cast<BYTE>(whole[list + 2] - 8 + 4);
  entryWithoutAMask[list + 10] = 4;
  const struct {
    const char* name;
    const std::vector<BYTE>& bytes;
    size_t size;
    bool fits;
  } descriptors[] = {
      {"whole", whole, whole.size(), true},
      {"one byte short", whole, whole.size() - 1, false},
      {"header only", whole, 20, false},
      {"shorter than a header", whole, 19, false},
      {"access list elsewhere", farDacl, whole.size(), false},
      {"not self-relative", absolute, whole.size(), false},
      {"no part present", partsNotPresent, 20, true},
      {"list shorter than its header", listShorterThanItsHeader, whole.size(), false},
      {"more entries than the list holds", moreEntriesThanTheListHolds, whole.size(), false},
      {"entry past the list", entryPastTheList, whole.size(), false},
      {"entry without a mask", entryWithoutAMask, whole.size(), false},
  };
  for (const auto& d : descriptors)
    EXPECT_EQ(DescriptorFitsIn(d.bytes.data(), d.size), d.fits) << d.name;
}

TEST(SelfCheck, ReadsLocalServer32AsProcessCreationDoesAndComparesPaths) {
  struct Case {
    const wchar_t* value;
    const wchar_t* program;
    bool quoted;
    const wchar_t* arguments;
    std::vector<std::wstring> triedFirst;
    bool fullyQualified;
  } cases[] = {
      // clang-format off
      {L"\"C:\\A B\\QuandrelCom.exe\" -Embedding", L"C:\\A B\\QuandrelCom.exe", true, L"-Embedding", {}, true},
      {L"\"C:\\srv\\QuandrelCom.exe\"", L"C:\\srv\\QuandrelCom.exe", true, L"", {}, true},
      {L"C:\\A B\\QuandrelCom.EXE /automation", L"C:\\A B\\QuandrelCom.EXE", false, L"/automation", {L"C:\\A.exe"}, true},
      {L"C:\\a b\\c d.e\\QuandrelCom.exe", L"C:\\a b\\c d.e\\QuandrelCom.exe", false, L"", {L"C:\\a.exe", L"C:\\a b\\c.exe"}, true},
      {L"C:\\Program Files\\x.y z\\QuandrelCom.exe", L"C:\\Program Files\\x.y z\\QuandrelCom.exe", false, L"", {L"C:\\Program.exe", L"C:\\Program Files\\x.y"}, true},
      {L"  C:\\Tools\\server.bin  ", L"C:\\Tools\\server.bin", false, L"", {}, true},
      {L"QuandrelCom.exe", L"QuandrelCom.exe", false, L"", {}, false},
      {L"\"srv\\QuandrelCom.exe\"", L"srv\\QuandrelCom.exe", true, L"", {}, false},
      {L"\\srv\\QuandrelCom.exe", L"\\srv\\QuandrelCom.exe", false, L"", {}, false},
      {L"C:QuandrelCom.exe", L"C:QuandrelCom.exe", false, L"", {}, false},
      {L"\\\\host\\share\\QuandrelCom.exe", L"\\\\host\\share\\QuandrelCom.exe", false, L"", {}, true},
      {L"\\\\?\\C:\\srv\\QuandrelCom.exe", L"\\\\?\\C:\\srv\\QuandrelCom.exe", false, L"", {}, true},
      {L"", L"", false, L"", {}, false},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.value)));
    const ServerCommand command = ParseServerCommand(c.value);
    EXPECT_EQ(command.program, c.program);
    EXPECT_EQ(ServerPathOf(c.value), c.program);
    EXPECT_EQ(command.quoted, c.quoted);
    EXPECT_EQ(command.arguments, c.arguments);
    EXPECT_EQ(command.triedFirst, c.triedFirst);
    EXPECT_EQ(IsFullyQualified(command.program), c.fullyQualified);
  }
  EXPECT_TRUE(SamePath(L"\\\\?\\C:\\A\\QuandrelCom.exe", L"c:\\a\\quandrelcom.EXE"));
  EXPECT_FALSE(SamePath(L"C:\\A\\QuandrelCom.exe", L"C:\\B\\QuandrelCom.exe"));
  EXPECT_FALSE(SamePath(L"", L""));
}

constexpr wchar_t kAdministrators[] = L"S-1-5-32-544";
constexpr wchar_t kSystem[] = L"S-1-5-18";
constexpr wchar_t kTrustedInstaller[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr wchar_t kUsers[] = L"S-1-5-32-545";
constexpr wchar_t kAuthenticatedUsers[] = L"S-1-5-11";
constexpr wchar_t kEveryone[] = L"S-1-1-0";
constexpr wchar_t kCreatorOwner[] = L"S-1-3-0";
constexpr wchar_t kOwnerRights[] = L"S-1-3-4";
constexpr wchar_t kAnn[] = L"S-1-5-21-1-2-3-1001";

AccessEntry Allow(const wchar_t* sid, ACCESS_MASK mask, bool inheritOnly = false) {
  return {true, inheritOnly, mask, sid, {}};
}
AccessEntry Deny(const wchar_t* sid, ACCESS_MASK mask) { return {false, false, mask, sid, {}}; }

// As Windows sets up a folder under Program Files, and the files in it.
GuardedFile Locked(std::wstring path, bool folder, GuardedRole role = GuardedRole::kInstalled) {
  // clang-format off
  return {std::move(path), folder, S_OK, true, kTrustedInstaller, L"NT SERVICE\\TrustedInstaller",
          {Allow(kTrustedInstaller, FILE_ALL_ACCESS), Allow(kAdministrators, FILE_ALL_ACCESS), Allow(kSystem, FILE_ALL_ACCESS),
           Allow(kUsers, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), Allow(kCreatorOwner, GENERIC_ALL, true)}, role};
  // clang-format on
}

TEST(SelfCheck, FoldersAboveAFolderReachTheRootOfItsVolume) {
  using Folders = std::vector<std::wstring>;
  const std::pair<std::wstring, Folders> cases[] = {
      {L"C:\\Program Files\\Q", {L"C:\\Program Files", L"C:\\"}},
      {L"C:\\Q\\", {L"C:\\"}},
      {L"C:\\", {}},
      {L"\\\\srv\\share\\a\\b", {L"\\\\srv\\share\\a", L"\\\\srv\\share\\"}},
      {L"\\\\srv\\share", {}},
      {L"\\\\?\\C:\\a", {L"\\\\?\\C:\\"}},
      {L"\\\\?\\UNC\\srv\\share\\a", {L"\\\\?\\UNC\\srv\\share\\"}},
      {L"relative\\a", {}},
  };
  for (const auto& [folder, above] : cases)
    EXPECT_EQ(FoldersAbove(folder), above) << testing::PrintToString(folder);
}

TEST(SelfCheck, WhoMayChangeAFileOrFolderFromItsOwnerAndAccessList) {
  constexpr ACCESS_MASK kModify = 0x1301bf;
  constexpr ACCESS_MASK kRead = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
  struct Case {
    const char* name;
    bool folder;
    const wchar_t* owner;
    std::vector<AccessEntry> entries;
    std::vector<std::wstring> who;
    bool hasDacl = true;
    GuardedRole role = GuardedRole::kInstalled;
  } cases[] = {
      // clang-format off
      {"Program Files", true, kTrustedInstaller, Locked(L"C:\\P", true).entries, {}},
      {"owned by Administrators, SYSTEM full", false, kAdministrators, {Allow(kSystem, GENERIC_ALL), Allow(kUsers, kRead)}, {}},
      {"a folder under C:\\ (Authenticated Users may modify)", true, kAdministrators, {Allow(kAdministrators, FILE_ALL_ACCESS), Allow(kAuthenticatedUsers, kModify)}, {kAuthenticatedUsers}},
      {"CREATOR OWNER and Users' write for the content only", true, kAdministrators, {Allow(kCreatorOwner, GENERIC_ALL, true), Allow(kUsers, kModify, true)}, {}},
      {"Users may add files", true, kAdministrators, {Allow(kUsers, FILE_ADD_FILE)}, {kUsers}},
      {"Users may add folders", true, kAdministrators, {Allow(kUsers, FILE_ADD_SUBDIRECTORY)}, {kUsers}},
      {"Users may delete the folder's content", true, kAdministrators, {Allow(kUsers, FILE_DELETE_CHILD)}, {kUsers}},
      {"the same bit on a file means nothing", false, kAdministrators, {Allow(kUsers, FILE_DELETE_CHILD | kRead)}, {}},
      {"Users may append", false, kAdministrators, {Allow(kUsers, FILE_APPEND_DATA)}, {kUsers}},
      {"Users may delete", false, kAdministrators, {Allow(kUsers, DELETE)}, {kUsers}},
      {"Users may change the list", false, kAdministrators, {Allow(kUsers, WRITE_DAC)}, {kUsers}},
      {"Users may take it over", false, kAdministrators, {Allow(kUsers, WRITE_OWNER)}, {kUsers}},
      {"Everyone: generic write", false, kAdministrators, {Allow(kEveryone, GENERIC_WRITE)}, {kEveryone}},
      {"Everyone: generic all", false, kAdministrators, {Allow(kEveryone, GENERIC_ALL)}, {kEveryone}},
      {"attributes only", false, kAdministrators, {Allow(kUsers, FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | kRead)}, {}},
      {"denied to Everyone first", false, kAdministrators, {Deny(kEveryone, GENERIC_WRITE | DELETE | WRITE_DAC | WRITE_OWNER), Allow(kUsers, kModify)}, {}},
      {"denied to the same SID first", false, kAdministrators, {Deny(kUsers, FILE_ALL_ACCESS), Allow(kUsers, kModify)}, {}},
      {"denied to another SID", false, kAdministrators, {Deny(kAnn, FILE_ALL_ACCESS), Allow(kUsers, kModify)}, {kUsers}},
      {"denied after it was allowed", false, kAdministrators, {Allow(kUsers, kModify), Deny(kUsers, FILE_ALL_ACCESS)}, {kUsers}},
      {"owned by a user", false, kAnn, {Allow(kUsers, kRead)}, {std::wstring(kAnn) + L" (its owner)"}},
      {"owned by a user whom OWNER RIGHTS lets read", false, kAnn, {Allow(kOwnerRights, kRead), Allow(kUsers, kRead)}, {}},
      {"owned by a user whom OWNER RIGHTS lets write", false, kAnn, {Allow(kOwnerRights, kModify)}, {kAnn}},
      {"owned by a local administrator", false, L"S-1-5-21-1-2-3-500", {Allow(L"S-1-5-21-1-2-3-500", FILE_ALL_ACCESS)}, {}},
      {"no access list", false, kAdministrators, {}, {L"Everyone (it has no access list)"}, false},
      // Above the installation only what replaces the way to it counts.
      {"above: Users may add and write", true, kAdministrators, {Allow(kUsers, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_EA)}, {}, true, GuardedRole::kAbove},
      {"above: Authenticated Users may modify, so rename it", true, kAdministrators, {Allow(kAuthenticatedUsers, kModify)}, {kAuthenticatedUsers}, true, GuardedRole::kAbove},
      {"above: Users may delete what it holds", true, kAdministrators, {Allow(kUsers, FILE_DELETE_CHILD)}, {kUsers}, true, GuardedRole::kAbove},
      {"above, owned by a user", true, kAnn, {}, {std::wstring(kAnn) + L" (its owner)"}, true, GuardedRole::kAbove},
      {"C:\\ (Authenticated Users may add folders; delete, which no root allows)", true, kTrustedInstaller, {Allow(kAuthenticatedUsers, FILE_ADD_SUBDIRECTORY | DELETE), Allow(kAuthenticatedUsers, kModify, true)}, {}, true, GuardedRole::kVolumeRoot},
      {"a root whose content Everyone may delete", true, kTrustedInstaller, {Allow(kEveryone, FILE_DELETE_CHILD)}, {kEveryone}, true, GuardedRole::kVolumeRoot},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const GuardedFile file{L"C:\\P\\x", c.folder, S_OK, c.hasDacl, c.owner, {}, c.entries, c.role};
    EXPECT_EQ(WhoMayChange(file, {L"S-1-5-21-1-2-3-500"}), c.who);
  }
  GuardedFile named = Locked(L"C:\\P", true);
  named.entries.push_back({true, false, FILE_ADD_FILE, kUsers, L"BUILTIN\\Users"});
  EXPECT_EQ(WhoMayChange(named, {}), std::vector<std::wstring>{L"BUILTIN\\Users"});
}

TEST(SelfCheck, FindsEachLibraryTheEngineNeedsThatTheLoaderCannotUseOnce) {
  auto image = [](std::vector<win::PeImport> imports, std::vector<std::string> exports = {},
                  uint16_t machine = 0x14c, PeDefect defect = PeDefect::kNone) {
    win::PeImage image;
    image.imports = std::move(imports);
    image.exportNames = std::move(exports);
    image.machine = machine;
    image.defect = defect;
    return image;
  };
  using Where = LibraryLookup::Where;
  const std::map<std::wstring, LibraryLookup> found = {
      {L"KERNEL32.dll", {Where::kSystem, image({}, {"Sleep"}), L"C:\\W\\KERNEL32.dll", true}},
      {L"helper.dll",
       {Where::kBeside,
        image({{"kernel32.DLL", {"Sleep", "NewerCall"}}, {"deep.dll", {}}, {"QUANDRELSDK.DLL", {}}},
              {"Help"}),
        L"C:\\Q\\helper.dll"}},
      {L"system.dll", {Where::kSystem, image({{"never looked up.dll", {}}})}},
      {L"x64.dll", {Where::kBeside, image({{"never looked up either.dll", {}}}, {}, 0x8664)}},
      {L"cut.dll", {Where::kBeside, image({}, {}, 0x14c, PeDefect::kTruncated)}},
      {L"old.dll", {Where::kSystem, image({}, {"Old"}), L"C:\\W\\old.dll"}},
      // Not judged: a file that exports no names (a placeholder), one of the other machine type
      // found on a search path (the real lookup passes over it), and a side-by-side assembly's
      // library (no file).
      {L"placeholder.dll", {Where::kSystem, image({}), L"C:\\W\\placeholder.dll"}},
      {L"other.dll", {Where::kSystem, image({}, {"Other"}, 0x8664), L"C:\\P\\other.dll"}},
      {L"assembly.dll", {Where::kSystem, image({}, {"Other"})}},
  };
  std::vector<std::wstring> asked;
  auto lookup = [&](const std::wstring& name, const std::wstring& neededBy) {
    asked.push_back(name + L" for " + neededBy);
    const auto it = found.find(name);
    return it == found.end() ? LibraryLookup{} : it->second;
  };
  const win::PeImage engine = image({{"KERNEL32.dll", {"Sleep"}},
                                     {"helper.dll", {"Help"}},
                                     {"runtime.dll", {"Run"}},
                                     {"system.dll", {}},
                                     {"Runtime.DLL", {}},
                                     {"x64.dll", {}},
                                     {"cut.dll", {}},
                                     {"old.dll", {"Old", "New", "Newest"}},
                                     {"placeholder.dll", {"Any"}},
                                     {"other.dll", {"Any"}},
                                     {"assembly.dll", {"Any"}}});
  using Row =
      std::tuple<std::wstring, std::wstring, bool, std::wstring, std::vector<std::wstring>, bool>;
  std::vector<Row> unusable;
  for (const UnusableLibrary& u : FindUnusableLibraries(engine, L"quandrelsdk.dll", lookup))
    unusable.emplace_back(u.name, u.neededBy, u.beside, u.path, u.missingFunctions, u.windowsOwn);
  EXPECT_EQ(
      unusable,
      (std::vector<Row>{
          {L"runtime.dll", L"quandrelsdk.dll", false, L"", {}, false},
          {L"x64.dll", L"quandrelsdk.dll", true, L"", {}, false},
          {L"cut.dll", L"quandrelsdk.dll", true, L"", {}, false},
          {L"old.dll", L"quandrelsdk.dll", false, L"C:\\W\\old.dll", {L"New", L"Newest"}, false},
          // A library found once is held to what each library needs of it.
          {L"kernel32.DLL", L"helper.dll", false, L"C:\\W\\KERNEL32.dll", {L"NewerCall"}, true},
          {L"deep.dll", L"helper.dll", false, L"", {}, false}}));
  // Each library once whatever its case; what the system's libraries and unusable ones need, not
  // at all.
  EXPECT_EQ(asked, (std::vector<std::wstring>{
                       L"KERNEL32.dll for quandrelsdk.dll", L"helper.dll for quandrelsdk.dll",
                       L"runtime.dll for quandrelsdk.dll", L"system.dll for quandrelsdk.dll",
                       L"x64.dll for quandrelsdk.dll", L"cut.dll for quandrelsdk.dll",
                       L"old.dll for quandrelsdk.dll", L"placeholder.dll for quandrelsdk.dll",
                       L"other.dll for quandrelsdk.dll", L"assembly.dll for quandrelsdk.dll",
                       L"deep.dll for helper.dll"}));

  // What the lookup passes over past the server's folder: x86 0x14c, x64 0x8664, Arm64 0xaa64.
  const struct {
    uint16_t file, process, windows;
    bool inSystemFolder, takes;
  } loads[] = {
      {0x14c, 0x14c, 0x8664, false, true},    {0x8664, 0x14c, 0x8664, false, false},
      {0x8664, 0x14c, 0x8664, true, false},   {0x14c, 0x8664, 0x8664, true, false},
      {0xaa64, 0x8664, 0xaa64, true, true},  // Windows on Arm's Arm64X libraries
      {0xaa64, 0x8664, 0xaa64, false, false}, {0xaa64, 0x8664, 0x8664, true, false},
      {0xaa64, 0x14c, 0xaa64, true, false},
  };
  for (const auto& l : loads)
    EXPECT_EQ(LoaderTakes(l.file, l.process, l.windows, l.inSystemFolder), l.takes)
        << std::hex << l.file << " " << l.process << " " << l.windows << " " << l.inSystemFolder;
}

// A 32-bit server on a 64-bit Windows, registered machine-wide in a folder only administrators
// may change, with the engine beside it.
CheckFacts Healthy() {
  const RegistrationKeys keys;
  const std::wstring exe = L"C:\\Q\\QuandrelCom.exe";
  auto value = [](std::wstring data) {
    return MergedValue{true, RegistrationScope::kMachine, false, true, std::move(data)};
  };
  CheckFacts facts;
  facts.exePath = exe;
  facts.machine = 0x14c;
  facts.windowsMachine = 0x8664;
  facts.program.machine = 0x14c;
  facts.userName = L"ann";
  facts.libraryPresent = facts.programPresent = true;
  facts.logFolder = FolderAccess::kWritable;
  facts.systemFolder = L"C:\\Windows\\SysWOW64";
  facts.library = {
      PeDefect::kNone, 0x14c, true, {"KorvaneQuandrelConverter"}, {{"KERNEL32.dll", {}}}};
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    ViewFacts v;
    v.view = view;
    v.localServer = value(L"\"" + exe + L"\"");
    v.server = {exe, true, exe};
    v.progIdClass = value(keys.clsid);
    v.proxyStub = value(kAutomationMarshaller);
    v.interfaceTypeLib = value(keys.libid);
    v.interfaceTypeLibVersion = value(L"1.0");
    v.typeLib[0] = value(exe);
    v.typeLibFile[0] = {exe, true, exe};
    v.typeLibContent[0] = {S_OK, keys.libid, 1, 0};
    facts.views.push_back(v);
  }
  facts.install.files = {
      Locked(L"C:\\Q", true), Locked(exe, false), Locked(L"C:\\Q\\quandrelsdk.dll", false),
      Locked(L"C:\\Q\\quandrel.dll", false), Locked(L"C:\\", true, GuardedRole::kVolumeRoot)};
  facts.install.userSid = kAnn;
  return facts;
}

// Points both views' LocalServer32 at `value`, for a server at `exe`.
void Serve(CheckFacts& f, const std::wstring& exe, const std::wstring& value, bool exists = true) {
  f.exePath = exe;
  for (ViewFacts& v : f.views) {
    v.localServer.data = value;
    v.server = {ServerPathOf(value), exists, exists ? exe : L""};
  }
}

TEST(SelfCheck, GivesEachVerdictWithItsFixAndCountsTheProblems) {
  struct Case {
    const char* name;
    std::function<void(CheckFacts&)> breakIt;
    int problems;
    std::vector<std::wstring> said;
    std::vector<std::wstring> notSaid = {};
  } cases[] = {
      // clang-format off
      {"healthy", [](CheckFacts&) {}, 0,
       {L"OK       32-bit view: LocalServer32 starts this",
        L"OK       64-bit view: type library entry win32: C:\\Q\\QuandrelCom.exe (this executable), holds the type library",
        L"OK       only administrators may change", L"INFO     C:\\Q is writable"}},
      {"calls allowed", [](CheckFacts& f) { f.callPermission = CallPermission::kAllowed; }, 0, {L"OK       AppID {BDBB0F90-863E-4814-820F-1657390654B0}: AccessPermission lets "}},
      {"calls denied", [](CheckFacts& f) { f.callPermission = CallPermission::kDenied; }, 1,
       {L"PROBLEM  AppID {BDBB0F90-863E-4814-820F-1657390654B0}: AccessPermission does not let ", L"\"Permission denied\" (0x80070005), scripts error 70", L"deletes the value and runs /RegServer", L"removes any entry that denies it"}},
      {"access list that is no descriptor", [](CheckFacts& f) { f.callPermission = CallPermission::kNotADescriptor; }, 1, {L"AccessPermission is not a security descriptor: COM refuses every call"}},
      {"access list that could not be asked", [](CheckFacts& f) { f.callPermission = CallPermission::kNotChecked; }, 0, {L"INFO     AppID {BDBB0F90-863E-4814-820F-1657390654B0}: AccessPermission could not be asked"}},
      {"starts allowed", [](CheckFacts& f) { f.launchPermission = CallPermission::kAllowed; }, 0, {L"OK       AppID {BDBB0F90-863E-4814-820F-1657390654B0}: LaunchPermission lets "}},
      {"starts denied", [](CheckFacts& f) { f.launchPermission = CallPermission::kDenied; }, 1,
       {L"PROBLEM  AppID {BDBB0F90-863E-4814-820F-1657390654B0}: LaunchPermission does not let ", L"start the server and reach it: clients get \"Permission denied\" (0x80070005), scripts error 70", L"deletes the value, so that the machine's defaults apply", L"Local Launch and Local Activation"}},
      {"launch list that is no descriptor", [](CheckFacts& f) { f.launchPermission = CallPermission::kNotADescriptor; }, 1, {L"LaunchPermission is not a security descriptor: COM refuses every start"}},
      {"per-user class", [](CheckFacts& f) { f.views[0].localServer.from = RegistrationScope::kUser; f.views[0].localServer.hidesMachine = true; }, 0,
       {L"HKEY_CURRENT_USER\\Software\\Classes, which hides the machine-wide"}},
      {"class not registered", [](CheckFacts& f) { f.views[0].localServer = f.views[1].localServer = {}; }, 2,
       {L"32-bit view: class {BDBB0F90-863E-4814-820F-1657390654B0} is not registered: 32-bit clients get \"Class not registered\" (0x80040154)",
        L"Fix: run \"C:\\Q\\QuandrelCom.exe\" /RegServer as administrator"}},
      // COM starts a server of the other bitness when there is none of the client's own.
      {"class in the other view only", [](CheckFacts& f) { f.views[1].localServer = {}; }, 0,
       {L"INFO     32-bit view: class {BDBB0F90-863E-4814-820F-1657390654B0} is not registered in this view: 32-bit clients start the server that the 64-bit view registers"}},
      {"class in the other view only, a preferred server bitness", [](CheckFacts& f) { f.views[1].localServer = {}; f.preferredServerBitness = ServerBitness::kClients; }, 1,
       {L"PROBLEM  32-bit view: class {BDBB0F90-863E-4814-820F-1657390654B0} is not registered: 32-bit clients get"}},
      // A server bitness named for every client: the other view's class is not what they start.
      {"class in the other view only, the 64-bit server for all", [](CheckFacts& f) { f.views[1].localServer = {}; f.preferredServerBitness = ServerBitness::kSixtyFour; }, 0,
       {L"INFO     32-bit view: class {BDBB0F90-863E-4814-820F-1657390654B0}: the AppID's PreferredServerBitness sends 32-bit clients to the server that the 64-bit view registers"}},
      {"class in the 32-bit view only, the 64-bit server for all", [](CheckFacts& f) { f.views[0].localServer = {}; f.preferredServerBitness = ServerBitness::kSixtyFour; }, 2,
       {L"PROBLEM  64-bit view: class {BDBB0F90-863E-4814-820F-1657390654B0} is not registered: 64-bit clients get",
        L"PROBLEM  32-bit view: class {BDBB0F90-863E-4814-820F-1657390654B0} is not registered in the 64-bit view, to whose server the AppID's PreferredServerBitness sends 32-bit clients: they get error 429"}},
      {"another copy in the 64-bit view, the 32-bit server for all", [](CheckFacts& f) { f.views[0].server.fullPath = L"C:\\Old\\QuandrelCom.exe"; f.preferredServerBitness = ServerBitness::kThirtyTwo; }, 0,
       {L"INFO     64-bit view: class {BDBB0F90-863E-4814-820F-1657390654B0}: the AppID's PreferredServerBitness sends 64-bit clients to the server that the 32-bit view registers"}},
      {"class in the other view only, of another copy", [](CheckFacts& f) { f.views[0].localServer = {}; f.views[1].server.fullPath = L"C:\\Old\\QuandrelCom.exe"; }, 1,
       {L"INFO     64-bit view: class", L"PROBLEM  32-bit view: LocalServer32 names another copy"}},
      {"names no program", [](CheckFacts& f) { f.views[0].localServer.hasValue = false; f.views[0].server = {}; }, 1, {L"64-bit view: LocalServer32 of the class names no program"}},
      {"relative path", [](CheckFacts& f) { f.views[0].localServer.data = L"QuandrelCom.exe"; f.views[0].server = {L"QuandrelCom.exe", false, L""}; }, 1,
       {L"LocalServer32 names QuandrelCom.exe, which is not a full path"}},
      {"moved", [](CheckFacts& f) { f.views[1].server.exists = false; }, 1, {L"32-bit view: LocalServer32 names C:\\Q\\QuandrelCom.exe, which does not exist"}},
      {"another copy", [](CheckFacts& f) { f.views[1].server.fullPath = L"C:\\Old\\QuandrelCom.exe"; }, 1, {L"LocalServer32 names another copy, C:\\Q\\QuandrelCom.exe", L"run /Check from that one"}},
      // The current user's keys hide the machine-wide ones: only a per-user registration mends them.
      {"per-user class of another copy", [](CheckFacts& f) { f.views[0].localServer.from = RegistrationScope::kUser; f.views[0].server.fullPath = L"C:\\Old\\QuandrelCom.exe"; }, 1,
       {L"Fix: run \"C:\\Q\\QuandrelCom.exe\" /RegServerPerUser to serve from this copy"}},
      {"per-user class of a moved copy, per-user ProgID of another class",
       [](CheckFacts& f) { f.views[1].localServer.from = f.views[1].progIdClass.from = RegistrationScope::kUser; f.views[1].localServer.hidesMachine = true; f.views[1].server.exists = false; f.views[1].progIdClass.data = L"{00000000-0000-0000-0000-000000000001}"; }, 2,
       {L"which does not exist (moved or deleted): COM cannot start it. Fix: run \"C:\\Q\\QuandrelCom.exe\" /RegServerPerUser: this user's clients find the current user's registration, which hides the machine-wide one",
        L"CreateObject creates that one. Fix: run \"C:\\Q\\QuandrelCom.exe\" /RegServerPerUser: this user's clients find the current user's registration."}},
      {"path too long",
       [](CheckFacts& f) { f.exePath = L"C:\\" + std::wstring(244, L'q') + L"\\QuandrelCom.exe"; for (ViewFacts& v : f.views) v.server.fullPath = f.exePath; }, 1,
       {L"this server's path has 263 characters; COM and the type library need fewer than 260"}},
      {"path just short enough",
       [](CheckFacts& f) { f.exePath = L"C:\\" + std::wstring(240, L'q') + L"\\QuandrelCom.exe"; for (ViewFacts& v : f.views) v.server.fullPath = f.exePath; }, 0,
       {L"LocalServer32 starts this executable"}, {L"characters"}},
      {"unquoted with a blank", [](CheckFacts& f) { Serve(f, L"C:\\a b\\QuandrelCom.exe", L"C:\\a b\\QuandrelCom.exe"); f.install = {}; }, 2,
       {L"64-bit view: LocalServer32 is not quoted and its path holds a blank: COM tries C:\\a.exe first, and a program placed there runs instead of this server",
        L"/RegServer"}},
      {"unquoted without a blank", [](CheckFacts& f) { Serve(f, L"C:\\Q\\QuandrelCom.exe", L"C:\\Q\\QuandrelCom.exe"); }, 0, {L"LocalServer32 starts this executable"}, {L"not quoted"}},
      {"text after the program", [](CheckFacts& f) { f.views[0].localServer.data = L"\"C:\\Q\\QuandrelCom.exe\" /automation"; }, 1,
       {L"LocalServer32 has \"/automation\" after the program: COM adds -Embedding, the server refuses two switches"}},
      {"ProgID and interface", [](CheckFacts& f) { f.views[0].progIdClass = {}; f.views[0].proxyStub.data = L"{00000000-0000-0000-0000-000000000000}"; f.views[1].typeLib[0] = {}; }, 3,
       {L"CreateObject(\"Korvane.QuandrelCom\") fails with error 429", L"not the automation marshaller", L"has no win32 or win64 entry"}},
      {"ProgID names another class", [](CheckFacts& f) { f.views[1].progIdClass.data = L"{00000000-0000-0000-0000-000000000001}"; }, 1,
       {L"ProgID Korvane.QuandrelCom names another class, {00000000-0000-0000-0000-000000000001}: CreateObject creates that one"}},
      {"interface not registered", [](CheckFacts& f) { f.views[0].proxyStub = f.views[0].interfaceTypeLib = {}; }, 1,
       {L"64-bit view: Interface\\{79D8CD39-F512-46E7-8935-7A60569F6F2F} is not registered: early-bound 64-bit clients get \"Interface not registered\""}},
      {"interface names another version of the library", [](CheckFacts& f) { f.views[0].interfaceTypeLibVersion.data = L"garbage"; }, 1,
       {L"TypeLib {33609DAE-7AF8-4E00-BFF4-E1B69E14EC41} version garbage, not the automation marshaller"}},
      {"interface without a version", [](CheckFacts& f) { f.views[0].interfaceTypeLibVersion = {}; }, 1, {L"version (none)"}},
      {"type library entry names no file", [](CheckFacts& f) { f.views[0].typeLib[0].hasValue = false; f.views[0].typeLibFile[0] = {}; }, 1, {L"64-bit view: type library entry win32 names no file"}},
      {"type library entry relative", [](CheckFacts& f) { f.views[0].typeLibFile[0] = {L"QuandrelCom.exe", false, L""}; }, 1,
       {L"type library entry win32 names QuandrelCom.exe, which is not a full path"}},
      {"type library file missing", [](CheckFacts& f) { f.views[0].typeLibFile[0].exists = false; }, 1, {L"type library entry win32 names C:\\Q\\QuandrelCom.exe, which does not exist"}},
      {"type library entry names a file without one",
       [](CheckFacts& f) { f.views[1].typeLibFile[0] = {L"C:\\windows\\notepad.exe", true, L"C:\\windows\\notepad.exe"}; f.views[1].typeLibContent[0] = {TYPE_E_CANTLOADLIBRARY, L"", 0, 0}; }, 1,
       {L"32-bit view: type library entry win32 names C:\\windows\\notepad.exe, which holds no type library (error 0x80029C4A)"}},
      {"type library entry names another library", [](CheckFacts& f) { f.views[1].typeLibContent[0] = {S_OK, L"{00020430-0000-0000-C000-000000000046}", 2, 0}; }, 1,
       {L"which holds type library {00020430-0000-0000-C000-000000000046} version 2.0, not {33609DAE-7AF8-4E00-BFF4-E1B69E14EC41} version 1.0"}},
      {"type library of another version", [](CheckFacts& f) { f.views[1].typeLibContent[0].minor = 1; }, 1, {L"version 1.1, not"}},
      {"garbage", [](CheckFacts& f) { f.library.defect = PeDefect::kTruncated; }, 1, {L"quandrelsdk.dll cannot be loaded: the file is cut short"}},
      {"other bitness", [](CheckFacts& f) { f.library.machine = 0x8664; }, 1, {L"quandrelsdk.dll is built for x64 (64-bit), this server for x86 (32-bit)", L"error 48"}},
      {"no export", [](CheckFacts& f) { f.library.exportNames = {"Other"}; }, 1, {L"has no export KorvaneQuandrelConverter: Quandrel fails with error 453"}},
      {"library the engine needs beside it, of the other bitness", [](CheckFacts& f) { f.unusableLibraries = {{L"helper.dll", L"quandrelsdk.dll", true, {PeDefect::kNone, 0x8664, true, {}, {}}}}; }, 1,
       {L"PROBLEM  quandrelsdk.dll needs helper.dll, which is in C:\\Q but cannot be loaded (it is built for x64 (64-bit)): Quandrel fails with error 48 (Error in loading DLL). Fix: copy the engine's own x86 (32-bit) helper.dll into C:\\Q."}},
      {"library the engine needs, of an older version",
       [](CheckFacts& f) { f.unusableLibraries = {{L"MSVCP140.dll", L"quandrelsdk.dll", false, {}, L"C:\\Windows\\SysWOW64\\MSVCP140.dll", {L"_Thrd_sleep_for", L"_Other"}}}; }, 1,
       {L"PROBLEM  quandrelsdk.dll needs _Thrd_sleep_for and 1 more from MSVCP140.dll, which C:\\Windows\\SysWOW64\\MSVCP140.dll does not export (an older version?): Quandrel fails with error 48 (Error in loading DLL). Fix: install the version of MSVCP140.dll that the engine needs (such as the current release of its runtime libraries), or copy the engine's own MSVCP140.dll into C:\\Q."},
       {L"OK       quandrelsdk.dll"}},
      {"library of Windows' own, of an older Windows", [](CheckFacts& f) { f.unusableLibraries = {{L"KERNEL32.dll", L"quandrelsdk.dll", false, {}, L"C:\\Windows\\SysWOW64\\KERNEL32.dll", {L"GetSystemTimePreciseAsFileTime"}, true}}; }, 1,
       {L"PROBLEM  quandrelsdk.dll needs GetSystemTimePreciseAsFileTime from KERNEL32.dll, which C:\\Windows\\SysWOW64\\KERNEL32.dll does not export: this Windows is older than the engine needs, Quandrel fails with error 48 (Error in loading DLL). Fix: run the engine on a Windows version it supports, or install the Windows update that adds GetSystemTimePreciseAsFileTime."},
       {L"copy the engine's own"}},
      {"libraries the engine needs missing", [](CheckFacts& f) { f.unusableLibraries = {{L"runtime.dll", L"quandrelsdk.dll"}, {L"deep.dll", L"helper.dll"}}; }, 2,
       {L"PROBLEM  quandrelsdk.dll needs runtime.dll, which is neither in C:\\Q nor in C:\\Windows\\SysWOW64: Quandrel fails with error 53 (File not found). Fix: install what the engine needs (such as its runtime libraries), or copy runtime.dll into C:\\Q.",
        L"PROBLEM  quandrelsdk.dll needs deep.dll (for helper.dll), which is neither"}, {L"OK       quandrelsdk.dll"}},
      {"library the engine program needs missing, and one beside it of the other bitness",
       [](CheckFacts& f) { f.programUnusableLibraries = {{L"runtime.dll", L"quandrel.dll"}, {L"helper.dll", L"quandrel.dll", true, {PeDefect::kNone, 0x8664, true, {}, {}}}}; }, 2,
       {L"PROBLEM  quandrel.dll needs runtime.dll, which is in none of C:\\Q, C:\\Windows\\SysWOW64, the Windows folder and the folders on PATH: its process ends before it starts, and QuandrelRunCmd returns no output. Fix: install what the engine needs (such as its runtime libraries), or copy runtime.dll into C:\\Q.",
        L"PROBLEM  quandrel.dll needs helper.dll, which is in C:\\Q but cannot be loaded (it is built for x64 (64-bit)): its process ends before it starts, and QuandrelRunCmd returns no output. Fix: copy the engine's own x86 (32-bit) helper.dll into C:\\Q."},
       {L"OK       quandrel.dll", L"Quandrel fails"}},
      {"library too large to read", [](CheckFacts& f) { f.libraryTooLarge = true; f.library = {}; }, 0, {L"INFO     quandrelsdk.dll is larger than 64 MiB"}},
      {"engine program that this Windows cannot start", [](CheckFacts& f) { f.windowsMachine = 0x14c; f.program.machine = 0x8664; }, 1,
       {L"PROBLEM  quandrel.dll is built for x64 (64-bit), which this Windows (x86 (32-bit)) cannot start: QuandrelRunCmd returns \"failed to execute command\". Fix: copy the engine's x86 (32-bit) quandrel.dll into C:\\Q."}},
      {"engine program of the other bitness, which this Windows starts", [](CheckFacts& f) { f.program.machine = 0x8664; }, 0, {L"OK       quandrel.dll is present, a program"}},
      {"x64 engine program on ARM64 Windows", [](CheckFacts& f) { f.windowsMachine = 0xaa64; f.program.machine = 0x8664; }, 0, {L"OK       quandrel.dll is present, a program"}},
      {"ARM64 engine program on x64 Windows", [](CheckFacts& f) { f.program.machine = 0xaa64; }, 1, {L"quandrel.dll is built for ARM64 (64-bit), which this Windows (x64 (64-bit)) cannot start"}},
      {"engine program too large to read", [](CheckFacts& f) { f.program = {}; }, 0, {L"OK       quandrel.dll is present, a program"}},
      {"engine program on a Windows that cannot be told", [](CheckFacts& f) { f.windowsMachine = 0; f.program.machine = 0xaa64; }, 0, {L"OK       quandrel.dll is present, a program"}},
      {"no engine, read-only folder", [](CheckFacts& f) { f.libraryPresent = f.programPresent = false; f.logFolder = FolderAccess::kNotWritable; }, 2,
       {L"error 53", L"quandrel.dll is not in C:\\Q", L"INFO     C:\\Q is not writable"}},
      {"folders named like the engine files", [](CheckFacts& f) { f.libraryPresent = f.programPresent = false; f.libraryIsFolder = f.programIsFolder = true; }, 2,
       {L"Fix: remove the folder C:\\Q\\quandrelsdk.dll, then copy the engine's quandrelsdk.dll", L"Fix: remove the folder C:\\Q\\quandrel.dll, then copy"}},
      {"engine program that is a library or no program at all", [](CheckFacts& f) { f.program.isDll = true; }, 1,
       {L"quandrel.dll cannot be started: it is a library, not a program; QuandrelRunCmd returns \"failed to execute command\""}, {L"OK       quandrel.dll"}},
      {"engine program that is text", [](CheckFacts& f) { f.program.defect = PeDefect::kNotAnImage; }, 1,
       {L"quandrel.dll cannot be started: it is not a Windows program or library"}},
      {"log folder unknown", [](CheckFacts& f) { f.logFolder = FolderAccess::kUnknown; }, 0, {L"INFO     Whether C:\\Q is writable for _debug.log cannot be told."}},
      {"folder that users may change",
       [](CheckFacts& f) {
         f.install.files[0].entries.push_back({true, false, 0x1301bf, kAuthenticatedUsers, L"NT AUTHORITY\\Authenticated Users"});
         f.install.files[3].ownerSid = kAnn;
         f.install.files[3].owner.clear();
       }, 2,
       {L"PROBLEM  C:\\Q may be changed by NT AUTHORITY\\Authenticated Users, not only by administrators",
        L"PROBLEM  C:\\Q\\quandrel.dll may be changed by S-1-5-21-1-2-3-1001 (its owner)",
        L"Fix: install machine-wide only into a folder that only administrators may change"}},
      // Registered for one user, the installation is that user's own: others are all but the user.
      {"folder that the user owns, registered per user",
       [](CheckFacts& f) { f.install.files[0].ownerSid = kAnn; for (ViewFacts& v : f.views) v.localServer.from = RegistrationScope::kUser; }, 0,
       {L"OK       64-bit view: class", L"OK       only you and administrators may change the server's folder"}, {L"may be changed"}},
      {"folder that all users may change, registered per user",
       [](CheckFacts& f) { f.install.files[0].entries.push_back({true, false, 0x1301bf, kAuthenticatedUsers, L"NT AUTHORITY\\Authenticated Users"}); for (ViewFacts& v : f.views) v.localServer.from = RegistrationScope::kUser; }, 1,
       {L"PROBLEM  C:\\Q may be changed by NT AUTHORITY\\Authenticated Users, not only by you and administrators: your clients start the server as you, so whoever may change it can run programs as you. Fix: register for one user only from a folder that only you and administrators may change"}},
      {"folder above that others may rename",
       [](CheckFacts& f) { f.install.files.back().entries.push_back({true, false, FILE_DELETE_CHILD, kEveryone, L"Everyone"}); }, 1,
       {L"PROBLEM  C:\\, above the installation, lets Everyone rename what it holds, not only administrators, and so put another folder in the installation's place: the server runs as each user who starts it"}},
      {"folder whose access list cannot be read", [](CheckFacts& f) { f.install.files[0].read = E_ACCESSDENIED; }, 0,
       {L"INFO     Who may change C:\\Q cannot be told (error 0x80070005)."}, {L"only administrators may change"}},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CheckFacts facts = Healthy();
    c.breakIt(facts);
    const CheckReport report = ConcludeCheck(facts);
    std::wstring text;
    int problemLines = 0;
    for (const CheckLine& line : report.lines) {
      text += FormatCheckLine(line) + L"\n";
      problemLines += line.verdict == Verdict::kProblem;
    }
    EXPECT_EQ(report.problems, c.problems) << testing::PrintToString(text);
    EXPECT_EQ(problemLines, c.problems);
    for (bool wanted : {true, false})
      for (const std::wstring& part : wanted ? c.said : c.notSaid)
        EXPECT_EQ(text.find(part) != std::wstring::npos, wanted)
            << testing::PrintToString(part) << "\n"
            << testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace korvane::test
