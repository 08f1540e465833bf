// The self-check's plain parts: the PE reader over images built here, the LocalServer32 path,
// and what the check concludes from gathered facts where the Wine test (server_registration_test)
// cannot easily break the registry or the engine files.
#include <gtest/gtest.h>

#include <functional>

#include "host/self_check.h"

namespace korvane::server {
namespace {

using win::PeDefect;

void Put(std::string& bytes, size_t at, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// A DLL with one section at file offset 0x200 (RVA 0x1000) holding the export table.
std::string Image(uint16_t machine, bool pe32Plus, const std::vector<std::string>& exports) {
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
  const size_t section = optional + optionalSize;
  Put(image, section + 8, static_cast<uint32_t>(data.size()), 4);
  Put(image, section + 12, 0x1000, 4);
  Put(image, section + 16, static_cast<uint32_t>(data.size()), 4);
  Put(image, section + 20, 0x200, 4);
  return image + data;
}

TEST(PeImage, ReadsMachineAndExportsOrNamesTheDefect) {
  const std::string x86 = Image(0x14c, false, {"KorvaneQuandrelConverter"});
  std::string badMagic = x86;
  Put(badMagic, 0x58, 0x999, 2);
  struct Case {
    const char* name;
    std::string bytes;
    PeDefect defect;
    uint16_t machine;
    std::vector<std::string> exports;
  } cases[] = {
      {"x86 engine", x86, PeDefect::kNone, 0x14c, {"KorvaneQuandrelConverter"}},
      {"x64, two exports",
       Image(0x8664, true, {"A", "KorvaneQuandrelConverter"}),
       PeDefect::kNone,
       0x8664,
       {"A", "KorvaneQuandrelConverter"}},
      {"no export", Image(0x14c, false, {}), PeDefect::kNone, 0x14c, {}},
      {"empty file", "", PeDefect::kNotAnImage, 0, {}},
      {"text", "This is not a library at all", PeDefect::kNotAnImage, 0, {}},
      {"DOS header only", "MZ", PeDefect::kTruncated, 0, {}},
      {"cut in the section table", x86.substr(0, 0x140), PeDefect::kTruncated, 0x14c, {}},
      {"cut in an export name", x86.substr(0, x86.size() - 3), PeDefect::kTruncated, 0x14c, {}},
      {"unknown optional header", badMagic, PeDefect::kMalformed, 0x14c, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const win::PeImage image = win::ReadPeImage(c.bytes);
    EXPECT_EQ(image.defect, c.defect);
    EXPECT_EQ(image.machine, c.machine);
    EXPECT_EQ(image.exportNames, c.exports);
  }
}

TEST(SelfCheck, ServerPathOfLocalServer32AndSamePath) {
  EXPECT_EQ(ServerPathOf(L"\"C:\\A B\\QuandrelCom.exe\" -Embedding"), L"C:\\A B\\QuandrelCom.exe");
  EXPECT_EQ(ServerPathOf(L"C:\\A B\\QuandrelCom.EXE /automation"), L"C:\\A B\\QuandrelCom.EXE");
  EXPECT_EQ(ServerPathOf(L"  C:\\Tools\\server.bin  "), L"C:\\Tools\\server.bin");
  EXPECT_TRUE(SamePath(L"\\\\?\\C:\\A\\QuandrelCom.exe", L"c:\\a\\quandrelcom.EXE"));
  EXPECT_FALSE(SamePath(L"C:\\A\\QuandrelCom.exe", L"C:\\B\\QuandrelCom.exe"));
  EXPECT_FALSE(SamePath(L"", L""));
}

// A 32-bit server on a 64-bit Windows, registered machine-wide, with the engine beside it.
CheckFacts Healthy() {
  const RegistrationKeys keys;
  const std::wstring exe = L"C:\\Q\\QuandrelCom.exe";
  auto value = [](std::wstring data) {
    return MergedValue{true, RegistrationScope::kMachine, false, true, std::move(data)};
  };
  CheckFacts facts{exe, 0x14c, L"ann", {}, true, {}, true, FolderAccess::kWritable};
  facts.library = {PeDefect::kNone, 0x14c, true, {"KorvaneQuandrelConverter"}};
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    ViewFacts v;
    v.view = view;
    v.localServer = value(L"\"" + exe + L"\"");
    v.server = {exe, true, exe};
    v.progIdClass = value(keys.clsid);
    v.proxyStub = value(kAutomationMarshaller);
    v.interfaceTypeLib = value(keys.libid);
    v.typeLib[0] = value(exe);
    v.typeLibFile[0] = {exe, true, exe};
    facts.views.push_back(v);
  }
  return facts;
}

TEST(SelfCheck, NamesEachBrokenItemWithItsFixAndCountsTheProblems) {
  struct Case {
    const char* name;
    std::function<void(CheckFacts&)> breakIt;
    int problems;
    std::vector<std::wstring> said;
  } cases[] = {
      {"healthy", [](CheckFacts&) {}, 0, {L"OK       32-bit view: LocalServer32 starts this"}},
      {"per-user class",
       [](CheckFacts& f) {
         f.views[0].localServer.from = RegistrationScope::kUser;
         f.views[0].localServer.hidesMachine = true;
       },
       0,
       {L"HKEY_CURRENT_USER\\Software\\Classes, which hides the machine-wide"}},
      {"ProgID and interface",
       [](CheckFacts& f) {
         f.views[0].progIdClass = {};
         f.views[0].proxyStub.data = L"{00000000-0000-0000-0000-000000000000}";
         f.views[1].typeLib[0] = {};
       },
       3,
       {L"CreateObject(\"Korvane.QuandrelCom\") fails with error 429",
        L"not the automation marshaller", L"has no win32 or win64 entry"}},
      {"garbage",
       [](CheckFacts& f) { f.library.defect = PeDefect::kTruncated; },
       1,
       {L"quandrelsdk.dll cannot be loaded: the file is cut short"}},
      {"no engine, read-only folder",
       [](CheckFacts& f) {
         f.libraryPresent = f.programPresent = false;
         f.logFolder = FolderAccess::kNotWritable;
       },
       2,
       {L"error 53", L"quandrel.dll is not in C:\\Q", L"INFO     C:\\Q is not writable"}},
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
    for (const std::wstring& part : c.said)
      EXPECT_NE(text.find(part), std::wstring::npos) << testing::PrintToString(part);
  }
}

}  // namespace
}  // namespace korvane::server
