#include "registration.h"

#include <objbase.h>

#include <vector>

#include "quandrelcom.h"
#include "win/guid_text.h"
#include "win/module_path.h"
#include "win/result.h"

namespace korvane::server {

namespace {

using win::GuidText;

constexpr wchar_t kProgId[] = L"Korvane.QuandrelCom";
constexpr wchar_t kClassName[] = L"QuandrelCom";
constexpr wchar_t kInterfaceName[] = L"_QuandrelCom";
constexpr wchar_t kLibraryName[] = L"Korvane";
constexpr wchar_t kVersion[] = L"1.0";

struct Entry {
  std::wstring key;
  const wchar_t* valueName;  // nullptr: the key's default value
  std::wstring value;
};

using Keys = RegistrationKeys;

// The keys every registry view of the class needs: ProgID, class and interface.
std::vector<Entry> ClassEntries(std::wstring_view exePath) {
  const Keys k;
  const std::wstring exe(exePath);
  return {
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
}

// This build's type library entry (the other bitness writes its own beside it).
std::vector<Entry> TypeLibEntries(std::wstring_view exePath) {
  const Keys k;
  return {
      {k.versionKey, nullptr, kLibraryName},
      {k.typeLibEntryKey(kOwnTypeLibPlatform), nullptr, std::wstring(exePath)},
      {k.versionKey + L"\\FLAGS", nullptr, L"0"},
      {k.versionKey + L"\\HELPDIR", nullptr, win::FolderOfPath(exePath)},
  };
}

bool IsGone(LONG status) {
  return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND;
}

HRESULT Status(LONG status) { return win::HresultFromStatus(status); }

bool KeyExists(const ClassesView& at, const std::wstring& path);
HRESULT DeleteTree(const ClassesView& at, const std::wstring& path);

// What a registration changed in one view, so that a failed one puts back exactly what it found:
// the keys it created are deleted, the values it overwrote get their old data back, the values
// it added are removed. A registration of another installation survives a failed one.
class Journal {
 public:
  explicit Journal(const ClassesView& at) : at_(at) {}

  // Before `key` is created: notes it and every missing key above it as created by this run.
  void BeforeCreating(const std::wstring& key) {
    for (size_t end = 0; end != std::wstring::npos;) {
      end = key.find(L'\\', end + 1);
      const std::wstring path = key.substr(0, end);
      if (Noted(path)) continue;
      checked_.push_back(path);
      if (!KeyExists(at_, path)) created_.push_back(path);
    }
  }

  // Before a value is set in an open key: notes its old data (or that it had none).
  void BeforeSetting(HKEY key, const std::wstring& path, const wchar_t* name) {
    for (const Saved& saved : values_)
      if (saved.path == path && saved.hasName == (name != nullptr) && (!name || saved.name == name))
        return;
    Saved saved{path, name != nullptr, name ? name : L"", false, REG_NONE, {}};
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

  void Undo() const {
    for (auto it = values_.rbegin(); it != values_.rend(); ++it) {
      if (IsCreated(it->path)) continue;  // goes with its key
      win::UniqueHkey key;
      if (::RegOpenKeyExW(at_.root, it->path.c_str(), 0, KEY_SET_VALUE | at_.view, key.put()) !=
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
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) DeleteTree(at_, *it);
  }

 private:
  struct Saved {
    std::wstring path;
    bool hasName;
    std::wstring name;
    bool existed;
    DWORD type;
    std::vector<BYTE> data;
  };

  bool Noted(const std::wstring& path) const {
    for (const std::wstring& seen : checked_)
      if (seen == path) return true;
    return false;
  }
  bool IsCreated(const std::wstring& path) const {
    for (const std::wstring& key : created_)
      if (path == key || (path.size() > key.size() && path.compare(0, key.size(), key) == 0 &&
                          path[key.size()] == L'\\'))
        return true;
    return false;
  }

  ClassesView at_;
  std::vector<std::wstring> checked_;
  std::vector<std::wstring> created_;
  std::vector<Saved> values_;
};

// Every call names the view: a handle's own view does not carry over to keys opened below it on
// every Windows version.
HRESULT WriteEntries(const ClassesView& at, const std::vector<Entry>& entries, Journal& journal) {
  for (const Entry& entry : entries) {
    journal.BeforeCreating(entry.key);
    win::UniqueHkey key;
    LONG status =
        ::RegCreateKeyExW(at.root, entry.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE | KEY_QUERY_VALUE | at.view, nullptr, key.put(), nullptr);
    if (status == ERROR_SUCCESS) {
      journal.BeforeSetting(key.get(), entry.key, entry.valueName);
      status = ::RegSetValueExW(key.get(), entry.valueName, 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(entry.value.c_str()),
                                static_cast<DWORD>((entry.value.size() + 1) * sizeof(wchar_t)));
    }
    if (status != ERROR_SUCCESS) return Status(status);
  }
  return S_OK;
}

// Deletes a key with everything below it; a missing key counts as deleted.
HRESULT DeleteTree(const ClassesView& at, const std::wstring& path) {
  win::UniqueHkey key;
  LONG status = ::RegOpenKeyExW(at.root, path.c_str(), 0, KEY_ALL_ACCESS | at.view, key.put());
  if (IsGone(status)) return S_OK;
  if (status != ERROR_SUCCESS) return Status(status);
  status = ::RegDeleteTreeW(key.get(), nullptr);
  key.reset();
  if (status != ERROR_SUCCESS && !IsGone(status)) return Status(status);
  status = ::RegDeleteKeyExW(at.root, path.c_str(), at.view, 0);
  return IsGone(status) ? S_OK : Status(status);
}

// The default value of a key as text; `found` says whether there was one.
std::wstring DefaultValue(const ClassesView& at, const std::wstring& path, bool* found) {
  *found = false;
  win::UniqueHkey key;
  if (::RegOpenKeyExW(at.root, path.c_str(), 0, KEY_QUERY_VALUE | at.view, key.put()) !=
      ERROR_SUCCESS)
    return {};
  DWORD bytes = 0;
  if (::RegGetValueW(key.get(), nullptr, nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
      ERROR_SUCCESS)
    return {};
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (::RegGetValueW(key.get(), nullptr, nullptr, RRF_RT_REG_SZ, nullptr, value.data(), &bytes) !=
      ERROR_SUCCESS)
    return {};
  value.resize(::lstrlenW(value.c_str()));
  *found = true;
  return value;
}

bool KeyExists(const ClassesView& at, const std::wstring& path) {
  win::UniqueHkey key;
  return ::RegOpenKeyExW(at.root, path.c_str(), 0, KEY_READ | at.view, key.put()) == ERROR_SUCCESS;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Whether a registered server path names `exePath` (quoted or not).
bool NamesExecutable(std::wstring registered, std::wstring_view exePath) {
  if (registered.size() >= 2 && registered.front() == L'"' && registered.back() == L'"')
    registered = registered.substr(1, registered.size() - 2);
  return SameText(registered, std::wstring(exePath));
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

// The class, its ProgID and its interface in one view, while the class there is this server.
HRESULT UnregisterClass(const ClassesView& at, std::wstring_view exePath) {
  const Keys k;
  bool found = false;
  const std::wstring server = DefaultValue(at, k.localServerKey(), &found);
  // Another installation of the class owns this view's keys: they serve it, not us.
  if (found && !NamesExecutable(server, exePath)) return S_OK;

  FirstFailure failure;
  // The ProgID is a shared name: leave it to another class that took it over meanwhile.
  const std::wstring progIdClass = DefaultValue(at, k.progIdClassKey(), &found);
  if (!found || SameText(progIdClass, k.clsid)) failure.Note(DeleteTree(at, k.progId));
  failure.Note(DeleteTree(at, k.classKey));
  failure.Note(DeleteTree(at, k.interfaceKey));
  return failure.result();
}

// This build's type library entry; the version key only when no other platform's entry is left,
// the library's key only when no other version is.
HRESULT UnregisterTypeLib(const ClassesView& at, std::wstring_view exePath) {
  const Keys k;
  const std::wstring entry = k.typeLibEntryKey(kOwnTypeLibPlatform);
  bool found = false;
  const std::wstring registered = DefaultValue(at, entry, &found);
  if (found && !NamesExecutable(registered, exePath)) return S_OK;

  FirstFailure failure;
  failure.Note(DeleteTree(at, entry));
  const bool otherPlatform =
      KeyExists(at, k.typeLibEntryKey(L"win32")) || KeyExists(at, k.typeLibEntryKey(L"win64"));
  if (!otherPlatform) {
    failure.Note(DeleteTree(at, k.versionKey));
  } else {
    failure.Note(DeleteIfEmpty(at, k.versionKey + L"\\0"));
  }
  failure.Note(DeleteIfEmpty(at, k.libraryKey));
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
      versionKey(libraryKey + L"\\" + kVersion) {}

std::vector<REGSAM> RegistryViews(bool sixtyFourBitWindows) {
  if (!sixtyFourBitWindows) return {0};
  return {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
}

REGSAM OwnTypeLibView(bool sixtyFourBitWindows) {
  if (!sixtyFourBitWindows) return 0;
  return sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

bool IsSixtyFourBitWindows() {
  if (sizeof(void*) == 8) return true;
  BOOL wow64 = FALSE;
  return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
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

HRESULT RegisterServer(const ClassesRoots& roots, std::wstring_view exePath) {
  std::vector<Journal> journals;
  journals.reserve(roots.views.size() + 1);
  HRESULT hr = S_OK;
  for (const ClassesView& view : roots.views) {
    journals.emplace_back(view);
    hr = WriteEntries(view, ClassEntries(exePath), journals.back());
    if (FAILED(hr)) break;
  }
  if (SUCCEEDED(hr)) {
    journals.emplace_back(roots.typeLib);
    hr = WriteEntries(roots.typeLib, TypeLibEntries(exePath), journals.back());
  }
  // A failed registration puts back exactly what it found, in every view, last change first.
  if (FAILED(hr))
    for (auto it = journals.rbegin(); it != journals.rend(); ++it) it->Undo();
  return hr;
}

HRESULT UnregisterServer(const ClassesRoots& roots, std::wstring_view exePath) {
  FirstFailure failure;
  for (const ClassesView& view : roots.views) failure.Note(UnregisterClass(view, exePath));
  failure.Note(UnregisterTypeLib(roots.typeLib, exePath));
  return failure.result();
}

HRESULT RegisterServer(HKEY classesRoot, std::wstring_view exePath) {
  return RegisterServer(ClassesRoots::Single(classesRoot), exePath);
}

HRESULT UnregisterServer(HKEY classesRoot, std::wstring_view exePath) {
  return UnregisterServer(ClassesRoots::Single(classesRoot), exePath);
}

}  // namespace korvane::server
