#include "server/host/self_check.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "common/win/module_path.h"
#include "common/win/registry.h"
#include "engine_api/quandrelsdk.h"
#include "server/host/user_report.h"

namespace korvane::server::host {

namespace {

using win::SameText;

std::wstring ViewName(REGSAM view) {
  if (view == KEY_WOW64_64KEY) return L"64-bit view";
  if (view == KEY_WOW64_32KEY) return L"32-bit view";
  return L"registry";
}

std::wstring ViewLabel(REGSAM view) { return ViewName(view) + L": "; }

std::wstring ClientsOf(REGSAM view) {
  if (view == KEY_WOW64_64KEY) return L"64-bit clients";
  if (view == KEY_WOW64_32KEY) return L"32-bit clients";
  return L"clients";
}

// The view whose server COM starts for the clients of `view`: their own, unless the AppID names
// a bitness, or (without a PreferredServerBitness) their own view lacks the class and the other
// has it.
const ViewFacts& ServingView(const CheckFacts& facts, const ViewFacts& view) {
  auto named = [&](REGSAM wanted) {
    const auto found = std::find_if(facts.views.begin(), facts.views.end(),
                                    [&](const ViewFacts& v) { return v.view == wanted; });
    return found != facts.views.end() ? &*found : &view;
  };
  switch (facts.preferredServerBitness) {
    case ServerBitness::kThirtyTwo:
      return *named(KEY_WOW64_32KEY);
    case ServerBitness::kSixtyFour:
      return *named(KEY_WOW64_64KEY);
    case ServerBitness::kClients:
      return view;
    case ServerBitness::kEither:
      break;
  }
  if (view.localServer.found) return view;
  const auto other = std::find_if(facts.views.begin(), facts.views.end(), [&](const ViewFacts& v) {
    return v.view != view.view && v.localServer.found;
  });
  return other != facts.views.end() ? *other : view;
}

std::wstring Quoted(std::wstring_view text) { return L"\"" + std::wstring(text) + L"\""; }

std::wstring TypeLibVersion(const TypeLibContent& content) {
  return std::to_wstring(content.major) + L"." + std::to_wstring(content.minor);
}

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
  // A key of the current user's hides the machine-wide one: only a per-user registration mends it.
  auto fixFor = [&](const MergedValue& value) {
    if (!value.found || value.from != RegistrationScope::kUser) return fix;
    return L" Fix: run " + Quoted(facts.exePath) +
           L" /RegServerPerUser: this user's clients find the current user's registration" +
           (value.hidesMachine ? L", which hides the machine-wide one, so /RegServer does not "
                                 L"change what they find."
                               : L".");
  };

