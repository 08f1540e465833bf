// Self-registration of the server: the class, its ProgID, its interface (marshalled by the
// automation marshaller from the type library) and the type library, written below the
// Software\Classes key of the machine or of the current user.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "win/unique_hkey.h"

namespace korvane::server {

enum class RegistrationScope {
  kMachine,  // HKEY_LOCAL_MACHINE\Software\Classes: every user, needs administrator rights
  kUser,     // HKEY_CURRENT_USER\Software\Classes: the current user only
};

// "HKEY_LOCAL_MACHINE\Software\Classes" or "HKEY_CURRENT_USER\Software\Classes", for messages.
const wchar_t* ClassesRootName(RegistrationScope scope);

// Opens (creating it if need be) the scope's Software\Classes key for reading and writing.
HRESULT OpenClassesRoot(RegistrationScope scope, win::UniqueHkey* out);

// Writes every key and value of the registration below `classesRoot` for the executable at
// `exePath` (a full path). When a write fails, what was written is removed again and the error
// is returned, so a failed registration never leaves a half-registered class behind.
HRESULT RegisterServer(HKEY classesRoot, std::wstring_view exePath);

// Removes the registration's keys below `classesRoot` and nothing else: the ProgID only while
// it still names our class, and the type library's own key only when no other version of it
// remains. Keys that are already gone count as removed.
HRESULT UnregisterServer(HKEY classesRoot);

}  // namespace korvane::server
