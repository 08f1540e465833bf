// QuandrelCom.exe /Check as a user runs it: a clean registration with the engine beside the
// server passes; each broken item is named with its fix, the exit code counts the problems, and
// the check itself changes nothing in the registry or the folder.
#include <windows.h>

#include <gtest/gtest.h>
#include <sddl.h>

#include <functional>

#include "common/win/module_path.h"
#include "common/win/registry.h"
#include "common/win/unique_hkey.h"
#include "common/win/unique_local.h"
#include "server/host/registration.h"
#include "server/host/self_check.h"
#include "testing/support/server_install.h"
#include "tests/fixtures/sdk_fixtures.h"
#include "tests/server/registration/registry_tree.h"

namespace korvane::test {
namespace {

void PutEngine(const ServerInstall& at, const char* library = KORVANE_ENGINE_SDK) {
  CopyFileOrFail(WindowsPathOf(library), at.file(L"quandrelsdk.dll"));
  CopyFileOrFail(WindowsPathOf(KORVANE_ENGINE_EXE), at.file(L"quandrel.dll"));
}

win::UniqueHkey MachineClasses(REGSAM view) {
  return OpenClasses(HKEY_LOCAL_MACHINE, KEY_ALL_ACCESS | view);
}

// Sets a value of the class's keys in one view of the machine's Software\Classes.
void SetValue(REGSAM view, const std::wstring& key, const wchar_t* name, DWORD type,
              const void* data, DWORD bytes) {
  win::UniqueHkey opened;
  ASSERT_EQ(::RegOpenKeyExW(MachineClasses(view).get(), key.c_str(), 0, KEY_SET_VALUE | view,
                            opened.put()),
            ERROR_SUCCESS)
      << Narrow(key);
  ASSERT_EQ(::RegSetValueExW(opened.get(), name, 0, type, static_cast<const BYTE*>(data), bytes),
            ERROR_SUCCESS)
      << Narrow(key);
}

void SetText(REGSAM view, const std::wstring& key, const wchar_t* name, const std::wstring& text) {
  SetValue(view, key, name, REG_SZ, text.c_str(),
           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// A value of the AppID, which COM reads in the 64-bit view on a 64-bit Windows.
void SetAppIdValue(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  SetValue(win::IsSixtyFourBitWindows() ? KEY_WOW64_64KEY : 0,
           std::wstring(L"AppID\\") + kClsidText, name, type, data, bytes);
}

// Sets an access list of the AppID: the descriptor of `sddl`, or `sddl`'s bytes as they are.
void SetAccessPermission(const std::wstring& sddl, bool asDescriptor = true,
                         const wchar_t* name = L"AccessPermission") {
  win::UniqueLocal<> descriptor;
  ULONG bytes = static_cast<ULONG>(sddl.size() * sizeof(wchar_t));
  if (asDescriptor) {
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        sddl.c_str(), SDDL_REVISION_1, descriptor.put(), &bytes));
  }
  SetAppIdValue(name, REG_BINARY,
                asDescriptor ? descriptor.get() : static_cast<const void*>(sddl.data()), bytes);
}

const std::wstring kLocalServer = std::wstring(L"CLSID\\") + kClsidText + L"\\LocalServer32";

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

struct Case {
  const char* name;
  // Breaks the registered copy or the other one; returns the copy to check.
  std::function<const ServerInstall*(ServerInstall& registered, ServerInstall& another)> breakIt;
  uint32_t problems;
  std::vector<std::string> said;
  bool needsOtherBuild = false;  // the engine library of the other bitness's build tree
  void (*undo)() = nullptr;      // puts back what the row changed beyond the two copies
};

// An assembly manifest's element: "assembly" (with the identity `name` and `content`) or
// "assemblyIdentity" (a reference to `name`), for this build's processor.
std::string AssemblyManifest(const std::string& element, const std::string& name,
                             const std::string& content) {
  const std::string identity = "<assemblyIdentity type=\"win32\" name=\"" + name +
                               "\" version=\"1.0.0.0\" processorArchitecture=\"" +
                               (kOwnBits == 64 ? "amd64" : "x86") + "\"/>";
  if (element != "assembly") return identity;
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><assembly "
         "xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">" +
         identity + content + "</assembly>";
}

// The private assembly Korvane.Fixture.Runtime beside `at`, which holds the fixture library.
void PutFixtureAssembly(const ServerInstall& at) {
  const std::wstring assembly = at.file(L"Korvane.Fixture.Runtime");
  EXPECT_TRUE(::CreateDirectoryW(assembly.c_str(), nullptr));
  WriteFileBytes(assembly + L"\\Korvane.Fixture.Runtime.manifest",
                 AssemblyManifest("assembly", "Korvane.Fixture.Runtime",
                                  "<file name=\"korvane_fixture_dependency.dll\"/>"));
  CopyFileOrFail(WindowsPathOf(KORVANE_SDK_DEPENDENCY),
                 assembly + L"\\" + fixture::kDependencyFileName);
}

// The engine program that needs the fixture library, and that library (`built`) in the folder
// `tools` beside the server, marked as built for `machine` (0: as it was built).
std::wstring PutProgramAndItsLibraryInTools(const ServerInstall& at,
                                            const wchar_t* tools = L"tools", uint16_t machine = 0,
                                            const char* built = KORVANE_SDK_DEPENDENCY) {
  CopyFileOrFail(WindowsPathOf(KORVANE_DEPENDENT_PROGRAM), at.file(L"quandrel.dll"));
  const std::wstring folder = at.file(tools);
  EXPECT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring library = folder + L"\\" + fixture::kDependencyFileName;
  CopyFileOrFail(WindowsPathOf(built), library);
  if (machine) SetMachine(library, machine);
  return folder;
}

// The fixture library in this process's system folder, which the server's bitness shares.
std::wstring FixtureInTheSystemFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length) + L"\\" + fixture::kDependencyFileName;
}