  const ViewFacts& serving = ServingView(facts, view);
  if (&serving != &view) {
    if (facts.preferredServerBitness == ServerBitness::kEither) {
      out.Info(at + L"class " + keys.clsid + L" is not registered in this view: " +
               ClientsOf(view.view) + L" start the server that the " + ViewName(serving.view) +
               L" registers, as COM does for a class with a server of only the other bitness. "
               L"/RegServer registers it in both views.");
    } else if (serving.localServer.found) {
      out.Info(at + L"class " + keys.clsid + L": the AppID's PreferredServerBitness sends " +
               ClientsOf(view.view) + L" to the server that the " + ViewName(serving.view) +
               L" registers (what that view's lines say holds for them too).");
    } else {
      out.Problem(at + L"class " + keys.clsid + L" is not registered in the " +
                  ViewName(serving.view) + L", to whose server the AppID's " +
                  L"PreferredServerBitness sends " + ClientsOf(view.view) +
                  L": they get error 429." + fix);
    }
  } else if (!view.localServer.found) {
    out.Problem(at + L"class " + keys.clsid + L" is not registered: " + ClientsOf(view.view) +
                L" get \"Class not registered\" (0x80040154), scripts error 429." + fix);
  } else {
    out.Ok(at + L"class " + keys.clsid + L" from " + ClassesRootName(view.localServer.from) +
           (view.localServer.hidesMachine ? L", which hides the machine-wide registration" : L""));
    const ServerCommand command = ParseServerCommand(view.localServer.data);
    if (!view.localServer.hasValue || command.program.empty()) {
      out.Problem(at + L"LocalServer32 of the class names no program: COM cannot start a server." +
                  fixFor(view.localServer));
    } else if (!IsFullyQualified(command.program)) {
      out.Problem(at + L"LocalServer32 names " + command.program +
                  L", which is not a full path: COM looks for it in whatever folder it starts "
                  L"in, not in the server's, and " +
                  ClientsOf(view.view) + L" get error 429." + fixFor(view.localServer));
    } else if (!view.server.exists) {
      out.Problem(at + L"LocalServer32 names " + command.program +
                  L", which does not exist (moved or deleted): COM cannot start it." +
                  fixFor(view.localServer));
    } else if (!SamePath(view.server.fullPath, facts.exePath)) {
      out.Problem(at + L"LocalServer32 names another copy, " + command.program + L": " +
                  ClientsOf(view.view) + L" start that one, not this one. Fix: run " +
                  Quoted(facts.exePath) +
                  (view.localServer.from == RegistrationScope::kUser ? L" /RegServerPerUser"
                                                                     : L" /RegServer") +
                  L" to serve from this copy, or run /Check from that one.");
    } else if (!command.triedFirst.empty()) {
      std::wstring tried;
      for (const std::wstring& program : command.triedFirst)
        tried += (tried.empty() ? L"" : L", then ") + program;
      out.Problem(at + L"LocalServer32 is not quoted and its path holds a blank: COM tries " +
                  tried + L" first, and a program placed there runs instead of this server (" +
                  ClientsOf(view.view) + L" then get error 429)." + fixFor(view.localServer));
    } else if (!command.arguments.empty()) {
      out.Problem(at + L"LocalServer32 has " + Quoted(command.arguments) +
                  L" after the program: COM adds -Embedding, the server refuses two switches, "
                  L"and " +
                  ClientsOf(view.view) + L" get error 429." + fixFor(view.localServer));
    } else {
      out.Ok(at + L"LocalServer32 starts this executable");
    }
  }

  if (!view.progIdClass.found || !view.progIdClass.hasValue) {
    out.Problem(at + L"ProgID " + keys.progId + L" is not registered: CreateObject(" +
                Quoted(keys.progId) + L") fails with error 429." + fixFor(view.progIdClass));
  } else if (!SameText(view.progIdClass.data, keys.clsid)) {
    out.Problem(at + L"ProgID " + keys.progId + L" names another class, " + view.progIdClass.data +
                L": CreateObject creates that one." + fixFor(view.progIdClass));
  } else {
    out.Ok(at + L"ProgID " + keys.progId + L" names the class");
  }

  const std::wstring version = keys.versionKey.substr(keys.libraryKey.size() + 1);
  auto valueOr = [](const MergedValue& value) {
    return value.hasValue ? value.data : std::wstring(L"(none)");
  };
  const bool proxyStubRight =
      view.proxyStub.hasValue && SameText(view.proxyStub.data, kAutomationMarshaller);
  const bool typeLibRight =
      view.interfaceTypeLib.hasValue && SameText(view.interfaceTypeLib.data, keys.libid) &&
      view.interfaceTypeLibVersion.hasValue && view.interfaceTypeLibVersion.data == version;
  // Either value from the current user's keys makes the interface theirs to mend.
  const MergedValue& ifaceValue =
      view.interfaceTypeLib.found && view.interfaceTypeLib.from == RegistrationScope::kUser
          ? view.interfaceTypeLib
          : (view.proxyStub.found ? view.proxyStub : view.interfaceTypeLib);
  if (!view.proxyStub.found && !view.interfaceTypeLib.found) {
    out.Problem(at + keys.interfaceKey + L" is not registered: early-bound " +
                ClientsOf(view.view) + L" get \"Interface not registered\" (0x80040155)." +
                fixFor(ifaceValue));
  } else if (!proxyStubRight || !typeLibRight) {
    out.Problem(at + keys.interfaceKey + L" has ProxyStubClsid32 " + valueOr(view.proxyStub) +
                L" and TypeLib " + valueOr(view.interfaceTypeLib) + L" version " +
                valueOr(view.interfaceTypeLibVersion) + L", not the automation marshaller " +
                kAutomationMarshaller + L" and " + keys.libid + L" version " + version +
                L": calls through the interface cannot be marshalled." + fixFor(ifaceValue));
  } else {
    out.Ok(at + keys.interfaceKey + L": proxy/stub by the automation marshaller, type library " +
           keys.libid + L" version " + version);
  }

