// Self-registration of the server: the class, its ProgID, its interface (marshalled by the
// automation marshaller from the type library) and the type library, written below the
// Software\Classes key of the machine or of the current user.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "win/unique_hkey.h"

namespace korvane::server {

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
// This build's type library platform: the bitness of the library inside the executable.
inline constexpr const wchar_t* kOwnTypeLibPlatform = sizeof(void*) == 8 ? L"win64" : L"win32";

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

  static ClassesRoots Single(HKEY root) { return {{{root, 0}}, {root, 0}}; }
};

// The views to write. On a 64-bit Windows a 32-bit server's writes land in the 32-bit view and a
// 64-bit server's in the 64-bit one, and which keys the views share differs by Windows version:
// clients of either bitness find the class only when both views have it. A 32-bit Windows has
// one view.
std::vector<REGSAM> RegistryViews(bool sixtyFourBitWindows);
// The view of this build's own bitness, which takes its type library entry.
REGSAM OwnTypeLibView(bool sixtyFourBitWindows);
// Whether the system is a 64-bit Windows (for a 32-bit build: whether it runs under WOW64).
bool IsSixtyFourBitWindows();

// "HKEY_LOCAL_MACHINE\Software\Classes" or "HKEY_CURRENT_USER\Software\Classes", for messages.
const wchar_t* ClassesRootName(RegistrationScope scope);

// Opens (creating it if need be) the scope's Software\Classes key in `view` for reading and
// writing.
HRESULT OpenClassesRoot(RegistrationScope scope, REGSAM view, win::UniqueHkey* out);

// The scope's Software\Classes key in every view a registration writes.
struct OpenedClasses {
  std::vector<win::UniqueHkey> keys;
  ClassesRoots roots;
};
HRESULT OpenClassesViews(RegistrationScope scope, bool sixtyFourBitWindows, OpenedClasses* out);

// Writes every key and value of the registration of the executable at `exePath` (a full path).
// When a write fails, what was written is removed again, in every view, and the error is
// returned, so a failed registration never leaves a half-registered class behind.
HRESULT RegisterServer(const ClassesRoots& roots, std::wstring_view exePath);

// Removes this server's keys and nothing else, from every view: a class key only while its
// LocalServer32 names `exePath` (with that view's ProgID, only while it still names our class,
// and interface key); this build's type library entry only while it names `exePath`, the
// version key only when no other platform's entry remains, the library's key only when no other
// version does. Keys that are already gone count as removed.
HRESULT UnregisterServer(const ClassesRoots& roots, std::wstring_view exePath);

// The same against a single Software\Classes key (no views).
HRESULT RegisterServer(HKEY classesRoot, std::wstring_view exePath);
HRESULT UnregisterServer(HKEY classesRoot, std::wstring_view exePath);

}  // namespace korvane::server
