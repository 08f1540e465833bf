// QuandrelCom.exe /Check: what a client of either bitness will find in the registry, and whether
// the engine files beside the server can serve it. It reads and never writes (no key, no file, no
// log), so it needs no elevation. The conclusions here are plain functions of the gathered facts;
// self_check_facts.h reads the registry and the files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/win/pe_image.h"
#include "server/host/registration.h"
#include "server/host/server_command.h"

namespace korvane::server::host {

// A value as the merged view of the classes root shows it: a key of the current user's
// Software\Classes hides the machine's key of the same name.
struct MergedValue {
  bool found = false;                                    // the key is in one of the two hives
  RegistrationScope from = RegistrationScope::kMachine;  // the hive whose key was found
  bool hidesMachine = false;  // from the user's hive while the machine's has the key too
  bool hasValue = false;      // the key has the value
  std::wstring data;
};

// A file a registry value names.
struct NamedFile {
  std::wstring path;  // as written in the value, arguments and quotes removed
  bool exists = false;
  std::wstring fullPath;  // full, long-name form; compared with the running executable's
};

// What a type library entry's file holds, read without registering it.
struct TypeLibContent {
  HRESULT loaded = E_FAIL;  // S_OK when the file holds a type library, else why not
  std::wstring libid;
  uint16_t major = 0;
  uint16_t minor = 0;
};

// What an access list of the class's AppID (AccessPermission: calls; LaunchPermission: starting
// and reaching the server) says about this user.
enum class CallPermission {
  kMachineDefault,  // no value: the machine's defaults (the server's own user calls; the
                    // administrators, the system and interactive users start servers)
  kAllowed,
  kDenied,
  kNotADescriptor,  // COM refuses every call, or every start
  kNotChecked,      // the value is a descriptor, but asking it failed here
};

// What the AppID's PreferredServerBitness asks of COM.
enum class ServerBitness {
  kEither,     // no value: the client's own, else the other one
  kClients,    // 1 (and any value COM does not document): the client's own only
  kThirtyTwo,  // 2: the 32-bit view's, for every client
  kSixtyFour,  // 3: the 64-bit view's, for every client
};

// One registry view (KEY_WOW64_64KEY, KEY_WOW64_32KEY, or 0 on a 32-bit Windows).
struct ViewFacts {
  REGSAM view = 0;
  MergedValue localServer;  // CLSID\{clsid}\LocalServer32
  NamedFile server;
  MergedValue progIdClass;              // <ProgID>\CLSID
  MergedValue proxyStub;                // Interface\{iid}\ProxyStubClsid32
  MergedValue interfaceTypeLib;         // Interface\{iid}\TypeLib
  MergedValue interfaceTypeLibVersion;  // its Version value
  MergedValue typeLib[2];               // TypeLib\{libid}\1.0\0\win32 and ...\win64
  NamedFile typeLibFile[2];
  TypeLibContent typeLibContent[2];
};

enum class FolderAccess { kUnknown, kWritable, kNotWritable };

// One entry of an access list, as far as the installation check weighs it.
struct AccessEntry {
  bool allows = true;        // an allowing entry, else a denying one
  bool inheritOnly = false;  // for the folder's future content only, not the folder itself
  ACCESS_MASK mask = 0;
  std::wstring sid;      // "S-1-5-32-545"
  std::wstring account;  // "BUILTIN\Users"; empty when the SID has no name
};

// Where a guarded file or folder stands: part of the installation, or a folder above it whose
// renaming, or the renaming of what it holds, would put another folder in the installation's
// place (the root of a volume cannot itself be renamed).
enum class GuardedRole { kInstalled, kAbove, kVolumeRoot };

// The owner and access list of a file or folder of the installation, or of one above it.
struct GuardedFile {
  std::wstring path;
  bool isFolder = false;
  HRESULT read = E_FAIL;  // S_OK when the security descriptor was read, else why not
  bool hasDacl = true;    // false: a null access list, which lets everyone do anything
  std::wstring ownerSid;
  std::wstring owner;
  std::vector<AccessEntry> entries;  // in the list's order
  GuardedRole role = GuardedRole::kInstalled;
};

// Who may change the server's folder and files: they run as every user who starts the server.
struct InstallSecurity {
  // The folder, the server, the engine files that are there, then each folder above the folder.
  std::vector<GuardedFile> files;
  // The accounts in the local Administrators group (SIDs): what they may do, an administrator
  // may do anyway.
  std::vector<std::wstring> administrators;
  // The user who reads these facts (SID): whom a registration for one user runs the server as.
  std::wstring userSid;
};

// A library that an engine file needs, directly or through a library beside the server
// (`neededBy`), that the loader cannot use: found in none of the folders it searches, found
// beside the server damaged or built for another machine type (`beside`), or found at `path`
// without functions that `neededBy` takes from it by name (`missingFunctions`: an older version).
struct UnusableLibrary {
  std::wstring name;
  std::wstring neededBy;
  bool beside = false;
  win::PeImage image = {};  // when beside
  std::wstring path = {};
  std::vector<std::wstring> missingFunctions = {};
  bool windowsOwn = false;  // one of Windows' own libraries (KnownDLLs), which no copy replaces
};

struct CheckFacts {
  std::wstring exePath;         // full, long-name form
  uint16_t machine = 0;         // this server's IMAGE_FILE_MACHINE_*
  uint16_t windowsMachine = 0;  // what Windows itself runs on; 0 when it cannot be told
  std::wstring userName;
  std::vector<ViewFacts> views;
  // The class's AppID's PreferredServerBitness: which view's server COM starts for a client.
  ServerBitness preferredServerBitness = ServerBitness::kEither;
  CallPermission callPermission = CallPermission::kMachineDefault;
  CallPermission launchPermission = CallPermission::kMachineDefault;
  bool libraryPresent = false;   // quandrelsdk.dll beside the server
  bool libraryTooLarge = false;  // larger than kMaxLibraryBytes, so not read
  win::PeImage library;
  bool programPresent = false;  // quandrel.dll beside the server
  FolderAccess logFolder = FolderAccess::kUnknown;
  InstallSecurity install;
  // The folder the loader searches after the server's for the libraries the engine library
  // needs: the system folder of the server's bitness.
  std::wstring systemFolder;
  std::vector<UnusableLibrary> unusableLibraries;  // of quandrelsdk.dll
  // Of quandrel.dll, whose process the loader also serves from the Windows folder and PATH.
  std::vector<UnusableLibrary> programUnusableLibraries;
  // A folder stands where quandrelsdk.dll or quandrel.dll should be: no file can be put there.
  bool libraryIsFolder = false;
  bool programIsFolder = false;
  // quandrel.dll's headers, when it is present and not larger than kMaxLibraryBytes.
  win::PeImage program;
};

// More than any engine library holds; a larger file is not read.
inline constexpr uint64_t kMaxLibraryBytes = 64ull << 20;

enum class Verdict { kOk, kProblem, kInfo };

struct CheckLine {
  Verdict verdict;
  std::wstring text;
};

struct CheckReport {
  std::vector<CheckLine> lines;
  int problems = 0;
};

// The folders above a folder, from its parent up to the root of its volume ("C:\a\b": "C:\a",
// "C:\"; "\\srv\share\a": "\\srv\share\").
std::vector<std::wstring> FoldersAbove(std::wstring_view folder);

// The accounts other than Administrators, SYSTEM, TrustedInstaller and `administrators` that may
// write, append to, delete, or change the access list or the owner of `file` (and, for a folder,
// add files or folders to it or delete what it holds), by name where it has one. Of a folder
// above the installation only what leads to its replacement counts: renaming it, renaming what
// it holds, or changing its access list or owner. The owner may always change the access list
// unless an OWNER RIGHTS entry says otherwise. A denying entry takes away what it names from its
// own SID and, for Everyone, from every SID.
std::vector<std::wstring> WhoMayChange(const GuardedFile& file,
                                       const std::vector<std::wstring>& administrators);

// One problem text per file or folder of an installation registered in `scope` that others may
// change: anyone but administrators for a machine-wide one, anyone but them and the user for the
// user's own. /Check counts them, /RegServer and /RegServerPerUser warn with them.
std::vector<std::wstring> ChangeableByOthers(const InstallSecurity& install,
                                             RegistrationScope scope);

// Whether a Windows that runs on `windowsMachine` starts programs built for `machine`: its own,
// and x86 on 64-bit Windows; x64 on ARM64 too, which Windows 11 emulates. Either unknown (0):
// yes, since nothing can be told.
bool WindowsRuns(uint16_t windowsMachine, uint16_t machine);

// What the check concludes: one line per item, and the number of problems.
CheckReport ConcludeCheck(const CheckFacts& facts);

// The line as printed: "OK", "PROBLEM" or "INFO", then the text.
std::wstring FormatCheckLine(const CheckLine& line);

}  // namespace korvane::server::host
