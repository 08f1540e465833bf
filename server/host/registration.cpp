#include "server/host/registration.h"

#include <objbase.h>
#include <sddl.h>

#include <vector>

#include "common/win/guid_text.h"
#include "common/win/module_path.h"
#include "common/win/registry.h"
#include "common/win/result.h"
#include "common/win/unique_local.h"
#include "server/com/quandrelcom.h"
#include "server/host/server_command.h"

namespace korvane::server::host {

namespace {

using win::GuidText;

constexpr wchar_t kProgId[] = L"Korvane.QuandrelCom";
constexpr wchar_t kClassName[] = L"QuandrelCom";
constexpr wchar_t kAppName[] = L"Korvane QuandrelCom";  // the name dcomcnfg lists
constexpr wchar_t kInterfaceName[] = L"_QuandrelCom";
constexpr wchar_t kLibraryName[] = L"Korvane";
constexpr wchar_t kVersion[] = L"1.0";
// Who may call the server (docs/remote.md gives the reasons): the user the server runs as (PS,
// principal self, which COM takes as the server's own identity) and SYSTEM, each with
// COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL and no remote right, and no caller below medium
// integrity (mandatory label, no execute up). COM wants an owner and a group: Administrators.
constexpr wchar_t kAccessPermissionSddl[] = L"O:BAG:BAD:(A;;0x3;;;PS)(A;;0x3;;;SY)S:(ML;;NX;;;ME)";

using Entry = RegistryRow;

using Keys = RegistrationKeys;

using win::SameText;

// COM finds the AppID of a server that does not call CoInitializeSecurity by its file name.
std::wstring ExecutableNameKey(std::wstring_view exePath) {
  return L"AppID\\" + std::wstring(exePath.substr(exePath.find_last_of(L"\\/") + 1));
}

// Whether a key below Software\Classes is one of those that 64-bit Windows 7 and later keep once
// for both views.
bool IsSharedKey(std::wstring_view key) {
  const std::wstring_view top = key.substr(0, key.find(L'\\'));
  return SameText(top, kProgId) || SameText(top, L"AppID") || SameText(top, L"TypeLib");
}

// Where `key` of `view` lives.
ClassesView PlaceOf(const ClassesRoots& roots, const ClassesView& view, std::wstring_view key) {
  return roots.shared && IsSharedKey(key) ? *roots.shared : view;
}

bool SameView(const ClassesView& a, const ClassesView& b) {
  return a.root == b.root && a.view == b.view;
}

// The keys every registry view of the class needs: ProgID, class and interface.
std::vector<Entry> ClassEntries(std::wstring_view exePath, bool appId) {
  const Keys k;
  const std::wstring exe(exePath);
  std::vector<Entry> entries = {
      {k.progId, nullptr, kClassName},
      {k.progIdClassKey(), nullptr, k.clsid},
      {k.classKey, nullptr, kClassName},
      // Quoted: the folder may hold blanks.
      {k.localServerKey(), nullptr, L"\"" + exe + L"\""},
      {k.classKey + L"\\ProgID", nullptr, kProgId},
      {k.classKey + L"\\TypeLib", nullptr, k.libid},
      {k.classKey + L"\\Version", nullptr, kVersion},
      {k.interfaceKey, nullptr, kInterfaceName},
      {k.proxyStubKey(), nullptr, kAutomationMarshaller},
      {k.interfaceKey + L"\\ProxyStubClsid", nullptr, kAutomationMarshaller},
      {k.interfaceTypeLibKey(), nullptr, k.libid},
      {k.interfaceTypeLibKey(), L"Version", kVersion},
  };
  if (appId) entries.push_back({k.classKey, L"AppID", k.clsid});
  return entries;
}

// The AppID with its AccessPermission, and the executable's name leading to it.
HRESULT AppIdEntries(std::wstring_view exePath, std::vector<Entry>* out) {
  const Keys k;
  win::UniqueLocal<> descriptor;
  ULONG bytes = 0;
  KORVANE_RETURN_LAST_ERROR_IF(!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      kAccessPermissionSddl, SDDL_REVISION_1, descriptor.put(), &bytes));
  const BYTE* data = static_cast<const BYTE*>(descriptor.get());
  *out = {
      {k.appIdKey, nullptr, kAppName},
      {k.appIdKey, L"AccessPermission", {}, std::vector<BYTE>(data, data + bytes), true},
      {ExecutableNameKey(exePath), L"AppID", k.clsid},
  };
  return S_OK;
}

// The type library entry of one platform (the other bitness writes its own beside it).
std::vector<Entry> TypeLibEntries(std::wstring_view exePath, std::wstring_view platform) {
  const Keys k;
  // With its trailing backslash, as an installer's folder property spells a folder, so a
  // package's rows and /RegServer write the same text.
  std::wstring helpDir = win::FolderOfPath(exePath);
  if (helpDir.empty() || helpDir.back() != L'\\') helpDir += L'\\';
  return {
      {k.versionKey, nullptr, kLibraryName},
      {k.typeLibEntryKey(platform), nullptr, std::wstring(exePath)},
      {k.versionKey + L"\\FLAGS", nullptr, L"0"},
      {k.versionKey + L"\\HELPDIR", nullptr, helpDir},
  };
}

bool IsGone(LONG status) {
  return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND;
}

HRESULT Status(LONG status) { return win::HresultFromStatus(status); }

bool KeyExists(const ClassesView& at, const std::wstring& path);
HRESULT DeleteTree(const ClassesView& at, const std::wstring& path);

// What a registration changed, so that a failed one puts back exactly what it found, in every
// view: the keys it created are deleted, the values it overwrote get their old data back, the
// values it added are removed. A registration of another installation survives a failed one.
class Journal {
 public:
  // Before `key` is created: notes it and every missing key above it as created by this run.
  // Only a key that is not found is missing. One that cannot be opened (access denied) may hold
  // an earlier registration, which an undo must not delete: that failure is returned.
  [[nodiscard]] HRESULT BeforeCreating(const ClassesView& at, const std::wstring& key) {
    for (size_t end = 0; end != std::wstring::npos;) {
      end = key.find(L'\\', end + 1);
      const Place place{at, key.substr(0, end)};
      if (Noted(place)) continue;
      win::UniqueHkey opened;
      const LONG status =
          ::RegOpenKeyExW(at.root, place.path.c_str(), 0, KEY_READ | at.view, opened.put());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return Status(status);
      checked_.push_back(place);
      if (status == ERROR_FILE_NOT_FOUND) created_.push_back(place);
    }
    return S_OK;
  }

