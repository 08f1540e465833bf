// QuandrelCom.exe /Check: what a client of either bitness will find in the registry, and whether
// the engine files beside the server can serve it. It reads and never writes (no key, no file, no
// log), so it needs no elevation. The conclusions are plain functions of the gathered facts;
// GatherCheckFacts is the only part that reads the registry and the files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/registration.h"
#include "win/pe_image.h"

namespace korvane::server {

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

// One registry view (KEY_WOW64_64KEY, KEY_WOW64_32KEY, or 0 on a 32-bit Windows).
struct ViewFacts {
  REGSAM view = 0;
  MergedValue localServer;  // CLSID\{clsid}\LocalServer32
  NamedFile server;
  MergedValue progIdClass;       // <ProgID>\CLSID
  MergedValue proxyStub;         // Interface\{iid}\ProxyStubClsid32
  MergedValue interfaceTypeLib;  // Interface\{iid}\TypeLib
  MergedValue typeLib[2];        // TypeLib\{libid}\1.0\0\win32 and ...\win64
  NamedFile typeLibFile[2];
};

enum class FolderAccess { kUnknown, kWritable, kNotWritable };

struct CheckFacts {
  std::wstring exePath;  // full, long-name form
  uint16_t machine = 0;  // this server's IMAGE_FILE_MACHINE_*
  std::wstring userName;
  std::vector<ViewFacts> views;
  bool libraryPresent = false;  // quandrelsdk.dll beside the server
  win::PeImage library;
  bool programPresent = false;  // quandrel.dll beside the server
  FolderAccess logFolder = FolderAccess::kUnknown;
};

enum class Verdict { kOk, kProblem, kInfo };

struct CheckLine {
  Verdict verdict;
  std::wstring text;
};

struct CheckReport {
  std::vector<CheckLine> lines;
  int problems = 0;
};

// The program a LocalServer32 value starts: the quoted part, or an unquoted path up to the end
// of its ".exe", without the arguments that may follow.
std::wstring ServerPathOf(std::wstring_view localServer32);

// Whether two full paths name the same file (case-insensitive; a "\\?\" prefix is ignored).
bool SamePath(std::wstring_view a, std::wstring_view b);

// What the check concludes: one line per item, and the number of problems.
CheckReport ConcludeCheck(const CheckFacts& facts);

// The line as printed: "OK", "PROBLEM" or "INFO", then the text.
std::wstring FormatCheckLine(const CheckLine& line);

// Reads everything the check needs about the executable at `exePath` (registry views as the
// current user sees them, the files beside it). Writes nothing.
CheckFacts GatherCheckFacts(const std::wstring& exePath);

}  // namespace korvane::server