void SetRegistryText(HKEY root, const wchar_t* key, const wchar_t* name, const std::wstring& text,
                     DWORD type = REG_SZ) {
  EXPECT_EQ(::RegSetKeyValueW(root, key, name, type, text.c_str(),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

// The system's environment, which Windows (and Wine, which leaves out the user's own variables)
// builds a started server's from. Its Path as it was before a row changed it.
constexpr wchar_t kSystemEnvironment[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
std::wstring savedSystemPath;

void AddToSystemPath(const std::wstring& folder) {
  wchar_t path[32767];
  DWORD bytes = sizeof path;
  ASSERT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, kSystemEnvironment, L"Path",
                           RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, path, &bytes),
            ERROR_SUCCESS);
  savedSystemPath = path;
  SetRegistryText(HKEY_LOCAL_MACHINE, kSystemEnvironment, L"Path", savedSystemPath + L";" + folder,
                  REG_EXPAND_SZ);
}

void RestoreSystemPath() {
  SetRegistryText(HKEY_LOCAL_MACHINE, kSystemEnvironment, L"Path", savedSystemPath, REG_EXPAND_SZ);
}
// The machine type of the other build.
constexpr uint16_t kOtherMachine =
    sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;
constexpr wchar_t kKnownLibraries[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\KnownDLLs";

// Names the row in test names and messages.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> Cases() {
  const bool twoViews = win::IsSixtyFourBitWindows();
  const std::string other = sizeof(void*) == 8 ? "x86 (32-bit)" : "x64 (64-bit)";
  // The view of this build's own bitness, which holds its type library entry.
  static const REGSAM view = twoViews ? server::host::OwnTypeLibView(true) : 0;
  using Copies = ServerInstall&;
  // clang-format off
  return {
      {"Clean", [](Copies r, Copies) { return &r; }, 0, {"no problems", "OK       quandrelsdk.dll", "OK       quandrel.dll is present, a program", "AccessPermission lets "}},
      // COM asks the AppID's access list with the server's own identity standing for the caller.
      {"AccessPermissionLeavingThisUserOut", [](Copies r, Copies) { SetAccessPermission(L"O:BAG:BAD:(A;;0x3;;;SY)"); return &r; }, 1,
       {"AccessPermission does not let ", "scripts error 70"}},
      {"AccessPermissionDenyingThisUser", [](Copies r, Copies) { SetAccessPermission(L"O:BAG:BAD:(D;;0x1;;;PS)(A;;0x3;;;WD)"); return &r; }, 1, {"AccessPermission does not let "}},
      // Granted execute and local activation, but no local execute, in a list that tells the two apart.
      {"AccessPermissionOfTheNewKindWithoutLocalExecute", [](Copies r, Copies) { SetAccessPermission(L"O:BAG:BAD:(A;;0x9;;;PS)(A;;0x3;;;SY)"); return &r; }, 1, {"AccessPermission does not let "}},
      // A start is asked of the client alone: the server's own identity is no one yet.
      {"LaunchPermissionForTheServersOwnIdentity", [](Copies r, Copies) { SetAccessPermission(L"O:BAG:BAD:(A;;0xb;;;PS)(A;;0xb;;;SY)", true, L"LaunchPermission"); return &r; }, 1,
       {"LaunchPermission does not let ", "start the server and reach it"}},
      {"LaunchPermissionForInteractiveUsers", [](Copies r, Copies) { SetAccessPermission(L"O:BAG:BAD:(A;;0xb;;;IU)(A;;0xb;;;SY)", true, L"LaunchPermission"); return &r; }, 0,
       {"LaunchPermission lets ", "no problems"}},
      {"AccessPermissionOfTheOldKindForEveryone", [](Copies r, Copies) { SetAccessPermission(L"O:BAG:BAD:(A;;0x1;;;WD)"); return &r; }, 0, {"AccessPermission lets ", "no problems"}},
      {"AccessPermissionThatIsNoDescriptor", [](Copies r, Copies) { SetAccessPermission(L"not a descriptor at all", false); return &r; }, 1,
       {"AccessPermission is not a security descriptor"}},
      // On a 64-bit Windows COM starts the class the other view registers.
      {"MissingView",
       [](Copies r, Copies) { DeleteKeyTree(MachineClasses(KEY_WOW64_32KEY).get(), std::wstring(L"CLSID\\") + kClsidText, KEY_WOW64_32KEY); return &r; }, twoViews ? 0u : 1u,
       {twoViews ? "INFO     32-bit view: class {" : "PROBLEM  registry: class {", "is not registered", twoViews ? "32-bit clients start the server that the 64-bit view registers" : "QuandrelCom.exe\" /RegServer"}},
      {"MissingViewWithAPreferredServerBitness",
       [](Copies r, Copies) {
         DeleteKeyTree(MachineClasses(KEY_WOW64_32KEY).get(), std::wstring(L"CLSID\\") + kClsidText, KEY_WOW64_32KEY);
         const DWORD match = 1;  // a server of the client's own bitness only
         SetAppIdValue(L"PreferredServerBitness", REG_DWORD, &match, sizeof match);
         return &r;
       }, 1, {twoViews ? "PROBLEM  32-bit view: class {" : "PROBLEM  registry: class {", "is not registered"}},
      {"MissingViewWithTheSixtyFourBitServerForAll",
       [](Copies r, Copies) {
         DeleteKeyTree(MachineClasses(KEY_WOW64_32KEY).get(), std::wstring(L"CLSID\\") + kClsidText, KEY_WOW64_32KEY);
         const DWORD sixtyFour = 3;
         SetAppIdValue(L"PreferredServerBitness", REG_DWORD, &sixtyFour, sizeof sixtyFour);
         return &r;
       }, twoViews ? 0u : 1u, {twoViews ? "PreferredServerBitness sends 32-bit clients to the server that the 64-bit view registers" : "PROBLEM  registry: class {"}},
      {"MovedExecutable",
       [](Copies r, Copies a) { EXPECT_TRUE(::MoveFileExW(r.exe().c_str(), a.exe().c_str(), MOVEFILE_REPLACE_EXISTING)); return &a; },
       twoViews ? 4u : 2u, {", which does not exist (moved or deleted)", "QuandrelCom.exe\" /RegServer"}},
      {"EngineOfTheOtherBitness", [](Copies r, Copies) { PutEngine(r, KORVANE_OTHER_BITNESS_SDK); return &r; }, 1,
       {"is built for " + other, "error 48", "use the QuandrelCom.exe built for " + other}, true},
      {"LibraryWithoutTheExport", [](Copies r, Copies) { PutEngine(r, KORVANE_NOEXPORT_SDK); return &r; }, 1,
       {"has no export KorvaneQuandrelConverter", "error 453", "copy the engine's own"}},
      // The loader finds what the engine library needs beside the server or in the system folder.
      {"EngineLibraryNeedingALibraryThatIsNowhere", [](Copies r, Copies) { PutEngine(r, KORVANE_DEPENDENT_SDK); return &r; }, 1,
       {"quandrelsdk.dll needs korvane_fixture_dependency.dll, which is neither in ", "error 53", "copy korvane_fixture_dependency.dll into "}},
      {"EngineLibraryWithWhatItNeedsBesideIt",
       [](Copies r, Copies) {
         PutEngine(r, KORVANE_DEPENDENT_SDK);
         CopyFileOrFail(WindowsPathOf(KORVANE_SDK_DEPENDENCY), r.file(fixture::kDependencyFileName));
         return &r;
       }, 0, {"no problems", "OK       quandrelsdk.dll"}},
      {"EngineLibraryWithAnOlderVersionOfWhatItNeedsBesideIt",
       [](Copies r, Copies) {
         PutEngine(r, KORVANE_DEPENDENT_SDK);
         CopyFileOrFail(WindowsPathOf(KORVANE_OLD_SDK_DEPENDENCY), r.file(fixture::kDependencyFileName));
         return &r;
       }, 1, {"quandrelsdk.dll needs KorvaneFixtureDependencyAnswer from korvane_fixture_dependency.dll, which ", "does not export (an older version?)", "error 48"}},
      // The loader takes a known library from the system folder only, never a copy beside.
      {"EngineLibraryNeedingAKnownLibraryThatIsOnlyBesideIt",
       [](Copies r, Copies) {
         PutEngine(r, KORVANE_DEPENDENT_SDK);
         CopyFileOrFail(WindowsPathOf(KORVANE_SDK_DEPENDENCY), r.file(fixture::kDependencyFileName));
         SetRegistryText(HKEY_LOCAL_MACHINE, kKnownLibraries, L"KorvaneFixture", fixture::kDependencyFileName);
         return &r;
       }, 1, {"quandrelsdk.dll needs korvane_fixture_dependency.dll, which is neither in "}, false,
       [] { ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKnownLibraries, L"KorvaneFixture"); }},
      // A library larger than any is not read: taken to be whole, as the system's are.
      {"EngineLibraryWithALibraryTooLargeToReadBesideIt",
       [](Copies r, Copies) {
         PutEngine(r, KORVANE_DEPENDENT_SDK);
         WriteSizedFile(r.file(fixture::kDependencyFileName), server::host::kMaxLibraryBytes + 1);
         return &r;
       }, 0, {"no problems"}},
      // A library's own manifest takes what it needs from a side-by-side assembly, before any folder.
      {"EngineLibraryTakingWhatItNeedsFromAnAssembly",
       [](Copies r, Copies) { PutEngine(r, KORVANE_SXS_SDK); PutFixtureAssembly(r); return &r; }, 0, {"no problems"}},
      // So does the engine program's manifest file beside it, for its whole process.
      {"EngineProgramTakingWhatItNeedsFromAnAssemblyThroughItsManifestFile",
       [](Copies r, Copies) {
         CopyFileOrFail(WindowsPathOf(KORVANE_DEPENDENT_PROGRAM), r.file(L"quandrel.dll"));
         PutFixtureAssembly(r);
         WriteFileBytes(r.file(L"quandrel.dll.manifest"), AssemblyManifest("assembly", "Korvane.Fixture.Program", "<dependency><dependentAssembly>" + AssemblyManifest("assemblyIdentity", "Korvane.Fixture.Runtime", "") + "</dependentAssembly></dependency>"));
         return &r;
       }, 0, {"no problems", "OK       quandrel.dll is present, a program"}},
      // The engine program's process also finds what it needs on PATH.
      {"EngineProgramNeedingALibraryThatIsNowhere",
       [](Copies r, Copies) { CopyFileOrFail(WindowsPathOf(KORVANE_DEPENDENT_PROGRAM), r.file(L"quandrel.dll")); return &r; }, 1,
       {"quandrel.dll needs korvane_fixture_dependency.dll, which is in none of ", "QuandrelRunCmd returns no output", "copy korvane_fixture_dependency.dll into "}},
      // The PATH is the one COM gives the server: the user's and the system's, not a console's.
      {"EngineProgramFindingWhatItNeedsOnTheServersPath",
       [](Copies r, Copies) { AddToSystemPath(L"\"" + PutProgramAndItsLibraryInTools(r) + L"\""); return &r; }, 0,
       {"no problems", "OK       quandrel.dll is present, a program"}, false, RestoreSystemPath},
      // The loader passes over a library built for another machine type and searches on.
      {"EngineProgramWhoseLibraryOnThePathIsOnlyOneOfAnotherMachineType",
       [](Copies r, Copies) { AddToSystemPath(PutProgramAndItsLibraryInTools(r, L"tools", kOtherMachine)); return &r; }, 1,
       {"quandrel.dll needs korvane_fixture_dependency.dll, which is in none of "}, false, RestoreSystemPath},
      {"EngineProgramFindingWhatItNeedsOnThePathPastOneOfAnotherMachineType",
       [](Copies r, Copies) {
         const std::wstring other = PutProgramAndItsLibraryInTools(r, L"other", kOtherMachine);
         AddToSystemPath(other + L";" + PutProgramAndItsLibraryInTools(r));
         return &r;
       }, 0, {"no problems", "OK       quandrel.dll is present, a program"}, false, RestoreSystemPath},
      // The copy past it is the one judged: an older version there is named.
      {"EngineProgramFindingAnOlderVersionOnThePathPastOneOfAnotherMachineType",
       [](Copies r, Copies) {
         const std::wstring other = PutProgramAndItsLibraryInTools(r, L"other", kOtherMachine);
         AddToSystemPath(other + L";" + PutProgramAndItsLibraryInTools(r, L"tools", 0, KORVANE_OLD_SDK_DEPENDENCY));
         return &r;
       }, 1, {"quandrel.dll needs KorvaneFixtureDependencyAnswer from korvane_fixture_dependency.dll, which ", "does not export (an older version?)"}, false, RestoreSystemPath},
      // So does the system folder (Windows on Arm's exception is a row of the loader's table).
      {"EngineProgramWhoseLibraryInTheSystemFolderIsOfAnotherMachineType",
       [](Copies r, Copies) {
         CopyFileOrFail(WindowsPathOf(KORVANE_DEPENDENT_PROGRAM), r.file(L"quandrel.dll"));
         CopyFileOrFail(WindowsPathOf(KORVANE_SDK_DEPENDENCY), FixtureInTheSystemFolder());
         SetMachine(FixtureInTheSystemFolder(), kOtherMachine);
         return &r;
       }, 1, {"quandrel.dll needs korvane_fixture_dependency.dll, which is in none of "}, false,
       [] { EXPECT_TRUE(::DeleteFileW(FixtureInTheSystemFolder().c_str())); }},
      {"EngineProgramWhoseLibraryIsOnlyOnThisConsolesPath",
       [](Copies r, Copies) {
         const std::wstring tools = PutProgramAndItsLibraryInTools(r);
         wchar_t path[32767];
         const DWORD length = ::GetEnvironmentVariableW(L"PATH", path, 32767);
         EXPECT_TRUE(::SetEnvironmentVariableW(L"PATH", (std::wstring(path, length) + L";" + tools).c_str()));
         return &r;
       }, 1, {"quandrel.dll needs korvane_fixture_dependency.dll, which is in none of "}},
      {"EngineProgramForAMachineThisWindowsCannotStart", [](Copies r, Copies) { SetMachine(r.file(L"quandrel.dll"), 0xaa64); return &r; }, 1,
       {"quandrel.dll is built for ARM64 (64-bit), which this Windows (", "cannot start: QuandrelRunCmd returns \"failed to execute command\""}},
      {"EngineProgramThatIsALibrary",
       [](Copies r, Copies) { CopyFileOrFail(WindowsPathOf(KORVANE_ENGINE_SDK), r.file(L"quandrel.dll")); return &r; }, 1,
       {"quandrel.dll cannot be started: it is a library, not a program"}},
      {"RegistrationOfAnotherCopy", [](Copies, Copies a) { return &a; }, twoViews ? 2u : 1u,
       {"LocalServer32 names another copy", "/RegServer to serve from this copy"}},
      {"LocalServer32WithTheShortSpellingOfThisCopySPath",
       [](Copies r, Copies) {
         const std::wstring shortPath = win::ShortPathOf(r.exe());
         EXPECT_EQ(shortPath.find(L"registered copy"), std::wstring::npos) << "no short name";
         SetText(view, kLocalServer, nullptr, L"\"" + shortPath + L"\"");
         return &r;
       }, 0, {"no problems"}},
      // The copy's folder is named "registered copy". The other spellings of LocalServer32 (text
      // after the program among them) are rows of the self-check's unit table.
      {"UnquotedLocalServer32WithABlank", [](Copies r, Copies) { SetText(view, kLocalServer, nullptr, r.exe()); return &r; }, 1,
       {"LocalServer32 is not quoted and its path holds a blank: COM tries ", "\\registered.exe first", "/RegServer"}},
      {"RelativeLocalServer32CheckedFromTheServerSFolder",
       [](Copies r, Copies) { SetText(view, kLocalServer, nullptr, L"QuandrelCom.exe"); return &r; }, 1,
       {"LocalServer32 names QuandrelCom.exe, which is not a full path"}},
      {"LocalServer32WithAComponentLongerThanAFileName",
       [](Copies r, Copies) { SetText(view, kLocalServer, nullptr, L"\"C:\\" + std::wstring(1100, L'a') + L"\\QuandrelCom.exe\""); return &r; }, 1,
       {"QuandrelCom.exe, which does not exist"}},
      {"TypeLibraryEntryNamingAFileWithoutOneInterfaceNamingAnotherVersion",
       [](Copies r, Copies) {
         SetText(view, std::wstring(L"TypeLib\\") + kLibidText + L"\\1.0\\0\\" + server::host::kOwnTypeLibPlatform, nullptr, r.file(L"quandrelsdk.dll"));
         SetText(view, std::wstring(L"Interface\\") + kIidText + L"\\TypeLib", L"Version", L"garbage");
         return &r;
       },
       // Wine shares the type library's key between the views, as 64-bit Windows 7 and later do.
       twoViews ? 3u : 2u, {"quandrelsdk.dll, which holds no type library", "version garbage, not the automation"}},
      // What COM uses: the current user's registration hides the machine-wide one it reads.
      {"PerUserRegistrationHidingABrokenMachineWideOne",
       [](Copies r, Copies) { EXPECT_EQ(r.RunSwitch(L"/RegServerPerUser"), 0u); SetText(view, kLocalServer, nullptr, L"\"C:\\Gone\\QuandrelCom.exe\""); return &r; }, 0,
       {"HKEY_CURRENT_USER\\Software\\Classes, which hides the machine-wide registration", "no problems"}},
      {"FolderThatEveryoneMayChange",
       [](Copies r, Copies) {
         SetAccessList(r.folder(), L"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;WD)");
         // /RegServer warns the same way and registers all the same.
         const ProcessResult run = r.Run(L"/RegServer");
         EXPECT_EQ(run.exitCode, 0u) << run.output;
         EXPECT_NE(run.output.find("QuandrelCom: warning: " + Narrow(r.folder()) + " may be changed by Everyone"), std::string::npos) << run.output;
         return &r;
       }, 1, {"may be changed by Everyone, not only by administrators", "/RegServerPerUser"}},
  };
  // clang-format on
}

class SelfCheckSwitch : public ::testing::TestWithParam<Case> {};

TEST_P(SelfCheckSwitch, PassesWhenCleanAndNamesEachBrokenItemWithItsFix) {
  const Case& c = GetParam();
  if (c.needsOtherBuild && !FileExists(WindowsPathOf(KORVANE_OTHER_BITNESS_SDK)))
    GTEST_SKIP() << "the other bitness's build tree (" << KORVANE_OTHER_BITNESS_SDK
                 << ") is not built";
  ServerInstall registered{L"registered copy"};
  ServerInstall another{L"another copy"};
  PutEngine(registered);
  PutEngine(another);
  registered.Register();
  const ServerInstall* checked = c.breakIt(registered, another);

  const RegistryTree before64 =
      ReadRegistration(MachineClasses(KEY_WOW64_64KEY).get(), KEY_WOW64_64KEY);
  const RegistryTree before32 =
      ReadRegistration(MachineClasses(KEY_WOW64_32KEY).get(), KEY_WOW64_32KEY);
  ProcessResult run = checked->Run(L"/Check");
  EXPECT_EQ(run.exitCode, c.problems) << run.output;
  EXPECT_EQ(Count(run.output, "\nPROBLEM  "), static_cast<int>(c.problems)) << run.output;
  for (const std::string& part : c.said)
    EXPECT_NE(run.output.find(part), std::string::npos) << part << "\n" << run.output;
  EXPECT_EQ(ReadRegistration(MachineClasses(KEY_WOW64_64KEY).get(), KEY_WOW64_64KEY), before64);
  EXPECT_EQ(ReadRegistration(MachineClasses(KEY_WOW64_32KEY).get(), KEY_WOW64_32KEY), before32);
  EXPECT_FALSE(FileExists(checked->logPath()));

  if (KeyExists(OpenClasses(HKEY_CURRENT_USER, KEY_READ).get(), kClassKey)) {
    EXPECT_EQ(registered.RunSwitch(L"/UnregServerPerUser"), 0u);
  }
  if (c.undo) c.undo();
  // The registered copy unregisters itself when it goes, once its keys name it again.
  if (!FileExists(registered.exe())) CopyFileOrFail(another.exe(), registered.exe());
  registered.Register();
}

INSTANTIATE_TEST_SUITE_P(Rows, SelfCheckSwitch, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvane::test
