// What /Check reads: the registry views as the current user sees them, the files beside the
// server, and their permissions. Reads only; ConcludeCheck (self_check.h) judges.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "server/host/self_check.h"

namespace korvane::server::host {

// Everything the check needs about the executable at `exePath`. Writes nothing.
CheckFacts GatherCheckFacts(const std::wstring& exePath);

// Where the loader finds a library that another one needs. One beside the server is read, for
// what it needs in turn; the system's own libraries are taken to be whole, and a file found in a
// folder is read for the functions it exports. Past the server's folder, a file that the loader
// does not take (`LoaderTakes`) is passed over, as the loader passes over it.
struct LibraryLookup {
  enum class Where { kNowhere, kBeside, kSystem };
  Where where = Where::kNowhere;
  win::PeImage image;       // of the file found
  std::wstring path = {};   // the file found; none for a side-by-side assembly or an API set
  bool windowsOwn = false;  // a KnownDLLs library, which the loader takes from the system folder
};

// The libraries that `library` (named `libraryName`) needs, directly or through the ones found
// beside the server, that `lookup` finds nowhere, finds beside the server damaged or built for
// another machine type than `library`, or finds without a function that the needing one takes
// from it by name (not judged when the file found exports no names at all, or cannot be read).
// Each is named once, with the first library that needs it; a missing function once per library
// that takes it. `lookup` is asked for each name once, with the library that needs it.
std::vector<UnusableLibrary> FindUnusableLibraries(
    const win::PeImage& library, const std::wstring& libraryName,
    const std::function<LibraryLookup(const std::wstring& name, const std::wstring& neededBy)>&
        lookup);

// Whether the loader of a process built for `process` takes a library whose header names `file`:
// one of its own machine type, or, in the system folder of Windows on Arm (`windows`), one whose
// header names Arm64 for an x64 process, taken to be Arm64X as the system's own are (a plain
// Arm64 library there would not load; the header does not tell them apart).
bool LoaderTakes(uint16_t file, uint16_t process, uint16_t windows, bool inSystemFolder);

// An AppID's access list (SDDL) as it applies to this user: the user owns the copy that is asked
// (an access check needs an owner and a group), and in AccessPermission, where `selfIsTheUser`,
// the server's own identity ("PS", principal self) is the user who starts it. A launch list is
// asked before there is a server, so there it stands for no one.
std::wstring DescriptorForCaller(std::wstring_view sddl, std::wstring_view userSid,
                                 bool selfIsTheUser);

// Whether `size` bytes hold a whole self-relative security descriptor: its owner, group and
// access lists lie inside them, and each list's entries inside the list (the system's own
// validation trusts their offsets and sizes).
bool DescriptorFitsIn(const BYTE* bytes, size_t size);

// Whether an access list tells local calls from remote ones. One written before they were told
// apart grants COM_RIGHTS_EXECUTE alone in every entry, which then means both; in any other, COM
// reads every entry the newer way (the two kinds are not to be mixed in one list).
bool TellsLocalFromRemote(const ACL* list);

// Whether the rights granted to a caller let it call the server from this machine, under a list
// that does or does not tell local from remote calls.
bool LetsCallLocally(ACCESS_MASK granted, bool localFromRemote);

// Whether the rights a launch list grants a client let it start the server from this machine and
// reach it once started (local launch and local activation in a list that tells them apart).
bool LetsLaunchLocally(ACCESS_MASK granted, bool localFromRemote);

// The owners and access lists of the server's folder, the server and the engine files there,
// and who the local administrators are.
InstallSecurity GatherInstallSecurity(const std::wstring& exePath);

// The owner and access list of one file or folder (GetNamedSecurityInfoW).
GuardedFile ReadGuardedFile(const std::wstring& path);

// What the file at `path` holds as a type library, loaded for reading only (not registered).
TypeLibContent ReadTypeLibContent(const std::wstring& path);

// Whether this user's clients may have `access` to the file or folder, asked of its security
// descriptor; nothing is created to find out.
bool MayAccess(const std::wstring& path, DWORD access);

// Whether EnableDebugLog could write _debug.log in `folder`: append to the log that is there,
// or create one.
FolderAccess LogFolderAccess(const std::wstring& folder);

}  // namespace korvane::server::host