  bool anyEntry = false;
  for (int i = 0; i < 2; ++i) {
    const MergedValue& entry = view.typeLib[i];
    const NamedFile& file = view.typeLibFile[i];
    const TypeLibContent& content = view.typeLibContent[i];
    if (!entry.found) continue;
    anyEntry = true;
    const std::wstring name = at + L"type library entry " + kTypeLibPlatforms[i];
    if (!entry.hasValue || file.path.empty()) {
      out.Problem(name + L" names no file: the interface cannot be marshalled." + fixFor(entry));
    } else if (!IsFullyQualified(file.path)) {
      out.Problem(name + L" names " + file.path +
                  L", which is not a full path: the interface cannot be marshalled." +
                  fixFor(entry));
    } else if (!file.exists) {
      out.Problem(name + L" names " + file.path +
                  L", which does not exist: the interface cannot be marshalled." + fixFor(entry));
    } else if (FAILED(content.loaded)) {
      out.Problem(name + L" names " + file.path + L", which holds no type library (error " +
                  HexCode(content.loaded) + L"): the interface cannot be marshalled." +
                  fixFor(entry));
    } else if (!SameText(content.libid, keys.libid) || TypeLibVersion(content) != version) {
      out.Problem(name + L" names " + file.path + L", which holds type library " + content.libid +
                  L" version " + TypeLibVersion(content) + L", not " + keys.libid + L" version " +
                  version + L": the interface cannot be marshalled." + fixFor(entry));
    } else {
      out.Ok(name + L": " + file.path +
             (SamePath(file.fullPath, facts.exePath) ? L" (this executable)" : L" (exists)") +
             L", holds the type library");
    }
  }
  if (!anyEntry) {
    out.Problem(at + keys.versionKey + L" has no win32 or win64 entry: early-bound " +
                ClientsOf(view.view) + L" get \"Interface not registered\" (0x80040155)." + fix);
  }
}

// The AppID's access lists: AccessPermission for calls, LaunchPermission for starting the server.
void ConcludeCallPermissions(const CheckFacts& facts, Report& out) {
  const std::wstring user = facts.userName.empty() ? L"the current user" : facts.userName;
  const struct {
    const wchar_t* name;
    CallPermission permission;
    const wchar_t* action;    // what the list lets the user do
    const wchar_t* refused;   // what COM refuses when the value is no descriptor
    const wchar_t* deletion;  // what deleting the value leads to
    const wchar_t* rights;    // what to grant instead, and where
  } lists[] = {
      {L"AccessPermission", facts.callPermission, L"call the server", L"every call",
       L" and runs /RegServer, which writes the default",
       L"Local Access and removes any entry that denies it to them or to a group of theirs "
       L"(dcomcnfg: DCOM Config, QuandrelCom, Security)"},
      {L"LaunchPermission", facts.launchPermission, L"start the server and reach it",
       L"every start", L", so that the machine's defaults apply",
       L"Local Launch and Local Activation and removes any entry that denies them to them or to "
       L"a group of theirs (dcomcnfg: DCOM Config, QuandrelCom, Security, Launch and Activation "
       L"Permissions)"},
  };
  for (const auto& list : lists) {
    const std::wstring at = L"AppID " + RegistrationKeys().clsid + L": " + list.name + L" ";
    const std::wstring fix =
        std::wstring(L" Fix: an administrator deletes the value") + list.deletion;
    switch (list.permission) {
      case CallPermission::kAllowed:
        out.Ok(at + L"lets " + user + L" " + list.action);
        break;
      case CallPermission::kDenied:
        out.Problem(at + L"does not let " + user + L" " + list.action +
                    L": clients get \"Permission denied\" (0x80070005), scripts error 70." + fix +
                    L", or grants " + user + L" " + list.rights + L".");
        break;
      case CallPermission::kNotADescriptor:
        out.Problem(at + L"is not a security descriptor: COM refuses " + list.refused + L"." + fix +
                    L".");
        break;
      case CallPermission::kNotChecked:
        out.Info(at + L"could not be asked whether it lets " + user + L" " + list.action + L".");
        break;
      case CallPermission::kMachineDefault:
        break;
    }
  }
}

// A machine-wide registration runs the server as every user who starts it, one for the current
// user as that user: whoever else may change the installation may run programs as them.
void ConcludeInstall(const CheckFacts& facts, Report& out) {
  bool machineWide = false, forUser = false;
  for (const ViewFacts& view : facts.views) {
    if (!view.localServer.found || !view.server.exists ||
        !SamePath(view.server.fullPath, facts.exePath))
      continue;
    machineWide = machineWide || view.localServer.from == RegistrationScope::kMachine;
    forUser = forUser || view.localServer.from == RegistrationScope::kUser;
  }
  if (!machineWide && !forUser) return;
  const RegistrationScope scope =
      machineWide ? RegistrationScope::kMachine : RegistrationScope::kUser;
  bool allRead = true;
  for (const GuardedFile& file : facts.install.files) {
    if (SUCCEEDED(file.read)) continue;
    allRead = false;
    out.Info(L"Who may change " + file.path + L" cannot be told (error " + HexCode(file.read) +
             L").");
  }
  const std::vector<std::wstring> problems = ChangeableByOthers(facts.install, scope);
  for (const std::wstring& problem : problems) out.Problem(problem);
  if (problems.empty() && allRead)
    out.Ok(std::wstring(machineWide ? L"only administrators" : L"only you and administrators") +
           L" may change the server's folder, the server and the engine files");
}

// What happens when an engine file's needs cannot be met: when a library is missing, and when
// the one beside the server cannot be loaded.
struct NeedsOutcome {
  std::wstring missing, unloadable;
};

// One problem for each library that `file` needs and the loader cannot use; `searched` says
// where the loader looked for a missing one.
void ConcludeNeeds(const std::wstring& file, const std::vector<UnusableLibrary>& unusable,
                   const std::wstring& folder, const std::wstring& searched,
                   const NeedsOutcome& outcome, const std::wstring& own, Report& out) {
  for (const UnusableLibrary& missing : unusable) {
    const std::wstring through =
        missing.neededBy == file ? L"" : L" (for " + missing.neededBy + L")";
    if (!missing.missingFunctions.empty()) {
      const size_t more = missing.missingFunctions.size() - 1;
      const std::wstring needs = file + L" needs " + missing.missingFunctions.front() +
                                 (more ? L" and " + std::to_wstring(more) + L" more" : L"") +
                                 L" from " + missing.name + through + L", which " + missing.path;
      // Windows' own libraries grow with its versions and updates, and no copy replaces them.
      if (missing.windowsOwn) {
        out.Problem(needs + L" does not export: this Windows is older than the engine needs, " +
                    outcome.unloadable +
                    L". Fix: run the engine on a Windows version it "
                    L"supports, or install the Windows update that adds " +
                    missing.missingFunctions.front() + L".");
        continue;
      }
      out.Problem(needs + L" does not export (an older version?): " + outcome.unloadable +
                  L". Fix: install the version of " + missing.name +
                  L" that the engine needs (such as the current release of its runtime "
                  L"libraries), or copy the engine's own " +
                  missing.name + L" into " + folder + L".");
      continue;
    }
    if (missing.beside) {
      const std::wstring what = missing.image.defect != win::PeDefect::kNone
                                    ? DefectText(missing.image.defect)
                                    : L"it is built for " + win::MachineName(missing.image.machine);
      out.Problem(file + L" needs " + missing.name + through + L", which is in " + folder +
                  L" but cannot be loaded (" + what + L"): " + outcome.unloadable +
                  L". Fix: copy the engine's own " + own + L" " + missing.name + L" into " +
                  folder + L".");
      continue;
    }
    out.Problem(file + L" needs " + missing.name + through + L", which is " + searched + L": " +
                outcome.missing +
                L". Fix: install what the engine needs (such as its runtime libraries), or copy " +
                missing.name + L" into " + folder + L".");
  }
}

void ConcludeEngine(const CheckFacts& facts, Report& out) {
  const std::wstring folder = win::FolderOfPath(facts.exePath);
  const std::wstring library = engine_api::kLibraryFileNameW;
  const std::wstring program = engine_api::kExecutableFileNameW;
  const std::wstring exportName = engine_api::kConverterExportNameW;
  const std::wstring own = win::MachineName(facts.machine);

  // The fix copies the file in; a folder of its name would stop that.
  auto removingAFolder = [&](bool isFolder, const std::wstring& name) {
    return isFolder ? L"remove the folder " + win::FileInFolder(folder, name) + L", then " : L"";
  };
  if (!facts.libraryPresent) {
    out.Problem(library + L" is not in " + folder +
                L": Quandrel fails with error 53 (File not found). Fix: " +
                removingAFolder(facts.libraryIsFolder, library) + L"copy the engine's " + library +
                L" and " + program + L" into " + folder + L".");
  } else if (facts.libraryTooLarge) {
    out.Info(library + L" is larger than " + std::to_wstring(kMaxLibraryBytes >> 20) +
             L" MiB, more than any engine library: /Check does not read it, so whether Quandrel "
             L"can load it is not checked.");
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
  } else if (facts.unusableLibraries.empty()) {
    out.Ok(library + L": " + own + L" like this server, exports " + exportName);
  }
  ConcludeNeeds(library, facts.unusableLibraries, folder,
                L"neither in " + folder + L" nor in " + facts.systemFolder,
                {L"Quandrel fails with error 53 (File not found)",
                 L"Quandrel fails with error 48 (Error in loading DLL)"},
                own, out);

  if (!facts.programPresent) {
    out.Problem(program + L" is not in " + folder +
                L": QuandrelRunCmd returns a \"file is not exist\" message instead of running "
                L"the engine. Fix: " +
                removingAFolder(facts.programIsFolder, program) + L"copy the engine's " + program +
                L" into " + folder + L".");
  } else if (facts.program.defect != win::PeDefect::kNone || facts.program.isDll) {
    out.Problem(program + L" cannot be started: " +
                (facts.program.isDll ? std::wstring(L"it is a library, not a program")
                                     : DefectText(facts.program.defect)) +
                L"; QuandrelRunCmd returns \"failed to execute command\". Fix: copy the engine's "
                L"own " +
                program + L" into " + folder + L" again.");
  } else if (!WindowsRuns(facts.windowsMachine, facts.program.machine)) {
    out.Problem(program + L" is built for " + win::MachineName(facts.program.machine) +
                L", which this Windows (" + win::MachineName(facts.windowsMachine) +
                L") cannot start: QuandrelRunCmd returns \"failed to execute command\". Fix: copy "
                L"the engine's " +
                own + L" " + program + L" into " + folder + L".");
  } else if (facts.programUnusableLibraries.empty()) {
    out.Ok(program + L" is present, a program");
  }
  const std::wstring noOutput =
      L"its process ends before it starts, and QuandrelRunCmd returns no output";
  ConcludeNeeds(program, facts.programUnusableLibraries, folder,
                L"in none of " + folder + L", " + facts.systemFolder +
                    L", the Windows folder and the folders on PATH",
                {noOutput, noOutput}, own, out);

  ConcludeInstall(facts, out);

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

bool WindowsRuns(uint16_t windowsMachine, uint16_t machine) {
  if (machine == 0) return true;
  switch (windowsMachine) {
    case 0:
      return true;
    case IMAGE_FILE_MACHINE_AMD64:
      return machine == IMAGE_FILE_MACHINE_AMD64 || machine == IMAGE_FILE_MACHINE_I386;
    case IMAGE_FILE_MACHINE_ARM64:
      return machine == IMAGE_FILE_MACHINE_ARM64 || machine == IMAGE_FILE_MACHINE_AMD64 ||
             machine == IMAGE_FILE_MACHINE_I386;
    default:
      return machine == windowsMachine;
  }
}

std::vector<std::wstring> WhoMayChange(const GuardedFile& file,
                                       const std::vector<std::wstring>& administrators) {
  constexpr wchar_t kEveryone[] = L"S-1-1-0";
  constexpr wchar_t kOwnerRights[] = L"S-1-3-4";
  static const wchar_t* const kTrusted[] = {
      L"S-1-5-32-544",                                                    // Administrators
      L"S-1-5-18",                                                        // SYSTEM
      L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",  // TrustedInstaller
  };
  auto trusted = [&](const std::wstring& sid) {
    for (const wchar_t* known : kTrusted)
      if (SameText(sid, known)) return true;
    for (const std::wstring& admin : administrators)
      if (SameText(sid, admin)) return true;
    return false;
  };
  // Generic rights as a file or folder maps them.
  auto specific = [](ACCESS_MASK mask) {
    if (mask & GENERIC_ALL) mask |= FILE_ALL_ACCESS;
    if (mask & GENERIC_WRITE) mask |= FILE_GENERIC_WRITE;
    return mask;
  };
  ACCESS_MASK change = WRITE_DAC | WRITE_OWNER | (file.isFolder ? FILE_DELETE_CHILD : 0);
  if (file.role != GuardedRole::kVolumeRoot) change |= DELETE;
  if (file.role == GuardedRole::kInstalled) change |= FILE_WRITE_DATA | FILE_APPEND_DATA;

  std::vector<std::wstring> who;
  auto add = [&](const std::wstring& name) {
    if (std::find(who.begin(), who.end(), name) == who.end()) who.push_back(name);
  };
  if (!file.hasDacl) {
    add(L"Everyone (it has no access list)");
    return who;
  }
  std::vector<std::pair<std::wstring, ACCESS_MASK>> denied;
  auto deniedTo = [&](const std::wstring& sid) {
    ACCESS_MASK mask = 0;
    for (const auto& [deniedSid, deniedMask] : denied)
      if (SameText(deniedSid, sid) || SameText(deniedSid, kEveryone)) mask |= deniedMask;
    return mask;
  };
  bool ownerRightsSaid = false;
  for (const AccessEntry& entry : file.entries) {
    if (entry.inheritOnly) continue;
    const bool ownerRights = SameText(entry.sid, kOwnerRights);
    ownerRightsSaid = ownerRightsSaid || ownerRights;
    const std::wstring& sid = ownerRights ? file.ownerSid : entry.sid;
    if (sid.empty()) continue;
    if (!entry.allows) {
      denied.emplace_back(sid, specific(entry.mask));
      continue;
    }
    if ((specific(entry.mask) & change & ~deniedTo(sid)) == 0 || trusted(sid)) continue;
    const std::wstring& account = ownerRights ? file.owner : entry.account;
    add(account.empty() ? sid : account);
  }
  // The owner may change the access list whatever it says, unless OWNER RIGHTS limits it.
  if (!ownerRightsSaid && !file.ownerSid.empty() && !trusted(file.ownerSid) &&
      (WRITE_DAC & ~deniedTo(file.ownerSid)) != 0)
    add((file.owner.empty() ? file.ownerSid : file.owner) + L" (its owner)");
  return who;
}

std::vector<std::wstring> ChangeableByOthers(const InstallSecurity& install,
                                             RegistrationScope scope) {
  const bool forUser = scope == RegistrationScope::kUser;
  std::vector<std::wstring> trusted = install.administrators;
  if (forUser && !install.userSid.empty()) trusted.push_back(install.userSid);
  const std::wstring trustedOnes = forUser ? L"you and administrators" : L"administrators";
  std::vector<std::wstring> problems;
  for (const GuardedFile& file : install.files) {
    if (FAILED(file.read)) continue;
    const std::vector<std::wstring> who = WhoMayChange(file, trusted);
    if (who.empty()) continue;
    std::wstring names;
    for (const std::wstring& name : who) names += (names.empty() ? L"" : L", ") + name;
    const std::wstring what = file.role == GuardedRole::kInstalled
                                  ? L" may be changed by " + names + L", not only by " + trustedOnes
                                  : L", above the installation, lets " + names + L" rename " +
                                        (file.role == GuardedRole::kAbove ? L"it or " : L"") +
                                        L"what it holds, not only " + trustedOnes +
                                        L", and so put another folder in the installation's place";
    problems.push_back(
        file.path + what +
        (forUser ? L": your clients start the server as you, so whoever may change it can run "
                   L"programs as you. Fix: register for one user only from a folder that only "
                   L"you and administrators may change (such as one under %LOCALAPPDATA%)."
                 : L": the server runs as each user who starts it, so whoever may change it can "
                   L"run programs as them. Fix: install machine-wide only into a folder that only "
                   L"administrators may change (under Program Files), or register for one user "
                   L"only (/RegServerPerUser)."));
  }
  return problems;
}

std::vector<std::wstring> FoldersAbove(std::wstring_view folder) {
  constexpr size_t npos = std::wstring_view::npos;
  while (folder.size() > 1 && folder.back() == L'\\') folder.remove_suffix(1);
  // The root's length with its backslash: "C:\", or "\\server\share\" (after a "\\?\" or
  // "\\?\UNC\" prefix); none for a relative path.
  std::wstring_view rest = folder;
  for (std::wstring_view prefix : {L"\\\\?\\UNC\\", L"\\\\?\\", L"\\\\"}) {
    if (rest.substr(0, prefix.size()) != prefix) continue;
    rest.remove_prefix(prefix.size());
    break;
  }
  const size_t prefix = folder.size() - rest.size();
  size_t root = npos;
  if (rest.size() >= 2 && rest[1] == L':') {
    root = prefix + 3;
  } else if (prefix != 0) {
    const size_t server = rest.find(L'\\');
    const size_t share = server == npos ? npos : rest.find(L'\\', server + 1);
    root = share == npos ? rest.size() + prefix + 1 : prefix + share + 1;
  }
  std::vector<std::wstring> above;
  if (root == npos || folder.size() < root) return above;  // a root has none
  for (size_t end = folder.size();;) {
    const size_t slash = folder.rfind(L'\\', end - 1);
    if (slash == npos || slash + 1 < root) break;
    if (slash + 1 == root) {
      above.emplace_back(folder.substr(0, root));
      break;
    }
    above.emplace_back(folder.substr(0, slash));
    end = slash;
  }
  return above;
}

CheckReport ConcludeCheck(const CheckFacts& facts) {
  Report out;
  out.Info(L"checking " + facts.exePath + L", a server for " + win::MachineName(facts.machine) +
           L", for " + (facts.userName.empty() ? L"the current user" : L"user " + facts.userName) +
           (facts.views.size() > 1 ? L" on a 64-bit Windows" : L""));
  if (ServerPathTooLong(facts.exePath))
    out.Problem(L"this server's path " + WhyServerPathTooLong(facts.exePath) +
                L": clients cannot use it, and /RegServer refuses it. Fix: install the server in "
                L"a folder with a shorter path.");
  for (const ViewFacts& view : facts.views) ConcludeView(facts, view, out);
  ConcludeCallPermissions(facts, out);
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

}  // namespace korvane::server::host