  // The same for every key of `entries` in `view`.
  [[nodiscard]] HRESULT BeforeCreating(const ClassesRoots& roots, const ClassesView& view,
                                       const std::vector<Entry>& entries) {
    for (const Entry& entry : entries)
      KORVANE_RETURN_IF_FAILED(BeforeCreating(PlaceOf(roots, view, entry.key), entry.key));
    return S_OK;
  }

  // Before a value is set in an open key: notes its old data (or that it had none).
  void BeforeSetting(const ClassesView& at, HKEY key, const std::wstring& path,
                     const wchar_t* name) {
    for (const Saved& saved : values_)
      if (Same(saved.place, {at, path}) && saved.hasName == (name != nullptr) &&
          (!name || saved.name == name))
        return;
    Saved saved{{at, path}, name != nullptr, name ? name : L"", false, REG_NONE, {}};
    DWORD bytes = 0;
    if (::RegQueryValueExW(key, name, nullptr, &saved.type, nullptr, &bytes) == ERROR_SUCCESS) {
      saved.data.resize(bytes);
      if (::RegQueryValueExW(key, name, nullptr, &saved.type, saved.data.data(), &bytes) ==
          ERROR_SUCCESS) {
        saved.data.resize(bytes);
        saved.existed = true;
      }
    }
    values_.push_back(std::move(saved));
  }

