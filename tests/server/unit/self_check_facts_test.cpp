// What /Check reads from the files themselves, under Wine: whether the log could be written, who
// may change the installation, and what a file holds as a type library. Wine keeps a file's
// access list as its Unix mode: Everyone's rights can be set and read back, the owner's write
// right cannot be taken away, so a folder this user may not write is not made here.
#include "server/host/self_check_facts.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>

#include "common/win/guid_text.h"
#include "common/win/module_path.h"
#include "common/win/unique_handle.h"
#include "common/win/unique_local.h"
#include "server/com/quandrelcom.h"
#include "testing/support/test_support.h"

namespace korvane::test {
using namespace server::host;

namespace {

using test::SetAccessList;
using test::TempDir;

std::wstring OwnSid() {
  HANDLE raw = nullptr;
  EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw));
  win::UniqueHandle token(raw);
  alignas(TOKEN_USER) BYTE buffer[256];
  DWORD size = 0;
  EXPECT_TRUE(::GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size));
  win::UniqueLocal<wchar_t> text;
  EXPECT_TRUE(
      ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, text.put()));
  return text.get();
}

TEST(SelfCheckFacts, LogFolderAccessAsksTheFolderOrTheLogForThisUser) {
  enum Log { kNoLog, kLog, kReadOnlyLog, kNoFolder };
  struct Case {
    const char* name;
    Log log;
    FolderAccess access;
    bool mayAddFile;  // to the folder itself
  } cases[] = {
      {"folder without a log", kNoLog, FolderAccess::kWritable, true},
      {"folder with a log", kLog, FolderAccess::kWritable, true},
      {"read-only log", kReadOnlyLog, FolderAccess::kNotWritable, true},
      {"missing folder", kNoFolder, FolderAccess::kUnknown, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir(L"log folder");
    const std::wstring log = dir / L"_debug.log";
    if (c.log == kLog || c.log == kReadOnlyLog) test::WriteFileBytes(log, "line\r\n");
    if (c.log == kReadOnlyLog) {
      EXPECT_TRUE(::SetFileAttributesW(log.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    const std::wstring folder = c.log == kNoFolder ? dir / L"missing" : dir.path();
    EXPECT_EQ(LogFolderAccess(folder), c.access);
    EXPECT_EQ(MayAccess(folder, FILE_ADD_FILE), c.mayAddFile);
    // So the folder can go.
    ::SetFileAttributesW(log.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

TEST(SelfCheckFacts, InstallSecurityReadsTheAccessListsOfTheFolderAndItsFiles) {
  TempDir dir(L"install");
  const std::wstring folder = dir / L"app", exe = folder + L"\\QuandrelCom.exe";
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  test::WriteFileBytes(exe, "MZ");
  test::WriteFileBytes(folder + L"\\quandrelsdk.dll", "MZ");
  const std::wstring own = OwnSid();
  const std::wstring ownOnly = L"D:(A;;FA;;;" + own + L")(A;;FA;;;SY)";
  const std::wstring everyone = L"D:(A;;FA;;;" + own + L")(A;;FA;;;SY)(A;;FA;;;WD)";
  struct Case {
    const char* name;
    std::wstring aboveList, folderList, exeList;
    std::vector<std::wstring> changeable;  // what the problems name
  } cases[] = {
      {"the owner, an administrator, and SYSTEM only", ownOnly, ownOnly, ownOnly, {}},
      {"Everyone may change the folder",
       ownOnly,
       everyone,
       ownOnly,
       {folder + L" may be changed by "}},
      {"Everyone may change the server",
       ownOnly,
       ownOnly,
       everyone,
       {exe + L" may be changed by "}},
      {"Everyone may rename the folder above",
       everyone,
       ownOnly,
       ownOnly,
       {dir.path() + L", above the installation, lets "}},
  };
  const std::vector<std::wstring> above = FoldersAbove(folder);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetAccessList(dir.path(), c.aboveList);
    SetAccessList(folder, c.folderList);
    SetAccessList(exe, c.exeList);
    const InstallSecurity install = GatherInstallSecurity(exe);
    // The folder, the server and quandrelsdk.dll, then each folder above, the root last.
    ASSERT_EQ(install.files.size(), 3 + above.size());
    EXPECT_TRUE(install.files[0].isFolder);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(install.files[i].read, S_OK);
      EXPECT_EQ(install.files[i].ownerSid, own);
      EXPECT_EQ(install.files[i].role, GuardedRole::kInstalled);
    }
    EXPECT_EQ(install.files[3].path, dir.path());
    EXPECT_EQ(install.files[3].role, GuardedRole::kAbove);
    EXPECT_EQ(install.files.back().role, GuardedRole::kVolumeRoot);
    EXPECT_NE(std::find(install.administrators.begin(), install.administrators.end(), own),
              install.administrators.end())
        << "Wine's user is a local administrator";
    EXPECT_EQ(install.userSid, own);
    const std::vector<std::wstring> problems =
        ChangeableByOthers(install, RegistrationScope::kMachine);
    ASSERT_EQ(problems.size(), c.changeable.size()) << testing::PrintToString(problems);
    for (size_t i = 0; i < problems.size(); ++i) {
      EXPECT_EQ(problems[i].rfind(c.changeable[i], 0), 0u) << test::Narrow(problems[i]);
      EXPECT_NE(problems[i].find(L"Everyone"), std::wstring::npos) << test::Narrow(problems[i]);
    }
  }
  SetAccessList(dir.path(), ownOnly);
  SetAccessList(folder, ownOnly);
  const GuardedFile missing = ReadGuardedFile(dir / L"missing.dll");
  EXPECT_TRUE(FAILED(missing.read));
}

TEST(SelfCheckFacts, TypeLibContentIsReadFromTheFileWithoutRegisteringIt) {
  // This test program carries the server's resources, its type library among them.
  const TypeLibContent own = ReadTypeLibContent(win::RunningExecutablePath());
  EXPECT_EQ(own.loaded, S_OK);
  EXPECT_EQ(own.libid, win::GuidText(LIBID_Korvane));
  EXPECT_EQ(own.major, 1);
  EXPECT_EQ(own.minor, 0);
  EXPECT_TRUE(FAILED(ReadTypeLibContent(test::WindowsPathOf(KORVANE_ENGINE_SDK)).loaded));
  TempDir dir(L"typelib");
  test::WriteFileBytes(dir / L"text.tlb", "not a type library");
  EXPECT_TRUE(FAILED(ReadTypeLibContent(dir / L"text.tlb").loaded));
  EXPECT_TRUE(FAILED(ReadTypeLibContent(dir / L"missing.tlb").loaded));
}

// LocalServer32 may name the server by another spelling of its path than the one it runs under.
TEST(SelfCheckFacts, ShortAndDottedSpellingsOfAFileCompareEqualOnceFullAndLong) {
  TempDir dir(L"spelling");
  const std::wstring exe = dir / L"Quandrel Com Server.exe";
  test::WriteFileBytes(exe, "");
  const std::wstring shortPath = win::ShortPathOf(exe);
  ASSERT_EQ(shortPath.find(L"Quandrel Com Server.exe"), std::wstring::npos) << "no short name";
  for (const std::wstring& spelling : {shortPath, dir / L".\\Quandrel Com Server.exe"})
    EXPECT_TRUE(SamePath(win::FullLongPath(spelling), win::FullLongPath(exe)))
        << test::Narrow(spelling);
}

TEST(SelfCheckFacts, EngineLibraryIsReadUpToItsCap) {
  struct Case {
    const char* name;
    uint64_t size;  // 0: the reference engine's library
    bool tooLarge;
    bool exports;
  } cases[] = {
      {"the reference engine", 0, false, true},
      {"exactly the cap", kMaxLibraryBytes, false, false},
      {"one byte more", kMaxLibraryBytes + 1, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir(L"engine");
    const std::wstring exe = dir / L"QuandrelCom.exe";
    const std::wstring library = dir / L"quandrelsdk.dll";
    test::WriteFileBytes(exe, "MZ");
    if (c.size == 0) {
      test::CopyFileOrFail(test::WindowsPathOf(KORVANE_ENGINE_SDK), library);
    } else {
      ASSERT_NO_FATAL_FAILURE(test::WriteSizedFile(library, c.size));
    }
    const CheckFacts facts = GatherCheckFacts(exe);
    EXPECT_TRUE(facts.libraryPresent);
    EXPECT_EQ(facts.libraryTooLarge, c.tooLarge);
    EXPECT_EQ(facts.library.exportNames == std::vector<std::string>{"KorvaneQuandrelConverter"},
              c.exports);
  }
}

}  // namespace
}  // namespace korvane::test
