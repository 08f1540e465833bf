#include "host/self_check.h"

#include <algorithm>
#include <vector>

#include "quandrelsdk.h"
#include "win/file_bytes.h"
#include "win/module_path.h"
#include "win/unique_handle.h"
#include "win/unique_hkey.h"

namespace korvane::server {

namespace {

constexpr wchar_t kPlatforms[2][6] = {L"win32", L"win64"};

bool SameText(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring ViewLabel(REGSAM view) {
  if (view == KEY_WOW64_64KEY) return L"64-bit view: ";
  if (view == KEY_WOW64_32KEY) return L"32-bit view: ";
  return L"registry: ";
}

std::wstring ClientsOf(REGSAM view) {
  if (view == KEY_WOW64_64KEY) return L"64-bit clients";
  if (view == KEY_WOW64_32KEY) return L"32-bit clients";
  return L"clients";
}

std::wstring Quoted(std::wstring_view text) { return L"\"" + std::wstring(text) + L"\""; }

std::wstring DefectText(win::PeDefect defect) {
  switch (defect) {
    case win::PeDefect::kNotAnImage:
      return L"it is not a Windows program or library";
    case win::PeDefect::kTruncated:
      return L"the file is cut short";
    case win::PeDefect::kMalformed:
      return L"its headers are damaged";
    case win::PeDefect::kNone:
      break;
  }
  return {};
}

class Report {
 public:
  void Ok(std::wstring text) { report_.lines.push_back({Verdict::kOk, std::move(text)}); }
  void Info(std::wstring text) { report_.lines.push_back({Verdict::kInfo, std::move(text)}); }
  void Problem(std::wstring text) {
    report_.lines.push_back({Verdict::kProblem, std::move(text)});
    ++report_.problems;
  }
  CheckReport Take() { return std::move(report_); }

 private:
  CheckReport report_;
};

// The registration keys of one view, as a client of that bitness finds them.
void ConcludeView(const CheckFacts& facts, const ViewFacts& view, Report& out) {
  const RegistrationKeys keys;
  const std::wstring at = ViewLabel(view.view);
  const std::wstring fix = L" Fix: run " + Quoted(facts.exePath) +
                           L" /RegServer as administrator (or /RegServerPerUser for the "
                           L"current user only).";

  if (!view.localServer.found) {
    out.Problem(at + L"class " + keys.clsid + L" is not registered: " + ClientsOf(view.view) +
                L" get \"Class not registered\" (0x80040154), scripts error 429." + fix);
  } else {
    out.Ok(at + L"class " + keys.clsid + L" from " + ClassesRootName(view.localServer.from) +
           (view.localServer.hidesMachine ? L", which hides the machine-wide registration" : L""));
    if (!view.localServer.hasValue || view.server.path.empty()) {
      out.Problem(at + L"LocalServer32 of the class names no program: COM cannot start a server." +
                  fix);
    } else if (!view.server.exists) {
      out.Problem(at + L"LocalServer32 names " + view.server.path +
                  L", which does not exist (moved or deleted): COM cannot start it." + fix);
    } else if (!SamePath(view.server.fullPath, facts.exePath)) {
      out.Problem(at + L"LocalServer32 names another copy, " + view.server.path + L": " +
                  ClientsOf(view.view) + L" start that one, not this one. Fix: run " +
                  Quoted(facts.exePath) +
                  L" /RegServer to serve from this copy, or run /Check from that one.");
    } else {
      out.Ok(at + L"LocalServer32 starts this executable");
    }
  }

  if (!view.progIdClass.found || !view.progIdClass.hasValue) {
    out.Problem(at + L"ProgID " + keys.progId + L" is not registered: CreateObject(" +
                Quoted(keys.progId) + L") fails with error 429." + fix);
  } else if (!SameText(view.progIdClass.data, keys.clsid)) {
    out.Problem(at + L"ProgID " + keys.progId + L" names another class, " + view.progIdClass.data +
                L": CreateObject creates that one." + fix);
  } else {
    out.Ok(at + L"ProgID " + keys.progId + L" names the class");
  }

  const bool proxyStubRight =
      view.proxyStub.hasValue && SameText(view.proxyStub.data, kAutomationMarshaller);
  const bool typeLibRight =
      view.interfaceTypeLib.hasValue && SameText(view.interfaceTypeLib.data, keys.libid);
  if (!view.proxyStub.found && !view.interfaceTypeLib.found) {
    out.Problem(at + keys.interfaceKey + L" is not registered: early-bound " +
                ClientsOf(view.view) + L" get \"Interface not registered\" (0x80040155)." + fix);
  } else if (!proxyStubRight || !typeLibRight) {
    out.Problem(at + keys.interfaceKey + L" has ProxyStubClsid32 " +
                (view.proxyStub.hasValue ? view.proxyStub.data : L"(none)") + L" and TypeLib " +
                (view.interfaceTypeLib.hasValue ? view.interfaceTypeLib.data : L"(none)") +
                L", not the automation marshaller " + kAutomationMarshaller + L" and " +
                keys.libid + L": calls through the interface cannot be marshalled." + fix);
  } else {
    out.Ok(at + keys.interfaceKey + L": proxy/stub by the automation marshaller, type library " +
           keys.libid);
  }

  bool anyEntry = false;
  for (int i = 0; i < 2; ++i) {
    const MergedValue& entry = view.typeLib[i];
    const NamedFile& file = view.typeLibFile[i];
    if (!entry.found) continue;
    anyEntry = true;
    const std::wstring name = at + L"type library entry " + kPlatforms[i];
    if (!entry.hasValue || file.path.empty()) {
      out.Problem(name + L" names no file: the interface cannot be marshalled." + fix);
    } else if (!file.exists) {
      out.Problem(name + L" names " + file.path +
                  L", which does not exist: the interface cannot be marshalled." + fix);
    } else {
      out.Ok(name + L": " + file.path +
             (SamePath(file.fullPath, facts.exePath) ? L" (this executable)" : L" (exists)"));
    }
  }
  if (!anyEntry) {
    out.Problem(at + keys.versionKey + L" has no win32 or win64 entry: early-bound " +
                ClientsOf(view.view) + L" get \"Interface not registered\" (0x80040155)." + fix);
  }
}

void ConcludeEngine(const CheckFacts& facts, Report& out) {
  const std::wstring folder = win::FolderOfPath(facts.exePath);
  const std::wstring library = engine_api::kLibraryFileNameW;
  const std::wstring program = engine_api::kExecutableFileNameW;
  const std::wstring exportName(std::begin(engine_api::kConverterExportName),
                                std::end(engine_api::kConverterExportName) - 1);
  const std::wstring own = win::MachineName(facts.machine);

  if (!facts.libraryPresent) {
    out.Problem(library + L" is not in " + folder +
                L": Quandrel fails with error 53 (File not found). Fix: copy the engine's " +
                library + L" and " + program + L" into " + folder + L".");
  } else if (facts.library.defect != win::PeDefect::kNone) {
    out.Problem(library + L" cannot be loaded: " + DefectText(facts.library.defect) +
                L"; Quandrel fails with error 48 (Error in loading DLL). Fix: copy the engine's "
                L"own " +
                library + L" into " + folder + L" again.");
  } else if (facts.library.machine != facts.machine) {
    const std::wstring theirs = win::MachineName(facts.library.machine);
    out.Problem(library + L" is built for " + theirs + L", this server for " + own +
                L": the server cannot load it, Quandrel fails with error 48 (Error in loading "
                L"DLL). Fix: put the engine's " +
                own + L" files here, or use the QuandrelCom.exe built for " + theirs + L".");
  } else if (std::find(facts.library.exportNames.begin(), facts.library.exportNames.end(),
                       engine_api::kConverterExportName) == facts.library.exportNames.end()) {
    out.Problem(library + L" has no export " + exportName +
                L": Quandrel fails with error 453. It is not the engine library, or a version "
                L"without that export. Fix: copy the engine's own " +
                library + L" into " + folder + L".");
  } else {
    out.Ok(library + L": " + own + L" like this server, exports " + exportName);
  }

  if (!facts.programPresent) {
    out.Problem(program + L" is not in " + folder +
                L": QuandrelRunCmd returns a \"file is not exist\" message instead of running "
                L"the engine. Fix: copy the engine's " +
                program + L" into " + folder + L".");
  } else {
    out.Ok(program + L" is present");
  }

  switch (facts.logFolder) {
    case FolderAccess::kWritable:
      out.Info(folder + L" is writable for this user: EnableDebugLog can write _debug.log there.");
      break;
    case FolderAccess::kNotWritable:
      out.Info(folder +
               L" is not writable for this user: EnableDebugLog writes no _debug.log there "
               L"(install the server in a folder the user can write to if the log is needed).");
      break;
    case FolderAccess::kUnknown:
      out.Info(L"Whether " + folder + L" is writable for _debug.log cannot be told.");
      break;
  }
}

}  // namespace

std::wstring ServerPathOf(std::wstring_view value) {
  while (!value.empty() && (value.front() == L' ' || value.front() == L'\t'))
    value.remove_prefix(1);
  if (!value.empty() && value.front() == L'"') {
    value.remove_prefix(1);
    return std::wstring(value.substr(0, value.find(L'"')));
  }
  // Unquoted: the path may hold blanks, so it ends after ".exe" followed by a blank or the end.
  constexpr std::wstring_view kExe = L".exe";
  for (size_t at = 0; at + kExe.size() <= value.size(); ++at) {
    const size_t end = at + kExe.size();
    if (SameText(value.substr(at, kExe.size()), kExe) &&
        (end == value.size() || value[end] == L' ' || value[end] == L'\t'))
      return std::wstring(value.substr(0, end));
  }
  while (!value.empty() && (value.back() == L' ' || value.back() == L'\t')) value.remove_suffix(1);
  return std::wstring(value);
}

bool SamePath(std::wstring_view a, std::wstring_view b) {
  for (std::wstring_view* path : {&a, &b})
    if (path->substr(0, 4) == L"\\\\?\\") path->remove_prefix(4);
  return !a.empty() && SameText(a, b);
}

CheckReport ConcludeCheck(const CheckFacts& facts) {
  Report out;
  out.Info(L"checking " + facts.exePath + L", a server for " + win::MachineName(facts.machine) +
           L", for " + (facts.userName.empty() ? L"the current user" : L"user " + facts.userName) +
           (facts.views.size() > 1 ? L" on a 64-bit Windows" : L""));
  for (const ViewFacts& view : facts.views) ConcludeView(facts, view, out);
  ConcludeEngine(facts, out);
  return out.Take();
}

std::wstring FormatCheckLine(const CheckLine& line) {
  switch (line.verdict) {
    case Verdict::kOk:
      return L"OK       " + line.text;
    case Verdict::kProblem:
      return L"PROBLEM  " + line.text;
    case Verdict::kInfo:
      break;
  }
  return L"INFO     " + line.text;
}

// The edge: the registry and the files, read only.

namespace {

bool OpenClassesKey(HKEY hive, REGSAM view, const std::wstring& key, win::UniqueHkey* out) {
  const std::wstring path = L"Software\\Classes\\" + key;
  return ::RegOpenKeyExW(hive, path.c_str(), 0, KEY_QUERY_VALUE | view, out->put()) ==
         ERROR_SUCCESS;
}

bool ReadText(HKEY key, const wchar_t* name, std::wstring* out) {
  DWORD bytes = 0;
  if (::RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
    return false;
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (::RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, value.data(), &bytes) !=
      ERROR_SUCCESS)
    return false;
  value.resize(::lstrlenW(value.c_str()));
  *out = std::move(value);
  return true;
}

MergedValue ReadMerged(REGSAM view, const std::wstring& key, const wchar_t* name = nullptr) {
  MergedValue merged;
  win::UniqueHkey user, machine;
  const bool inUser = OpenClassesKey(HKEY_CURRENT_USER, view, key, &user);
  const bool inMachine = OpenClassesKey(HKEY_LOCAL_MACHINE, view, key, &machine);
  if (!inUser && !inMachine) return merged;
  merged.found = true;
  merged.from = inUser ? RegistrationScope::kUser : RegistrationScope::kMachine;
  merged.hidesMachine = inUser && inMachine;
  merged.hasValue = ReadText(inUser ? user.get() : machine.get(), name, &merged.data);
  return merged;
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The full path with long names, so that a short (8.3) or relative spelling compares equal.
std::wstring FullLongPath(const std::wstring& path) {
  if (path.empty()) return {};
  std::wstring full(::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
  if (full.empty()) return path;
  full.resize(
      ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
  std::wstring longPath(::GetLongPathNameW(full.c_str(), nullptr, 0), L'\0');
  if (longPath.empty()) return full;
  longPath.resize(
      ::GetLongPathNameW(full.c_str(), longPath.data(), static_cast<DWORD>(longPath.size())));
  return longPath.empty() ? full : longPath;
}

NamedFile DescribeFile(std::wstring path) {
  NamedFile file;
  file.exists = IsFile(path);
  file.fullPath = FullLongPath(path);
  file.path = std::move(path);
  return file;
}

ViewFacts ReadView(REGSAM view) {
  const RegistrationKeys keys;
  ViewFacts facts;
  facts.view = view;
  facts.localServer = ReadMerged(view, keys.localServerKey());
  if (facts.localServer.hasValue) facts.server = DescribeFile(ServerPathOf(facts.localServer.data));
  facts.progIdClass = ReadMerged(view, keys.progIdClassKey());
  facts.proxyStub = ReadMerged(view, keys.proxyStubKey());
  facts.interfaceTypeLib = ReadMerged(view, keys.interfaceTypeLibKey());
  for (int i = 0; i < 2; ++i) {
    facts.typeLib[i] = ReadMerged(view, keys.typeLibEntryKey(kPlatforms[i]));
    if (facts.typeLib[i].hasValue) facts.typeLibFile[i] = DescribeFile(facts.typeLib[i].data);
  }
  return facts;
}

uint16_t OwnMachine() {
#if defined(__x86_64__) || defined(_M_X64)
  return IMAGE_FILE_MACHINE_AMD64;
#elif defined(__aarch64__) || defined(_M_ARM64)
  return IMAGE_FILE_MACHINE_ARM64;
#else
  return IMAGE_FILE_MACHINE_I386;
#endif
}

std::wstring UserName() {
  wchar_t name[257] = {};
  DWORD size = 257;
  return ::GetUserNameW(name, &size) ? std::wstring(name) : std::wstring();
}

// Asked of the file's security for this process's token, so nothing is created to find out.
bool MayAccess(const std::wstring& path, DWORD access) {
  const SECURITY_INFORMATION what =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  ::GetFileSecurityW(path.c_str(), what, nullptr, 0, &needed);
  if (needed == 0) return false;
  std::vector<BYTE> descriptor(needed);
  if (!::GetFileSecurityW(path.c_str(), what, descriptor.data(), needed, &needed)) return false;
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &raw)) return false;
  win::UniqueHandle process(raw);
  if (!::DuplicateToken(process.get(), SecurityImpersonation, &raw)) return false;
  win::UniqueHandle token(raw);
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                          FILE_ALL_ACCESS};
  alignas(PRIVILEGE_SET) BYTE privileges[256] = {};
  DWORD privilegesSize = sizeof privileges;
  DWORD granted = 0;
  BOOL allowed = FALSE;
  return ::AccessCheck(descriptor.data(), token.get(), access, &mapping,
                       reinterpret_cast<PRIVILEGE_SET*>(privileges), &privilegesSize, &granted,
                       &allowed) &&
         allowed;
}

FolderAccess LogFolderAccess(const std::wstring& folder) {
  const std::wstring log = win::FileInFolder(folder, L"_debug.log");
  const DWORD attributes = ::GetFileAttributesW(log.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_READONLY) return FolderAccess::kNotWritable;
    return MayAccess(log, FILE_APPEND_DATA) ? FolderAccess::kWritable : FolderAccess::kNotWritable;
  }
  if (::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
    return FolderAccess::kUnknown;
  return MayAccess(folder, FILE_ADD_FILE) ? FolderAccess::kWritable : FolderAccess::kNotWritable;
}

}  // namespace

CheckFacts GatherCheckFacts(const std::wstring& exePath) {
  CheckFacts facts;
  facts.exePath = FullLongPath(exePath);
  facts.machine = OwnMachine();
  facts.userName = UserName();
  for (REGSAM view : RegistryViews(IsSixtyFourBitWindows())) facts.views.push_back(ReadView(view));

  const std::wstring folder = win::FolderOfPath(facts.exePath);
  const std::wstring library = win::FileInFolder(folder, engine_api::kLibraryFileNameW);
  facts.libraryPresent = IsFile(library);
  if (facts.libraryPresent) facts.library = win::ReadPeImage(win::ReadWholeFile(library));
  facts.programPresent = IsFile(win::FileInFolder(folder, engine_api::kExecutableFileNameW));
  facts.logFolder = LogFolderAccess(folder);
  return facts;
}

}  // namespace korvane::server