  // Last change first.
  void Undo() const {
    for (auto it = values_.rbegin(); it != values_.rend(); ++it) {
      if (IsCreated(it->place)) continue;  // goes with its key
      const ClassesView& at = it->place.at;
      win::UniqueHkey key;
      if (::RegOpenKeyExW(at.root, it->place.path.c_str(), 0, KEY_SET_VALUE | at.view, key.put()) !=
          ERROR_SUCCESS)
        continue;
      const wchar_t* name = it->hasName ? it->name.c_str() : nullptr;
      if (it->existed) {
        ::RegSetValueExW(key.get(), name, 0, it->type, it->data.data(),
                         static_cast<DWORD>(it->data.size()));
      } else {
        ::RegDeleteValueW(key.get(), name);
      }
    }
    // Children before their parents.
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) DeleteTree(it->at, it->path);
  }

 private:
  struct Place {
    ClassesView at;
    std::wstring path;
  };
  struct Saved {
    Place place;
    bool hasName;
    std::wstring name;
    bool existed;
    DWORD type;
    std::vector<BYTE> data;
  };

  static bool Same(const Place& a, const Place& b) {
    return SameView(a.at, b.at) && a.path == b.path;
  }
  bool Noted(const Place& place) const {
    for (const Place& seen : checked_)
      if (Same(seen, place)) return true;
    return false;
  }
  bool IsCreated(const Place& place) const {
    const std::wstring& path = place.path;
    for (const Place& key : created_)
      if (SameView(key.at, place.at) &&
          (path == key.path ||
           (path.size() > key.path.size() && path.compare(0, key.path.size(), key.path) == 0 &&
            path[key.path.size()] == L'\\')))
        return true;
    return false;
  }

  std::vector<Place> checked_;
  std::vector<Place> created_;
  std::vector<Saved> values_;
};

bool HasValue(HKEY key, const wchar_t* name) {
  return ::RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// Every call names the view: a handle's own view does not carry over to keys opened below it on
// every Windows version. The journal has seen every key already (Journal::BeforeCreating).
HRESULT WriteEntries(const ClassesRoots& roots, const ClassesView& view,
                     const std::vector<Entry>& entries, Journal& journal) {
  for (const Entry& entry : entries) {
    const ClassesView at = PlaceOf(roots, view, entry.key);
    win::UniqueHkey key;
    LONG status =
        ::RegCreateKeyExW(at.root, entry.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE | KEY_QUERY_VALUE | at.view, nullptr, key.put(), nullptr);
    if (status == ERROR_SUCCESS) {
      if (entry.keepExisting && HasValue(key.get(), entry.valueName)) continue;
      journal.BeforeSetting(at, key.get(), entry.key, entry.valueName);
      const bool text = entry.binary.empty();
      status = ::RegSetValueExW(
          key.get(), entry.valueName, 0, text ? REG_SZ : REG_BINARY,
          text ? reinterpret_cast<const BYTE*>(entry.text.c_str()) : entry.binary.data(),
          static_cast<DWORD>(text ? (entry.text.size() + 1) * sizeof(wchar_t)
                                  : entry.binary.size()));
    }
    if (status != ERROR_SUCCESS) return Status(status);
  }
  return S_OK;
}

// Deletes a key with everything below it; a missing key counts as deleted. Each subkey is
// opened and deleted by its path from the root in the view: RegDeleteTreeW opens the keys below
// a handle without one, which a 32-bit process may find redirected to the other view.
HRESULT DeleteTree(const ClassesView& at, const std::wstring& path) {
  win::UniqueHkey key;
  LONG status = ::RegOpenKeyExW(at.root, path.c_str(), 0, KEY_READ | at.view, key.put());
  if (IsGone(status)) return S_OK;
  if (status != ERROR_SUCCESS) return Status(status);
  std::vector<std::wstring> subkeys;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];  // a key name's limit, with its zero
    DWORD length = 256;
    status = ::RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return Status(status);
    subkeys.emplace_back(name, length);
  }
  key.reset();
  for (const std::wstring& subkey : subkeys)
    KORVANE_RETURN_IF_FAILED(DeleteTree(at, path + L"\\" + subkey));
  status = ::RegDeleteKeyExW(at.root, path.c_str(), at.view, 0);
  return IsGone(status) ? S_OK : Status(status);
}

