// Self-registration of the server: the class, its ProgID, its interface (marshalled by the
// automation marshaller from the type library), the type library and, machine-wide, the AppID
// that says who may call the server, written below the Software\Classes key of the machine or of
// the current user.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/win/unique_hkey.h"

namespace korvane::server::host {

enum class RegistrationScope {
  kMachine,  // HKEY_LOCAL_MACHINE\Software\Classes: every user, needs administrator rights
  kUser,     // HKEY_CURRENT_USER\Software\Classes: the current user only
};

// The keys a registration consists of, relative to a Software\Classes key: one description for
// registering, unregistering and the self-check.
struct RegistrationKeys {
  RegistrationKeys();
  std::wstring progId;        // Korvane.QuandrelCom
  std::wstring clsid;         // the class's GUID as text
  std::wstring libid;         // the type library's GUID as text
  std::wstring classKey;      // CLSID\{clsid}
  std::wstring interfaceKey;  // Interface\{iid}
  std::wstring libraryKey;    // TypeLib\{libid}
  std::wstring versionKey;    // TypeLib\{libid}\1.0
  std::wstring appIdKey;      // AppID\{clsid} (machine-wide only)

  std::wstring progIdClassKey() const { return progId + L"\\CLSID"; }
  std::wstring localServerKey() const { return classKey + L"\\LocalServer32"; }
  std::wstring proxyStubKey() const { return interfaceKey + L"\\ProxyStubClsid32"; }
  std::wstring interfaceTypeLibKey() const { return interfaceKey + L"\\TypeLib"; }
  // A platform's type library entry ("win32" or "win64"): its default value is the file.
  std::wstring typeLibEntryKey(std::wstring_view platform) const {
    return versionKey + L"\\0\\" + std::wstring(platform);
  }
};

// The automation (type library) marshaller, the proxy/stub of the interface.
inline constexpr wchar_t kAutomationMarshaller[] = L"{00020424-0000-0000-C000-000000000046}";
// The type library platforms, 32- and 64-bit; this build's is the bitness of the library inside
// the executable.
inline constexpr const wchar_t* kTypeLibPlatforms[2] = {L"win32", L"win64"};
inline constexpr const wchar_t* kOwnTypeLibPlatform = kTypeLibPlatforms[sizeof(void*) == 8];
inline constexpr const wchar_t* kOtherTypeLibPlatform = kTypeLibPlatforms[sizeof(void*) != 8];

// COM and the type library take a server path of fewer than MAX_PATH characters.
inline bool ServerPathTooLong(std::wstring_view exePath) { return exePath.size() >= MAX_PATH; }
// Why such a path fails: "has 300 characters; COM and the type library need fewer than 260".
std::wstring WhyServerPathTooLong(std::wstring_view exePath);

// One Software\Classes key as one registry view sees it. `view` is 0 (the process's own, on a
// 32-bit Windows), KEY_WOW64_64KEY or KEY_WOW64_32KEY, and goes with every call below `root`.
struct ClassesView {
  HKEY root = nullptr;
  REGSAM view = 0;
};

// Where a registration goes: the class, its ProgID and its interface into every view in `views`;
// this build's type library entry into `typeLib`.
struct ClassesRoots {
  std::vector<ClassesView> views;
  ClassesView typeLib;
  // Also the class's AppID, whose AccessPermission says who may call the server. Only for the
  // machine's Software\Classes: COM takes a server's security settings from there alone.
  bool appId = false;
  // Where the keys live that a 64-bit Windows 7 or later shares between both views (the ProgID,
  // the AppID keys and the type library). Unset, each view's own root is used and the registry
  // itself shares them or not (Wine does not); a test sets it to present them as Windows does.
  std::optional<ClassesView> shared = std::nullopt;

