// Registry subtrees read into plain maps, and the registration layout the server must write,
// stated here on its own so the tests compare the server's work with the published identity.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace korvane::test {

// Value name ("" for the default value) -> data; data that is not REG_SZ reads "<type N>".
using KeyValues = std::map<std::wstring, std::wstring>;
// Key path relative to the root the tree was read from -> its values.
using RegistryTree = std::map<std::wstring, KeyValues>;

// `path` below `root` with every key beneath it; empty when `path` does not exist. An empty
// `path` reads everything below `root` (the root itself is not listed).
RegistryTree ReadTree(HKEY root, const std::wstring& path);

bool KeyExists(HKEY root, const std::wstring& path);

// Creates `path` below `root` with a default value (if given).
void WriteKey(HKEY root, const std::wstring& path, const wchar_t* defaultValue = nullptr);

inline constexpr wchar_t kProgId[] = L"Korvane.QuandrelCom";
inline constexpr wchar_t kClsidText[] = L"{BDBB0F90-863E-4814-820F-1657390654B0}";
inline constexpr wchar_t kIidText[] = L"{79D8CD39-F512-46E7-8935-7A60569F6F2F}";
inline constexpr wchar_t kLibidText[] = L"{33609DAE-7AF8-4E00-BFF4-E1B69E14EC41}";

// The keys a registration owns, relative to a Software\Classes key (the AppID keys only
// machine-wide).
const std::vector<std::wstring>& OwnedKeys();

// Everything below the owned keys, read from a Software\Classes key.
RegistryTree ReadRegistration(HKEY classesRoot);

// What a registration of the server at `exePath` must consist of ("win64" or "win32" type
// library platform), with the AppID keys when `appId`.
RegistryTree ExpectedRegistration(const std::wstring& exePath, const std::wstring& platform,
                                  bool appId);

// The AppID's AccessPermission as SDDL: owner, group and DACL as the system spells them, the
// integrity label spelled here from its ACE ("S:(ML;;NX;;;S-1-16-8192)"), because Wine's
// converter does not spell labels. Empty when the value is missing or no descriptor.
std::wstring AccessPermissionSddl(HKEY classesRoot);

// Deletes a key tree created by a test; a missing key is fine.
void DeleteKeyTree(HKEY root, const std::wstring& path);

}  // namespace korvane::test