// A text value (nullptr: the default value); `found` says whether there was one.
std::wstring TextValue(const ClassesView& at, const std::wstring& path, const wchar_t* name,
                       bool* found) {
  std::optional<std::wstring> value = win::ReadText(at.root, path, name, at.view);
  *found = value.has_value();
  return value.value_or(std::wstring());
}

bool KeyExists(const ClassesView& at, const std::wstring& path) {
  return win::KeyExists(at.root, path, at.view);
}

// The server that a key's default value names, and whether that is `exePath`. A type library
// entry holds a path, perhaps quoted. LocalServer32 holds a command line, perhaps with arguments,
// read as /Check and process creation read it; the whole value, read as a path, still counts
// (an unquoted folder name may hold ".exe ").
enum class ValueHolds { kCommandLine, kPath };
struct NamedServer {
  Owner owner = Owner::kNobody;
  std::wstring path;
};
NamedServer ServerNamedBy(const ClassesView& at, const std::wstring& key, ValueHolds holds,
                          std::wstring_view exePath) {
  bool found = false;
  const std::wstring value = TextValue(at, key, nullptr, &found);
  if (!found) return {};
  const std::wstring exe(exePath);
  // Another spelling of this very file (a registration made by its short path) is this copy's;
  // a relative path names no file until a process resolves it, in a folder not known here.
  auto names = [&exe](const std::wstring& path) {
    return SamePath(path, exe) ||
           (IsFullyQualified(path) && win::IsFile(path) && win::IsFile(exe) &&
            SamePath(win::FullLongPath(path), win::FullLongPath(exe)));
  };
  const std::wstring program = holds == ValueHolds::kCommandLine ? ServerPathOf(value) : L"";
  if (!program.empty() && names(program)) return {Owner::kThisServer, program};
  std::wstring path = value;
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"')
    path = path.substr(1, path.size() - 2);
  if (names(path)) return {Owner::kThisServer, path};
  return {Owner::kAnotherServer, program.empty() ? path : program};  // as clients read it
}

// Deletes a key that has neither subkeys nor values left.
HRESULT DeleteIfEmpty(const ClassesView& at, const std::wstring& path) {
  win::UniqueHkey key;
  LONG status = ::RegOpenKeyExW(at.root, path.c_str(), 0, KEY_READ | at.view, key.put());
  if (IsGone(status)) return S_OK;
  if (status != ERROR_SUCCESS) return Status(status);
  DWORD subkeys = 0, values = 0;
  status = ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                              &values, nullptr, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return Status(status);
  key.reset();
  if (subkeys != 0 || values != 0) return S_OK;
  status = ::RegDeleteKeyExW(at.root, path.c_str(), at.view, 0);
  return IsGone(status) ? S_OK : Status(status);
}

// The first failure of several steps that all run.
class FirstFailure {
 public:
  void Note(HRESULT hr) {
    if (SUCCEEDED(first_)) first_ = hr;
  }
  HRESULT result() const { return first_; }

 private:
  HRESULT first_ = S_OK;
};

// The ProgID and the AppID keys as `view` sees them. The ProgID and the executable's name are
// names that another class may have taken over meanwhile: they go only while they name ours.
HRESULT RemoveSharedKeys(const ClassesRoots& roots, const ClassesView& view,
                         std::wstring_view exePath) {
  const Keys k;
  FirstFailure failure;
  const ClassesView progIdAt = PlaceOf(roots, view, kProgId);
  bool found = false;
  const std::wstring progIdClass = TextValue(progIdAt, k.progIdClassKey(), nullptr, &found);
  if (!found || SameText(progIdClass, k.clsid)) failure.Note(DeleteTree(progIdAt, kProgId));
  if (roots.appId) {
    const ClassesView appIdAt = PlaceOf(roots, view, k.appIdKey);
    failure.Note(DeleteTree(appIdAt, k.appIdKey));
    const std::wstring nameKey = ExecutableNameKey(exePath);
    const std::wstring named = TextValue(appIdAt, nameKey, L"AppID", &found);
    if (found && SameText(named, k.clsid)) failure.Note(DeleteTree(appIdAt, nameKey));
  }
  return failure.result();
}

}  // namespace

