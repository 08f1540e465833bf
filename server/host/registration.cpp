#include "registration.h"

#include <objbase.h>

#include <vector>

#include "quandrelcom.h"
#include "win/guid_text.h"
#include "win/module_path.h"

namespace korvane::server {

namespace {

using win::GuidText;

constexpr wchar_t kProgId[] = L"Korvane.QuandrelCom";
constexpr wchar_t kClassName[] = L"QuandrelCom";
constexpr wchar_t kInterfaceName[] = L"_QuandrelCom";
constexpr wchar_t kLibraryName[] = L"Korvane";
constexpr wchar_t kVersion[] = L"1.0";
// The automation (type library) marshaller.
constexpr wchar_t kAutomationMarshaller[] = L"{00020424-0000-0000-C000-000000000046}";
// The type library's platform key follows the bitness of the library inside the executable.
constexpr const wchar_t* kTypeLibPlatform = sizeof(void*) == 8 ? L"win64" : L"win32";

struct Entry {
  std::wstring key;
  const wchar_t* valueName;  // nullptr: the key's default value
  std::wstring value;
};

std::vector<Entry> RegistrationEntries(std::wstring_view exePath) {
  const std::wstring clsid = GuidText(CLSID_QuandrelCom);
  const std::wstring iid = GuidText(IID__QuandrelCom);
  const std::wstring libid = GuidText(LIBID_Korvane);
  const std::wstring classKey = L"CLSID\\" + clsid;
  const std::wstring interfaceKey = L"Interface\\" + iid;
  const std::wstring libraryKey = L"TypeLib\\" + libid + L"\\" + kVersion;
  const std::wstring exe(exePath);
  return {
      {kProgId, nullptr, kClassName},
      {std::wstring(kProgId) + L"\\CLSID", nullptr, clsid},
      {classKey, nullptr, kClassName},
      // Quoted: the folder may hold blanks.
      {classKey + L"\\LocalServer32", nullptr, L"\"" + exe + L"\""},
      {classKey + L"\\ProgID", nullptr, kProgId},
      {classKey + L"\\TypeLib", nullptr, libid},
      {classKey + L"\\Version", nullptr, kVersion},
      {interfaceKey, nullptr, kInterfaceName},
      {interfaceKey + L"\\ProxyStubClsid32", nullptr, kAutomationMarshaller},
      {interfaceKey + L"\\ProxyStubClsid", nullptr, kAutomationMarshaller},
      {interfaceKey + L"\\TypeLib", nullptr, libid},
      {interfaceKey + L"\\TypeLib", L"Version", kVersion},
      {libraryKey, nullptr, kLibraryName},
      {libraryKey + L"\\0\\" + kTypeLibPlatform, nullptr, exe},
      {libraryKey + L"\\FLAGS", nullptr, L"0"},
      {libraryKey + L"\\HELPDIR", nullptr, win::FolderOfPath(exePath)},
  };
}

bool IsGone(LONG status) {
  return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND;
}

// Deletes a key with everything below it; a missing key counts as deleted.
LONG DeleteTree(HKEY root, const std::wstring& key) {
  LONG status = ::RegDeleteTreeW(root, key.c_str());
  if (status == ERROR_SUCCESS || IsGone(status)) {
    // Some implementations empty the key but keep it; take the empty key away as well.
    LONG removed = ::RegDeleteKeyW(root, key.c_str());
    return IsGone(removed) ? ERROR_SUCCESS : removed;
  }
  return status;
}

// The default value of a key as text, or an empty text when it has none.
std::wstring DefaultValue(HKEY root, const std::wstring& key, LONG* status) {
  DWORD bytes = 0;
  *status = ::RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
  if (*status != ERROR_SUCCESS) return {};
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  *status =
      ::RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value.data(), &bytes);
  if (*status != ERROR_SUCCESS) return {};
  value.resize(::lstrlenW(value.c_str()));
  return value;
}

// Deletes a key that has neither subkeys nor values left.
LONG DeleteIfEmpty(HKEY root, const std::wstring& key) {
  win::UniqueHkey open;
  LONG status = ::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, open.put());
  if (IsGone(status)) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  DWORD subkeys = 0, values = 0;
  status = ::RegQueryInfoKeyW(open.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                              &values, nullptr, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return status;
  open.reset();
  if (subkeys != 0 || values != 0) return ERROR_SUCCESS;
  status = ::RegDeleteKeyW(root, key.c_str());
  return IsGone(status) ? ERROR_SUCCESS : status;
}

}  // namespace

const wchar_t* ClassesRootName(RegistrationScope scope) {
  return scope == RegistrationScope::kMachine ? L"HKEY_LOCAL_MACHINE\\Software\\Classes"
                                              : L"HKEY_CURRENT_USER\\Software\\Classes";
}

HRESULT OpenClassesRoot(RegistrationScope scope, win::UniqueHkey* out) {
  HKEY hive = scope == RegistrationScope::kMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  LONG status = ::RegCreateKeyExW(hive, L"Software\\Classes", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_READ | KEY_WRITE, nullptr, out->put(), nullptr);
  return HRESULT_FROM_WIN32(status);
}

HRESULT RegisterServer(HKEY classesRoot, std::wstring_view exePath) {
  for (const Entry& entry : RegistrationEntries(exePath)) {
    LONG status = ::RegSetKeyValueW(classesRoot, entry.key.c_str(), entry.valueName, REG_SZ,
                                    entry.value.c_str(),
                                    static_cast<DWORD>((entry.value.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) {
      UnregisterServer(classesRoot);
      return HRESULT_FROM_WIN32(status);
    }
  }
  return S_OK;
}

HRESULT UnregisterServer(HKEY classesRoot) {
  const std::wstring clsid = GuidText(CLSID_QuandrelCom);
  const std::wstring libraryKey = L"TypeLib\\" + GuidText(LIBID_Korvane);
  LONG first = ERROR_SUCCESS;
  auto note = [&first](LONG status) {
    if (first == ERROR_SUCCESS) first = status;
  };

  // The ProgID is a shared name: leave it to another class that took it over meanwhile.
  LONG status = ERROR_SUCCESS;
  std::wstring progIdClass = DefaultValue(classesRoot, std::wstring(kProgId) + L"\\CLSID", &status);
  bool foreign = status == ERROR_SUCCESS && ::lstrcmpiW(progIdClass.c_str(), clsid.c_str()) != 0;
  if (!foreign) note(DeleteTree(classesRoot, kProgId));
  note(DeleteTree(classesRoot, L"CLSID\\" + clsid));
  note(DeleteTree(classesRoot, L"Interface\\" + GuidText(IID__QuandrelCom)));
  note(DeleteTree(classesRoot, libraryKey + L"\\" + kVersion));
  // Other versions of the library may be registered beside ours.
  note(DeleteIfEmpty(classesRoot, libraryKey));
  return HRESULT_FROM_WIN32(first);
}

}  // namespace korvane::server