  static ClassesRoots Single(HKEY root) { return {{{root, 0}}, {root, 0}}; }
};

// The views to write. On a 64-bit Windows a 32-bit server's writes land in the 32-bit view and a
// 64-bit server's in the 64-bit one, and which keys the views share differs by Windows version:
// clients of either bitness find the class only when both views have it. A 32-bit Windows has
// one view.
std::vector<REGSAM> RegistryViews(bool sixtyFourBitWindows);
// The view of this build's own bitness, which takes its type library entry.
REGSAM OwnTypeLibView(bool sixtyFourBitWindows);

// "HKEY_LOCAL_MACHINE\Software\Classes" or "HKEY_CURRENT_USER\Software\Classes", for messages.
const wchar_t* ClassesRootName(RegistrationScope scope);

// Opens (creating it if need be) the scope's Software\Classes key in `view` for reading and
// writing.
[[nodiscard]] HRESULT OpenClassesRoot(RegistrationScope scope, REGSAM view, win::UniqueHkey* out);

// The scope's Software\Classes key in every view a registration writes.
struct OpenedClasses {
  std::vector<win::UniqueHkey> keys;
  ClassesRoots roots;
};
[[nodiscard]] HRESULT OpenClassesViews(RegistrationScope scope, bool sixtyFourBitWindows,
                                       OpenedClasses* out);

// Whom a registered server path names.
enum class Owner { kNobody, kThisServer, kAnotherServer };

// What unregistration finds before it removes anything.
struct FoundRegistration {
  std::vector<Owner> classes;           // each view's class (its LocalServer32)
  Owner typeLibEntry = Owner::kNobody;  // this build's type library entry
  bool otherPlatformEntry = false;      // the other build's type library entry is there
};

// What unregistration may remove. The keys that both views share on 64-bit Windows 7 and later
// (ProgID, AppID, the type library's version key) serve every view's class, so they go only
// while no view's class names another executable; the ProgID and the AppID name of the
// executable still go only while they name this class.
struct Removal {
  std::vector<bool> classKeys;  // per view: the class and the interface key
  bool sharedKeys = false;      // ProgID and AppID keys
  bool typeLibEntry = false;    // this build's type library entry
  bool typeLibVersion = false;  // the version key, FLAGS and HELPDIR with it
  bool leftInPlace = false;     // something stays because it names another executable
};
[[nodiscard]] Removal PlanRemoval(const FoundRegistration& found);

// One value a registration writes, at a key below a Software\Classes key.
struct RegistryRow {
  std::wstring key;
  const wchar_t* valueName = nullptr;  // nullptr: the key's default value
  std::wstring text;                   // REG_SZ data, unless `binary` holds REG_BINARY data
  std::vector<BYTE> binary = {};
  bool keepExisting = false;  // a value already there is left as it is
};

// Everything a registration of the executable at `exePath` writes: `everyView` goes into each
// registry view, `typeLibView` (the type library entry of `typeLibPlatform`, "win32" or
// "win64") into the view of the executable's own bitness. With `appId`, the machine-wide AppID
// rows are included. /RegServer writes this plan, and the installer packages carry it as their
// registry rows. A path of MAX_PATH characters or more is refused with
// ERROR_FILENAME_EXCED_RANGE: the type library cannot be loaded from it, so calls through the
// interface would fail, and COM does not start a server there at all.
struct RegistrationPlan {
  std::vector<RegistryRow> everyView;
  std::vector<RegistryRow> typeLibView;
};
[[nodiscard]] HRESULT PlanRegistration(std::wstring_view exePath, bool appId,
                                       std::wstring_view typeLibPlatform, RegistrationPlan* out);

// Writes every key and value of the registration of the executable at `exePath` (a full path).
// When a write fails, what was written is removed again, in every view, and the error is
// returned, so a failed registration never leaves a half-registered class behind. An
// AccessPermission already on the AppID (an administrator's, set with dcomcnfg) is kept.
[[nodiscard]] HRESULT RegisterServer(const ClassesRoots& roots, std::wstring_view exePath);

// Removes this server's keys and nothing else, as PlanRemoval decides, from every view. Keys
// that are already gone count as removed. Returns S_FALSE when keys were left in place because
// they name another executable, and that executable's path in `registeredTo` (if given).
[[nodiscard]] HRESULT UnregisterServer(const ClassesRoots& roots, std::wstring_view exePath,
                                       std::wstring* registeredTo = nullptr);

// The same against a single Software\Classes key (no views).
[[nodiscard]] HRESULT RegisterServer(HKEY classesRoot, std::wstring_view exePath);
[[nodiscard]] HRESULT UnregisterServer(HKEY classesRoot, std::wstring_view exePath,
                                       std::wstring* registeredTo = nullptr);

}  // namespace korvane::server::host