RegistrationKeys::RegistrationKeys()
    : progId(kProgId),
      clsid(GuidText(CLSID_QuandrelCom)),
      libid(GuidText(LIBID_Korvane)),
      classKey(L"CLSID\\" + clsid),
      interfaceKey(L"Interface\\" + GuidText(IID__QuandrelCom)),
      libraryKey(L"TypeLib\\" + libid),
      versionKey(libraryKey + L"\\" + kVersion),
      // A single-class server takes its CLSID as its AppID, the usual choice.
      appIdKey(L"AppID\\" + clsid) {}

std::vector<REGSAM> RegistryViews(bool sixtyFourBitWindows) {
  if (!sixtyFourBitWindows) return {0};
  return {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
}

REGSAM OwnTypeLibView(bool sixtyFourBitWindows) {
  if (!sixtyFourBitWindows) return 0;
  return sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

const wchar_t* ClassesRootName(RegistrationScope scope) {
  return scope == RegistrationScope::kMachine ? L"HKEY_LOCAL_MACHINE\\Software\\Classes"
                                              : L"HKEY_CURRENT_USER\\Software\\Classes";
}

HRESULT OpenClassesRoot(RegistrationScope scope, REGSAM view, win::UniqueHkey* out) {
  HKEY hive = scope == RegistrationScope::kMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  LONG status = ::RegCreateKeyExW(hive, L"Software\\Classes", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_READ | KEY_WRITE | view, nullptr, out->put(), nullptr);
  return Status(status);
}

HRESULT OpenClassesViews(RegistrationScope scope, bool sixtyFourBitWindows, OpenedClasses* out) {
  out->keys.clear();
  out->roots = {};
  out->roots.appId = scope == RegistrationScope::kMachine;
  const REGSAM typeLibView = OwnTypeLibView(sixtyFourBitWindows);
  for (REGSAM view : RegistryViews(sixtyFourBitWindows)) {
    win::UniqueHkey key;
    KORVANE_RETURN_IF_FAILED(OpenClassesRoot(scope, view, &key));
    const ClassesView opened{key.get(), view};
    out->roots.views.push_back(opened);
    if (view == typeLibView) out->roots.typeLib = opened;
    out->keys.push_back(std::move(key));
  }
  return S_OK;
}

Removal PlanRemoval(const FoundRegistration& found) {
  Removal removal;
  bool another = false;
  for (Owner owner : found.classes) {
    removal.classKeys.push_back(owner != Owner::kAnotherServer);
    another = another || owner == Owner::kAnotherServer;
  }
  removal.sharedKeys = !another;
  removal.typeLibEntry = found.typeLibEntry != Owner::kAnotherServer;
  removal.typeLibVersion = removal.typeLibEntry && !found.otherPlatformEntry && !another;
  removal.leftInPlace = another || !removal.typeLibEntry;
  return removal;
}

std::wstring WhyServerPathTooLong(std::wstring_view exePath) {
  return L"has " + std::to_wstring(exePath.size()) +
         L" characters; COM and the type library need fewer than " + std::to_wstring(MAX_PATH);
}

HRESULT PlanRegistration(std::wstring_view exePath, bool appId, std::wstring_view typeLibPlatform,
                         RegistrationPlan* out) {
  if (ServerPathTooLong(exePath)) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  RegistrationPlan plan;
  plan.everyView = ClassEntries(exePath, appId);
  if (appId) {
    std::vector<Entry> appIdEntries;
    KORVANE_RETURN_IF_FAILED(AppIdEntries(exePath, &appIdEntries));
    plan.everyView.insert(plan.everyView.end(), appIdEntries.begin(), appIdEntries.end());
  }
  plan.typeLibView = TypeLibEntries(exePath, typeLibPlatform);
  *out = std::move(plan);
  return S_OK;
}

HRESULT RegisterServer(const ClassesRoots& roots, std::wstring_view exePath) {
  RegistrationPlan plan;
  KORVANE_RETURN_IF_FAILED(PlanRegistration(exePath, roots.appId, kOwnTypeLibPlatform, &plan));
  // Every key is looked at before the first write, so a key that cannot be opened stops the
  // registration while an earlier one is still whole.
  Journal journal;
  for (const ClassesView& view : roots.views)
    KORVANE_RETURN_IF_FAILED(journal.BeforeCreating(roots, view, plan.everyView));
  KORVANE_RETURN_IF_FAILED(journal.BeforeCreating(roots, roots.typeLib, plan.typeLibView));
  HRESULT hr = S_OK;
  for (const ClassesView& view : roots.views) {
    hr = WriteEntries(roots, view, plan.everyView, journal);
    if (FAILED(hr)) break;
  }
  if (SUCCEEDED(hr)) hr = WriteEntries(roots, roots.typeLib, plan.typeLibView, journal);
  if (FAILED(hr)) journal.Undo();
  return hr;
}

HRESULT UnregisterServer(const ClassesRoots& roots, std::wstring_view exePath,
                         std::wstring* registeredTo) {
  const Keys k;
  const ClassesView typeLib = PlaceOf(roots, roots.typeLib, k.libraryKey);
  const std::wstring ownEntry = k.typeLibEntryKey(kOwnTypeLibPlatform);

  // First what is there, then the decision, then the removal.
  FoundRegistration found;
  std::wstring another;
  for (const ClassesView& view : roots.views) {
    const NamedServer named =
        ServerNamedBy(view, k.localServerKey(), ValueHolds::kCommandLine, exePath);
    found.classes.push_back(named.owner);
    if (named.owner == Owner::kAnotherServer && another.empty()) another = named.path;
  }
  const NamedServer entry = ServerNamedBy(typeLib, ownEntry, ValueHolds::kPath, exePath);
  found.typeLibEntry = entry.owner;
  if (entry.owner == Owner::kAnotherServer && another.empty()) another = entry.path;
  found.otherPlatformEntry = KeyExists(typeLib, k.typeLibEntryKey(kOtherTypeLibPlatform));
  const Removal removal = PlanRemoval(found);

  FirstFailure failure;
  for (size_t i = 0; i < roots.views.size(); ++i) {
    if (removal.classKeys[i]) {
      failure.Note(DeleteTree(roots.views[i], k.classKey));
      failure.Note(DeleteTree(roots.views[i], k.interfaceKey));
    }
    if (removal.sharedKeys) failure.Note(RemoveSharedKeys(roots, roots.views[i], exePath));
  }
  if (removal.typeLibEntry) failure.Note(DeleteTree(typeLib, ownEntry));
  if (removal.typeLibVersion) {
    failure.Note(DeleteTree(typeLib, k.versionKey));
  } else {
    failure.Note(DeleteIfEmpty(typeLib, k.versionKey + L"\\0"));
  }
  failure.Note(DeleteIfEmpty(typeLib, k.libraryKey));
  if (FAILED(failure.result()) || !removal.leftInPlace) return failure.result();
  if (registeredTo) *registeredTo = another;
  return S_FALSE;
}

HRESULT RegisterServer(HKEY classesRoot, std::wstring_view exePath) {
  return RegisterServer(ClassesRoots::Single(classesRoot), exePath);
}

HRESULT UnregisterServer(HKEY classesRoot, std::wstring_view exePath, std::wstring* registeredTo) {
  return UnregisterServer(ClassesRoots::Single(classesRoot), exePath, registeredTo);
}

}  // namespace korvane::server::host
