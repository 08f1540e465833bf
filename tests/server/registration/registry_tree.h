// Registry subtrees read into plain maps, and the registration layout the server must write,
// stated here on its own so the tests compare the server's work with the published identity.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "common/win/registry.h"
#include "common/win/unique_hkey.h"

namespace korvane::test {

// Value name ("" for the default value) -> data; data that is not REG_SZ reads "<type N>".
using KeyValues = std::map<std::wstring, std::wstring>;
// Key path relative to the root the tree was read from -> its values.
using RegistryTree = std::map<std::wstring, KeyValues>;

// Every helper below that takes a `view` (0, KEY_WOW64_64KEY or KEY_WOW64_32KEY) opens each key
// in it, and `root` must have been opened in the same view: a 32-bit process may find a key
// opened below a handle of the 64-bit view without the flag redirected to the 32-bit one.

// `path` below `root` with every key beneath it; empty when `path` does not exist. An empty
// `path` reads everything below `root` (the root itself is not listed).
RegistryTree ReadTree(HKEY root, const std::wstring& path, REGSAM view = 0);

using win::KeyExists;

// Creates `path` below `root` with a default value (if given). REG_OPTION_VOLATILE makes a key
// that refuses the lasting subkeys a registration puts below it: a registration failing there.
void WriteKey(HKEY root, const std::wstring& path, const wchar_t* defaultValue = nullptr,
              DWORD options = 0, REGSAM view = 0);

// Software\Classes of `hive` opened with `access`; a fresh prefix may not have the user's yet.
win::UniqueHkey OpenClasses(HKEY hive, REGSAM access);

// A fresh key below HKEY_CURRENT_USER, deleted with its tree at the end, standing in for a
// Software\Classes key.
class ScratchKey {
 public:
  ScratchKey();
  ~ScratchKey();
  HKEY get() const { return key_.get(); }

 private:
  std::wstring path_;
  win::UniqueHkey key_;
};

inline constexpr wchar_t kProgId[] = L"Korvane.QuandrelCom";
inline constexpr wchar_t kClsidText[] = L"{BDBB0F90-863E-4814-820F-1657390654B0}";
inline constexpr wchar_t kIidText[] = L"{79D8CD39-F512-46E7-8935-7A60569F6F2F}";
inline constexpr wchar_t kLibidText[] = L"{33609DAE-7AF8-4E00-BFF4-E1B69E14EC41}";
inline const std::wstring kClassKey = std::wstring(L"CLSID\\") + kClsidText;
inline const std::wstring kInterfaceKey = std::wstring(L"Interface\\") + kIidText;
inline const std::wstring kTypeLibKey = std::wstring(L"TypeLib\\") + kLibidText;
inline const std::wstring kVersionKey = kTypeLibKey + L"\\1.0";
inline const std::wstring kAppIdKey = std::wstring(L"AppID\\") + kClsidText;
// Each build registers its own type library platform.
inline constexpr const wchar_t* kPlatform = sizeof(void*) == 8 ? L"win64" : L"win32";
inline constexpr const wchar_t* kOtherPlatform = sizeof(void*) == 8 ? L"win32" : L"win64";

// The keys a registration owns, relative to a Software\Classes key (the AppID keys only
// machine-wide).
const std::vector<std::wstring>& OwnedKeys();

// The owned keys present below `root`: empty once a registration is wholly gone.
std::vector<std::wstring> OwnedKeysIn(HKEY root, REGSAM view = 0);
inline const std::vector<std::wstring> kNoKeys;

// Everything below the owned keys, read from a Software\Classes key.
RegistryTree ReadRegistration(HKEY classesRoot, REGSAM view = 0);

// What a registration of the server at `exePath` must consist of ("win64" or "win32" type
// library platform), with the AppID keys when `appId`.
RegistryTree ExpectedRegistration(const std::wstring& exePath, const std::wstring& platform,
                                  bool appId);

// The AppID's AccessPermission as SDDL: owner, group and DACL as the system spells them, the
// integrity label spelled here from its ACE ("S:(ML;;NX;;;S-1-16-8192)"), because Wine's
// converter does not spell labels. Empty when the value is missing or no descriptor.
std::wstring AccessPermissionSddl(HKEY classesRoot);

// Deletes a key tree created by a test; a missing key is fine.
void DeleteKeyTree(HKEY root, const std::wstring& path, REGSAM view = 0);

}  // namespace korvane::test
