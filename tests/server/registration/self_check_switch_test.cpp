// QuandrelCom.exe /Check as a user runs it: a clean registration with the engine beside the
// server passes; each broken item is named with its fix, the exit code counts the problems, and
// the check itself changes nothing in the registry or the folder.
#include <gtest/gtest.h>

#include <functional>

#include "host/registration.h"
#include "registry_tree.h"
#include "server_install.h"
#include "win/unique_hkey.h"

namespace korvane::test {
namespace {

void PutEngine(const ServerInstall& at, const char* library = KORVANE_ENGINE_SDK) {
  CopyFileOrFail(WindowsPathOf(library), at.file(L"quandrelsdk.dll"));
  CopyFileOrFail(WindowsPathOf(KORVANE_ENGINE_EXE), at.file(L"quandrel.dll"));
}

win::UniqueHkey MachineClasses(REGSAM view) {
  win::UniqueHkey key;
  EXPECT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_ALL_ACCESS | view,
                            key.put()),
            ERROR_SUCCESS);
  return key;
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(SelfCheckSwitch, PassesWhenCleanAndNamesEachBrokenItemWithItsFix) {
  const bool twoViews = server::IsSixtyFourBitWindows();
  const std::string other = sizeof(void*) == 8 ? "x86 (32-bit)" : "x64 (64-bit)";
  struct Case {
    const char* name;
    // Breaks the registered copy or the other one; returns the copy to check.
    std::function<const ServerInstall*(ServerInstall& registered, ServerInstall& another)> breakIt;
    uint32_t problems;
    std::vector<std::string> said;
  } cases[] = {
      {"clean",
       [](ServerInstall& r, ServerInstall&) { return &r; },
       0,
       {"no problems", "OK       quandrelsdk.dll"}},
      {"missing view",
       [](ServerInstall& r, ServerInstall&) {
         DeleteKeyTree(MachineClasses(KEY_WOW64_32KEY).get(),
                       std::wstring(L"CLSID\\") + kClsidText);
         return &r;
       },
       1,
       {twoViews ? "PROBLEM  32-bit view: class {" : "PROBLEM  registry: class {",
        "is not registered", "QuandrelCom.exe\" /RegServer"}},
      {"moved executable",
       [](ServerInstall& r, ServerInstall& a) {
         EXPECT_TRUE(::MoveFileExW(r.exe().c_str(), a.exe().c_str(), MOVEFILE_REPLACE_EXISTING));
         return &a;
       },
       twoViews ? 4u : 2u,
       {", which does not exist (moved or deleted)", "QuandrelCom.exe\" /RegServer"}},
      {"engine of the other bitness",
       [](ServerInstall& r, ServerInstall&) {
         PutEngine(r, KORVANE_OTHER_BITNESS_SDK);
         return &r;
       },
       1,
       {"is built for " + other, "error 48", "use the QuandrelCom.exe built for " + other}},
      {"library without the export",
       [](ServerInstall& r, ServerInstall&) {
         PutEngine(r, KORVANE_NOEXPORT_SDK);
         return &r;
       },
       1,
       {"has no export KorvaneQuandrelConverter", "error 453", "copy the engine's own"}},
      {"registration of another copy",
       [](ServerInstall&, ServerInstall& a) { return &a; },
       twoViews ? 2u : 1u,
       {"LocalServer32 names another copy", "/RegServer to serve from this copy"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServerInstall registered{L"registered copy"};
    ServerInstall another{L"another copy"};
    PutEngine(registered);
    PutEngine(another);
    registered.Register();
    const ServerInstall* checked = c.breakIt(registered, another);

    const RegistryTree before64 = ReadRegistration(MachineClasses(KEY_WOW64_64KEY).get());
    const RegistryTree before32 = ReadRegistration(MachineClasses(KEY_WOW64_32KEY).get());
    ProcessResult run = checked->Run(L"/Check");
    EXPECT_EQ(run.exitCode, c.problems) << run.output;
    EXPECT_EQ(Count(run.output, "\nPROBLEM  "), static_cast<int>(c.problems)) << run.output;
    for (const std::string& part : c.said)
      EXPECT_NE(run.output.find(part), std::string::npos) << part << "\n" << run.output;
    EXPECT_EQ(ReadRegistration(MachineClasses(KEY_WOW64_64KEY).get()), before64);
    EXPECT_EQ(ReadRegistration(MachineClasses(KEY_WOW64_32KEY).get()), before32);
    EXPECT_FALSE(FileExists(checked->logPath()));

    // The registered copy unregisters itself when it goes.
    if (!FileExists(registered.exe())) CopyFileOrFail(another.exe(), registered.exe());
  }
}

}  // namespace
}  // namespace korvane::test
