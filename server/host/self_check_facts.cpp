#include "server/host/self_check_facts.h"

#include <aclapi.h>
#include <combaseapi.h>
#include <lm.h>
#include <oleauto.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <optional>
#include <vector>

#include "common/win/ansi_text.h"
#include "common/win/com_ptr.h"
#include "common/win/guid_text.h"
#include "common/win/library_load.h"
#include "common/win/module_path.h"
#include "common/win/registry.h"
#include "common/win/result.h"
#include "common/win/scope_exit.h"
#include "common/win/unique_handle.h"
#include "common/win/unique_hkey.h"
#include "common/win/unique_local.h"
#include "common/win/unique_resource.h"
#include "engine_api/quandrelsdk.h"
#include "server/methods/log_line.h"

namespace korvane::server::host {

namespace {

bool OpenClassesKey(HKEY hive, REGSAM view, const std::wstring& key, win::UniqueHkey* out) {
  const std::wstring path = L"Software\\Classes\\" + key;
  return ::RegOpenKeyExW(hive, path.c_str(), 0, KEY_QUERY_VALUE | view, out->put()) ==
         ERROR_SUCCESS;
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
  std::optional<std::wstring> value = win::ReadText(inUser ? user.get() : machine.get(), name);
  merged.hasValue = value.has_value();
  if (value) merged.data = std::move(*value);
  return merged;
}

// The system folder of this process's bitness: GetSystemDirectoryW says System32 in a 32-bit
// process on 64-bit Windows too, where the loader reads SysWOW64 by that name.
std::wstring SystemFolderOfThisBitness() {
  wchar_t path[MAX_PATH];
  UINT length = 0;
  if (sizeof(void*) == 4 && win::IsSixtyFourBitWindows())
    length = ::GetSystemWow64DirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) length = ::GetSystemDirectoryW(path, MAX_PATH);
  return length != 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

// The libraries that the loader always takes from the system folder (KnownDLLs), whatever
// folder a program or library that needs them is in.
std::vector<std::wstring> KnownLibraries() {
  std::vector<std::wstring> names;
  win::UniqueHkey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\KnownDLLs", 0,
                      KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
    return names;
  for (DWORD i = 0;; ++i) {
    wchar_t valueName[256];
    wchar_t data[MAX_PATH];
    DWORD nameLength = 256, dataBytes = sizeof data - sizeof(wchar_t), type = 0;
    const LSTATUS status = ::RegEnumValueW(key.get(), i, valueName, &nameLength, nullptr, &type,
                                           reinterpret_cast<BYTE*>(data), &dataBytes);
    if (status == ERROR_NO_MORE_ITEMS) break;
    // The folder values (DllDirectory) are REG_EXPAND_SZ; a value too long is no library name.
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataBytes / sizeof(wchar_t)] = L'\0';
    names.emplace_back(data);
  }
  return names;
}

// The PATH that COM gives a server it starts for this user: Windows builds the environment
// afresh from the system's and the user's variables (CreateEnvironmentBlock), so a console's own
// changes do not reach it. This process's PATH where that cannot be built.
std::wstring PathVariableForServer(const std::wstring& systemFolder) {
  using CreateFn = BOOL(WINAPI*)(void**, HANDLE, BOOL);
  using DestroyFn = BOOL(WINAPI*)(void*);
  const win::LoadedLibrary userenv =
      win::LoadLibraryAtPath(win::FileInFolder(systemFolder, L"userenv.dll"));
  const auto create = reinterpret_cast<CreateFn>(reinterpret_cast<void (*)()>(
      userenv.module ? ::GetProcAddress(userenv.module.get(), "CreateEnvironmentBlock") : nullptr));
  const auto destroy = reinterpret_cast<DestroyFn>(reinterpret_cast<void (*)()>(
      userenv.module ? ::GetProcAddress(userenv.module.get(), "DestroyEnvironmentBlock")
                     : nullptr));
  win::UniqueHandle token;
  void* block = nullptr;
  if (create && destroy &&
      ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE,
                         token.put()) &&
      create(&block, token.get(), FALSE)) {
    const auto freeBlock = win::MakeScopeExit([&] { destroy(block); });
    std::wstring path;
    for (const wchar_t* entry = static_cast<const wchar_t*>(block); *entry;
         entry += std::wcslen(entry) + 1) {
      const std::wstring_view text(entry);
      if (text.size() >= 5 && win::SameText(text.substr(0, 5), L"PATH=")) path = text.substr(5);
    }
    return path;
  }
  const DWORD size = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
  std::wstring path(size, L'\0');
  if (size == 0 || ::GetEnvironmentVariableW(L"PATH", path.data(), size) != size - 1) return {};
  path.resize(size - 1);
  return path;
}

// The folders that a program's process searches for its libraries after its own and the system
// folder: the Windows folder, then each folder on the server's PATH.
std::vector<std::wstring> FoldersAProgramAlsoSearches(const std::wstring& systemFolder) {
  std::vector<std::wstring> folders;
  wchar_t windows[MAX_PATH];
  const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length != 0 && length < MAX_PATH) folders.emplace_back(windows, length);
  const std::wstring path = PathVariableForServer(systemFolder);
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find(L';', start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring folder = path.substr(start, end - start);
    folder.erase(std::remove(folder.begin(), folder.end(), L'"'), folder.end());
    if (!folder.empty()) folders.push_back(std::move(folder));
    start = end + 1;
  }
  return folders;
}

struct ActCtxTraits {
  static HANDLE Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) noexcept { return h != INVALID_HANDLE_VALUE; }
  static bool Close(HANDLE h) noexcept {
    ::ReleaseActCtx(h);
    return true;
  }
};
using UniqueActCtx = win::UniqueResource<HANDLE, ActCtxTraits>;

// The side-by-side assemblies that a file's own manifest names: the loader takes the libraries
// they hold (the Visual C++ 2005 and 2008 runtimes from %windir%\WinSxS, say) before it looks in
// any folder. A library's manifest is its resource 2 and serves its own imports; a program's is
// resource 1, or else a manifest file beside it, and serves its whole process. One activation
// context per file beside the server.
class ManifestRedirections {
 public:
  static constexpr WORD kLibraryManifest = 2;  // ISOLATIONAWARE_MANIFEST_RESOURCE_ID
  static constexpr WORD kProgramManifest = 1;  // CREATEPROCESS_MANIFEST_RESOURCE_ID

  explicit ManifestRedirections(std::wstring folder) : folder_(std::move(folder)) {}

  bool Redirects(const std::wstring& file, WORD resource, const std::wstring& name) {
    const HANDLE context = ContextOf(file, resource);
    ULONG_PTR cookie = 0;
    if (context == INVALID_HANDLE_VALUE || !::ActivateActCtx(context, &cookie)) return false;
    ACTCTX_SECTION_KEYED_DATA data{};
    data.cbSize = sizeof data;
    const bool found =
        ::FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION,
                                   name.c_str(), &data) != FALSE;
    ::DeactivateActCtx(0, cookie);
    return found;
  }

 private:
  struct Context {
    std::wstring file;
    WORD resource;
    UniqueActCtx context;
  };

  HANDLE ContextOf(const std::wstring& file, WORD resource) {
    for (const Context& c : contexts_)
      if (c.resource == resource && win::SameText(c.file, file)) return c.context.get();
    const std::wstring path = win::FileInFolder(folder_, file);
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID | ACTCTX_FLAG_ASSEMBLY_DIRECTORY_VALID;
    request.lpSource = path.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(resource);
    request.lpAssemblyDirectory = folder_.c_str();
    UniqueActCtx context(::CreateActCtxW(&request));
    // A program without one of its own takes the manifest file beside it ("x.exe.manifest").
    const std::wstring beside = path + L".manifest";
    if (!context && resource == kProgramManifest && win::IsFile(beside)) {
      request.dwFlags = ACTCTX_FLAG_ASSEMBLY_DIRECTORY_VALID;
      request.lpSource = beside.c_str();
      request.lpResourceName = nullptr;
      context.reset(::CreateActCtxW(&request));
    }
    // No manifest, or one naming an assembly that is not there: nothing is redirected.
    contexts_.push_back({file, resource, std::move(context)});
    return contexts_.back().context.get();
  }

  std::wstring folder_;
  std::vector<Context> contexts_;
};

// An API set (api-ms-*, ext-ms-*) is a contract that the loader maps to a library of its own,
// where the system implements it (Windows 10 and later). Earlier Windows know none: there some
// are files, such as the Universal C Runtime's api-ms-win-crt-*, which the file lookup finds.
bool IsImplementedApiSet(const std::wstring& name) {
  auto startsWith = [&](std::wstring_view prefix) {
    return win::SameText(std::wstring_view(name).substr(0, prefix.size()), prefix);
  };
  if (!startsWith(L"api-ms-") && !startsWith(L"ext-ms-")) return false;
  using IsApiSetImplementedFn = BOOL(WINAPI*)(PCSTR);
  HMODULE kernelBase = ::GetModuleHandleW(L"kernelbase.dll");
  if (kernelBase == nullptr) return false;
  const auto isImplemented = reinterpret_cast<IsApiSetImplementedFn>(
      reinterpret_cast<void (*)()>(::GetProcAddress(kernelBase, "IsApiSetImplemented")));
  if (isImplemented == nullptr) return false;
  // The contract's name, without ".dll"; API set names are plain ASCII.
  std::string contract;
  for (wchar_t c : name) {
    if (c > 0x7F) return false;
    contract += static_cast<char>(c);
  }
  if (contract.size() > 4 && win::SameText(name.substr(name.size() - 4), L".dll"))
    contract.resize(contract.size() - 4);
  return isImplemented(contract.c_str()) != FALSE;
}

// A path that is not fully qualified is judged as written: where it leads depends on the folder
// the reader happens to be in.
NamedFile DescribeFile(std::wstring path) {
  NamedFile file;
  file.exists = IsFullyQualified(path) && win::IsFile(path);
  if (file.exists) file.fullPath = win::FullLongPath(path);
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
  facts.interfaceTypeLibVersion = ReadMerged(view, keys.interfaceTypeLibKey(), L"Version");
  for (int i = 0; i < 2; ++i) {
    facts.typeLib[i] = ReadMerged(view, keys.typeLibEntryKey(kTypeLibPlatforms[i]));
    if (!facts.typeLib[i].hasValue) continue;
    facts.typeLibFile[i] = DescribeFile(facts.typeLib[i].data);
    if (facts.typeLibFile[i].exists)
      facts.typeLibContent[i] = ReadTypeLibContent(facts.typeLibFile[i].path);
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

// The machine type Windows runs on, which a 32-bit process under WoW64 does not share.
uint16_t WindowsMachine() {
  using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  const auto isWow64Process2 = reinterpret_cast<IsWow64Process2Fn>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
  USHORT process = 0, native = 0;
  if (isWow64Process2 && isWow64Process2(::GetCurrentProcess(), &process, &native) && native != 0)
    return native;
  // Before Windows 10 only x86 and x64 Windows run this server.
  if (OwnMachine() != IMAGE_FILE_MACHINE_I386) return OwnMachine();
  return win::IsSixtyFourBitWindows() ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
}

std::wstring UserName() {
  wchar_t name[257] = {};
  DWORD size = 257;
  return ::GetUserNameW(name, &size) ? std::wstring(name) : std::wstring();
}

// The file's bytes, unless it is larger than `limit` (then `tooLarge`, and nothing is read).
std::string ReadFileUpTo(const std::wstring& path, uint64_t limit, bool* tooLarge) {
  *tooLarge = false;
  win::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size)) return {};
  if (static_cast<uint64_t>(size.QuadPart) > limit) {
    *tooLarge = true;
    return {};
  }
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  size_t done = 0;
  DWORD got = 0;
  while (done < bytes.size() &&
         ::ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got,
                    nullptr) &&
         got > 0)
    done += got;
  bytes.resize(done);
  return bytes;
}

std::wstring SidText(PSID sid) {
  win::UniqueLocal<wchar_t> text;
  if (!sid || !::ConvertSidToStringSidW(sid, text.put())) return {};
  return text.get();
}

// "DOMAIN\name", or the bare name where the domain is empty; empty when the SID has no name.
std::wstring AccountName(PSID sid) {
  wchar_t name[256] = {}, domain[256] = {};
  DWORD nameSize = 256, domainSize = 256;
  SID_NAME_USE use;
  if (!sid || !::LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use))
    return {};
  return domain[0] ? std::wstring(domain) + L"\\" + name : std::wstring(name);
}

std::wstring CurrentUserSid() {
  win::UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!::GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size)) return {};
  return SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

// Members of the local Administrators group (by its well-known SID, whatever the language calls
// it), as SIDs.
std::vector<std::wstring> LocalAdministrators() {
  std::vector<std::wstring> sids;
  BYTE groupSid[SECURITY_MAX_SID_SIZE];
  DWORD groupSidSize = sizeof groupSid;
  wchar_t group[256] = {}, domain[256] = {};
  DWORD groupSize = 256, domainSize = 256;
  SID_NAME_USE use;
  if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, groupSid, &groupSidSize) ||
      !::LookupAccountSidW(nullptr, groupSid, group, &groupSize, domain, &domainSize, &use))
    return sids;
  // Level 3 (names) is what Wine answers too; each name is turned back into its SID.
  BYTE* buffer = nullptr;
  DWORD read = 0, total = 0;
  if (::NetLocalGroupGetMembers(nullptr, group, 3, &buffer, MAX_PREFERRED_LENGTH, &read, &total,
                                nullptr) != NERR_Success)
    return sids;
  const auto freeBuffer = win::MakeScopeExit([&] { ::NetApiBufferFree(buffer); });
  const auto* members = reinterpret_cast<const LOCALGROUP_MEMBERS_INFO_3*>(buffer);
  for (DWORD i = 0; i < read; ++i) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    wchar_t memberDomain[256] = {};
    DWORD memberDomainSize = 256;
    if (::LookupAccountNameW(nullptr, members[i].lgrmi3_domainandname, sid, &sidSize, memberDomain,
                             &memberDomainSize, &use))
      sids.push_back(SidText(sid));
  }
  return sids;
}

HRESULT ReadSecurity(const std::wstring& path, GuardedFile* out) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  win::UniqueLocal<> descriptor;
  KORVANE_RETURN_IF_WIN32_ERROR(::GetNamedSecurityInfoW(
      path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
      nullptr, &dacl, nullptr, descriptor.put()));
  out->ownerSid = SidText(owner);
  out->owner = AccountName(owner);
  out->hasDacl = dacl != nullptr;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    void* raw = nullptr;
    if (!::GetAce(dacl, i, &raw)) return win::LastErrorAsHresult();
    const auto* header = static_cast<const ACE_HEADER*>(raw);
    // The allowing and denying kinds a file's list holds; both start with the mask and the SID.
    const bool allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE ||
                        header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
    const bool denies = header->AceType == ACCESS_DENIED_ACE_TYPE ||
                        header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE;
    if (!allows && !denies) continue;
    const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
    PSID sid = const_cast<DWORD*>(&ace->SidStart);
    out->entries.push_back({allows, (header->AceFlags & INHERIT_ONLY_ACE) != 0, ace->Mask,
                            SidText(sid), AccountName(sid)});
  }
  return S_OK;
}

}  // namespace

GuardedFile ReadGuardedFile(const std::wstring& path) {
  GuardedFile file;
  file.path = path;
  file.isFolder = win::IsFolder(path);
  file.read = ReadSecurity(path, &file);
  return file;
}

InstallSecurity GatherInstallSecurity(const std::wstring& exePath) {
  InstallSecurity install;
  const std::wstring folder = win::FolderOfPath(exePath);
  install.files.push_back(ReadGuardedFile(folder));
  install.files.push_back(ReadGuardedFile(exePath));
  for (const wchar_t* name : {engine_api::kLibraryFileNameW, engine_api::kExecutableFileNameW}) {
    const std::wstring path = win::FileInFolder(folder, name);
    if (win::IsFile(path)) install.files.push_back(ReadGuardedFile(path));
  }
  const std::vector<std::wstring> above = FoldersAbove(folder);
  for (size_t i = 0; i < above.size(); ++i) {
    install.files.push_back(ReadGuardedFile(above[i]));
    install.files.back().role =
        i + 1 == above.size() ? GuardedRole::kVolumeRoot : GuardedRole::kAbove;
  }
  install.administrators = LocalAdministrators();
  install.userSid = CurrentUserSid();
  return install;
}

TypeLibContent ReadTypeLibContent(const std::wstring& path) {
  TypeLibContent content;
  win::ComPtr<ITypeLib> library;
  content.loaded = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put());
  if (FAILED(content.loaded)) return content;
  TLIBATTR* attributes = nullptr;
  content.loaded = library->GetLibAttr(&attributes);
  if (FAILED(content.loaded)) return content;
  const auto release = win::MakeScopeExit([&] { library->ReleaseTLibAttr(attributes); });
  content.libid = win::GuidText(attributes->guid);
  content.major = attributes->wMajorVerNum;
  content.minor = attributes->wMinorVerNum;
  return content;
}

bool LoaderTakes(uint16_t file, uint16_t process, uint16_t windows, bool inSystemFolder) {
  return file == process ||
         (inSystemFolder && windows == IMAGE_FILE_MACHINE_ARM64 &&
          process == IMAGE_FILE_MACHINE_AMD64 && file == IMAGE_FILE_MACHINE_ARM64);
}

std::wstring DescriptorForCaller(std::wstring_view sddl, std::wstring_view userSid,
                                 bool selfIsTheUser) {
  const std::wstring user(userSid);
  std::wstring text = L"O:" + user + L"G:" + user;
  if (!selfIsTheUser) return text + std::wstring(sddl);
  // The trustee is an entry's last field.
  constexpr std::wstring_view kSelf = L";PS)";
  for (size_t at = 0; at < sddl.size();) {
    const size_t self = sddl.find(kSelf, at);
    text += sddl.substr(at, self == std::wstring_view::npos ? std::wstring_view::npos : self - at);
    if (self == std::wstring_view::npos) break;
    text += L";" + user + L")";
    at = self + kSelf.size();
  }
  return text;
}

bool DescriptorFitsIn(const BYTE* bytes, size_t size) {
  if (size < sizeof(SECURITY_DESCRIPTOR_RELATIVE)) return false;
  SECURITY_DESCRIPTOR_RELATIVE header;
  std::memcpy(&header, bytes, sizeof header);
  if ((header.Control & SE_SELF_RELATIVE) == 0) return false;
  // A part (none at offset 0) fits when its first `fixed` bytes, and the length they give, do.
  auto fits = [&](DWORD offset, size_t fixed, auto length) {
    return offset == 0 || (offset <= size && size - offset >= fixed &&
                           size - offset >= length(bytes + offset, size - offset));
  };
  auto word = [](const BYTE* at) { return size_t{at[0]} | size_t{at[1]} << 8; };
  auto sid = [](const BYTE* at, size_t) { return size_t{8} + 4 * size_t{at[1]}; };
  // A list's length covers its header and its entries, each at least a header and a mask; the
  // entries are read only where the list's bytes are there.
  auto acl = [&](const BYTE* at, size_t room) {
    const size_t length = word(at + 2), count = word(at + 4);
    if (length < 8 || length > room) return SIZE_MAX;
    size_t next = 8;
    for (size_t i = 0; i < count; ++i) {
      if (length - next < 4) return SIZE_MAX;
      const size_t entry = word(at + next + 2);
      if (entry < 8 || entry > length - next) return SIZE_MAX;
      next += entry;
    }
    return length;
  };
  return fits(header.Owner, 8, sid) && fits(header.Group, 8, sid) &&
         (!(header.Control & SE_SACL_PRESENT) || fits(header.Sacl, 8, acl)) &&
         (!(header.Control & SE_DACL_PRESENT) || fits(header.Dacl, 8, acl));
}

bool TellsLocalFromRemote(const ACL* list) {
  if (list == nullptr) return false;
  for (DWORD i = 0; i < list->AceCount; ++i) {
    void* entry = nullptr;
    if (!::GetAce(const_cast<ACL*>(list), i, &entry)) return false;
    // Every kind of entry holds its mask right after its header.
    ACCESS_MASK mask = 0;
    std::memcpy(&mask, static_cast<const BYTE*>(entry) + sizeof(ACE_HEADER), sizeof mask);
    if ((mask & (COM_RIGHTS_EXECUTE_LOCAL | COM_RIGHTS_EXECUTE_REMOTE | COM_RIGHTS_ACTIVATE_LOCAL |
                 COM_RIGHTS_ACTIVATE_REMOTE)) != 0)
      return true;
  }
  return false;
}

bool LetsCallLocally(ACCESS_MASK granted, bool localFromRemote) {
  if ((granted & COM_RIGHTS_EXECUTE) == 0) return false;
  return !localFromRemote || (granted & COM_RIGHTS_EXECUTE_LOCAL) != 0;
}

bool LetsLaunchLocally(ACCESS_MASK granted, bool localFromRemote) {
  constexpr ACCESS_MASK kLocal = COM_RIGHTS_EXECUTE_LOCAL | COM_RIGHTS_ACTIVATE_LOCAL;
  if ((granted & COM_RIGHTS_EXECUTE) == 0) return false;
  return !localFromRemote || (granted & kLocal) == kLocal;
}

namespace {

// The token this user's clients run with. A check run as administrator (elevated) asks with the
// user's ordinary token, linked to the elevated one: the clients that start the server usually
// have that one, in which the administrators' group only denies.
win::UniqueHandle ClientToken() {
  win::UniqueHandle process;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, process.put()))
    return {};
  TOKEN_ELEVATION_TYPE elevation = TokenElevationTypeDefault;
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  if (::GetTokenInformation(process.get(), TokenElevationType, &elevation, sizeof elevation,
                            &size) &&
      elevation == TokenElevationTypeFull &&
      ::GetTokenInformation(process.get(), TokenLinkedToken, &linked, sizeof linked, &size)) {
    win::UniqueHandle ordinary(linked.LinkedToken);
    // An impersonation token, unless this process may act as part of the system (then a primary
    // one, which AccessCheck refuses).
    TOKEN_TYPE type = TokenImpersonation;
    HANDLE raw = nullptr;
    if (::GetTokenInformation(ordinary.get(), TokenType, &type, sizeof type, &size) &&
        type == TokenImpersonation)
      return ordinary;
    if (!::DuplicateToken(ordinary.get(), SecurityIdentification, &raw)) return {};
    return win::UniqueHandle(raw);
  }
  HANDLE raw = nullptr;
  if (!::DuplicateToken(process.get(), SecurityImpersonation, &raw)) return {};
  return win::UniqueHandle(raw);
}

// What `descriptor` grants this user's clients of `access` (MAXIMUM_ALLOWED: all they may have):
// 0 when nothing, none when the check itself fails.
std::optional<ACCESS_MASK> GrantedToThisUser(PSECURITY_DESCRIPTOR descriptor, DWORD access,
                                             GENERIC_MAPPING mapping) {
  const win::UniqueHandle token = ClientToken();
  if (!token) return std::nullopt;
  alignas(PRIVILEGE_SET) BYTE privileges[256] = {};
  DWORD privilegesSize = sizeof privileges;
  DWORD granted = 0;
  BOOL allowed = FALSE;
  if (!::AccessCheck(descriptor, token.get(), access, &mapping,
                     reinterpret_cast<PRIVILEGE_SET*>(privileges), &privilegesSize, &granted,
                     &allowed))
    return std::nullopt;
  return allowed ? granted : 0;
}

// COM reads the AppID machine-wide, in the 64-bit view on a 64-bit Windows.
bool OpenAppId(win::UniqueHkey* out) {
  return OpenClassesKey(HKEY_LOCAL_MACHINE, win::IsSixtyFourBitWindows() ? KEY_WOW64_64KEY : 0,
                        RegistrationKeys().appIdKey, out);
}

// What the AppID's PreferredServerBitness asks: 1 and values COM does not document keep clients
// to their own view.
ServerBitness ReadPreferredServerBitness(HKEY appId) {
  DWORD type = 0, preferred = 0, bytes = sizeof preferred;
  const LSTATUS read = ::RegGetValueW(appId, nullptr, L"PreferredServerBitness", RRF_RT_ANY, &type,
                                      &preferred, &bytes);
  if (read == ERROR_FILE_NOT_FOUND) return ServerBitness::kEither;
  if (read == ERROR_SUCCESS && type == REG_DWORD && preferred == 2)
    return ServerBitness::kThirtyTwo;
  if (read == ERROR_SUCCESS && type == REG_DWORD && preferred == 3)
    return ServerBitness::kSixtyFour;
  return ServerBitness::kClients;
}

enum class AppIdList { kAccess, kLaunch };

// The AppID's access list `which` asked for this user: AccessPermission of a call, in which the
// server's own identity is the user who starts it, or LaunchPermission of a start, asked of the
// client alone (there is no server yet).
CallPermission ReadCallPermission(HKEY appId, AppIdList which) {
  const bool launch = which == AppIdList::kLaunch;
  const wchar_t* name = launch ? L"LaunchPermission" : L"AccessPermission";
  DWORD bytes = 0;
  if (::RegGetValueW(appId, nullptr, name, RRF_RT_ANY, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
    return CallPermission::kMachineDefault;
  // The system reads an entry's SID by the SID's own count, not bounded by the entry: zeros past
  // the value keep a damaged one's reads inside the buffer (an object entry's SID starts at most
  // 44 bytes in; a SID has 8 bytes and up to 255 sub-authorities).
  constexpr size_t kFarthestSidEnd = 44 + 8 + 4 * 255;
  std::vector<BYTE> value(std::max<DWORD>(bytes, 1) + kFarthestSidEnd);
  DWORD type = 0;
  if (::RegGetValueW(appId, nullptr, name, RRF_RT_ANY, &type, value.data(), &bytes) !=
          ERROR_SUCCESS ||
      type != REG_BINARY || !DescriptorFitsIn(value.data(), bytes) ||
      !::IsValidSecurityDescriptor(value.data()))
    return CallPermission::kNotADescriptor;
  // From here on a failure is this process's own, not the value's.
  const std::wstring user = CurrentUserSid();
  win::UniqueLocal<wchar_t> text;
  win::UniqueLocal<> forCaller;
  BOOL listed = FALSE, defaulted = FALSE;
  ACL* list = nullptr;
  if (user.empty() ||
      !::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          value.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
          text.put(), nullptr) ||
      !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          DescriptorForCaller(text.get(), user, !launch).c_str(), SDDL_REVISION_1, forCaller.put(),
          nullptr) ||
      !::GetSecurityDescriptorDacl(value.data(), &listed, &list, &defaulted))
    return CallPermission::kNotChecked;
  const GENERIC_MAPPING mapping{COM_RIGHTS_EXECUTE, COM_RIGHTS_EXECUTE, COM_RIGHTS_EXECUTE,
                                COM_RIGHTS_EXECUTE};
  const std::optional<ACCESS_MASK> granted =
      GrantedToThisUser(forCaller.get(), MAXIMUM_ALLOWED, mapping);
  if (!granted) return CallPermission::kNotChecked;
  const bool localFromRemote = listed && TellsLocalFromRemote(list);
  return (launch ? LetsLaunchLocally(*granted, localFromRemote)
                 : LetsCallLocally(*granted, localFromRemote))
             ? CallPermission::kAllowed
             : CallPermission::kDenied;
}

}  // namespace

// Asked of the file's security for the token of this user's clients, so nothing is created to
// find out.
bool MayAccess(const std::wstring& path, DWORD access) {
  const SECURITY_INFORMATION what =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  ::GetFileSecurityW(path.c_str(), what, nullptr, 0, &needed);
  if (needed == 0) return false;
  std::vector<BYTE> descriptor(needed);
  if (!::GetFileSecurityW(path.c_str(), what, descriptor.data(), needed, &needed)) return false;
  return (GrantedToThisUser(
              descriptor.data(), access,
              {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS})
              .value_or(0) &
          access) == access;
}

FolderAccess LogFolderAccess(const std::wstring& folder) {
  const std::wstring log = methods::LogFilePath(folder);
  const DWORD attributes = ::GetFileAttributesW(log.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_READONLY) return FolderAccess::kNotWritable;
    return MayAccess(log, FILE_APPEND_DATA) ? FolderAccess::kWritable : FolderAccess::kNotWritable;
  }
  if (::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
    return FolderAccess::kUnknown;
  return MayAccess(folder, FILE_ADD_FILE) ? FolderAccess::kWritable : FolderAccess::kNotWritable;
}

std::vector<UnusableLibrary> FindUnusableLibraries(
    const win::PeImage& library, const std::wstring& libraryName,
    const std::function<LibraryLookup(const std::wstring& name, const std::wstring& neededBy)>&
        lookup) {
  std::vector<UnusableLibrary> unusable;
  // What each library was found as, by name, with its export names in order for searching;
  // `library` itself is never looked up.
  struct Found {
    std::wstring name;
    LibraryLookup lookup;
    std::vector<std::string> exports;
  };
  std::vector<Found> found;
  // Each library beside the server whose needs are still to be looked up, with its name.
  std::vector<std::pair<win::PeImage, std::wstring>> pending = {{library, libraryName}};
  while (!pending.empty()) {
    const auto [image, name] = std::move(pending.back());
    pending.pop_back();
    for (const win::PeImport& import : image.imports) {
      const std::wstring needed = win::FromAnsi(import.library);
      if (win::SameText(needed, libraryName)) continue;
      auto known = std::find_if(found.begin(), found.end(), [&](const Found& entry) {
        return win::SameText(entry.name, needed);
      });
      if (known == found.end()) {
        found.push_back({needed, lookup(needed, name), {}});
        known = std::prev(found.end());
        known->exports = known->lookup.image.exportNames;
        std::sort(known->exports.begin(), known->exports.end());
        const LibraryLookup& first = known->lookup;
        const bool loadable =
            first.image.defect == win::PeDefect::kNone && first.image.machine == library.machine;
        if (first.where == LibraryLookup::Where::kNowhere) {
          unusable.push_back({needed, name});
          continue;
        }
        if (first.where == LibraryLookup::Where::kBeside && !loadable) {
          unusable.push_back({needed, name, true, first.image});
          continue;
        }
        if (first.where == LibraryLookup::Where::kBeside) pending.emplace_back(first.image, needed);
      }
      const LibraryLookup& at = known->lookup;
      if (at.where == LibraryLookup::Where::kNowhere || at.path.empty() ||
          at.image.defect != win::PeDefect::kNone || at.image.exportNames.empty() ||
          at.image.machine != library.machine)
        continue;
      UnusableLibrary older{
          needed, name, at.where == LibraryLookup::Where::kBeside, {}, at.path, {}, at.windowsOwn};
      for (const std::string& function : import.functions)
        if (!std::binary_search(known->exports.begin(), known->exports.end(), function))
          older.missingFunctions.push_back(win::FromAnsi(function));
      if (!older.missingFunctions.empty()) unusable.push_back(std::move(older));
    }
  }
  return unusable;
}

CheckFacts GatherCheckFacts(const std::wstring& exePath) {
  CheckFacts facts;
  facts.exePath = win::FullLongPath(exePath);
  facts.machine = OwnMachine();
  facts.windowsMachine = WindowsMachine();
  facts.userName = UserName();
  for (REGSAM view : RegistryViews(win::IsSixtyFourBitWindows()))
    facts.views.push_back(ReadView(view));
  win::UniqueHkey appId;
  if (OpenAppId(&appId)) {
    facts.preferredServerBitness = ReadPreferredServerBitness(appId.get());
    facts.callPermission = ReadCallPermission(appId.get(), AppIdList::kAccess);
    facts.launchPermission = ReadCallPermission(appId.get(), AppIdList::kLaunch);
  }

  const std::wstring folder = win::FolderOfPath(facts.exePath);
  const std::wstring library = win::FileInFolder(folder, engine_api::kLibraryFileNameW);
  facts.libraryPresent = win::IsFile(library);
  if (facts.libraryPresent)
    facts.library =
        win::ReadPeImage(ReadFileUpTo(library, kMaxLibraryBytes, &facts.libraryTooLarge));
  facts.systemFolder = SystemFolderOfThisBitness();
  const std::wstring program = win::FileInFolder(folder, engine_api::kExecutableFileNameW);
  facts.programPresent = win::IsFile(program);
  bool programTooLarge = false;
  if (facts.programPresent)
    facts.program = win::ReadPeImage(ReadFileUpTo(program, kMaxLibraryBytes, &programTooLarge));
  if (programTooLarge) facts.program = {};  // not read: nothing to judge

  // Where the loader finds what `neededBy` needs: a manifest's assembly, beside the server, in the
  // system folder (or an API set it implements), then in `alsoSearched`.
  ManifestRedirections manifests(folder);
  const std::vector<std::wstring> known = KnownLibraries();
  auto lookUp = [&](const std::wstring& name, bool redirected,
                    const std::vector<std::wstring>& alsoSearched) {
    LibraryLookup found;
    if (redirected || IsImplementedApiSet(name)) {
      found.where = LibraryLookup::Where::kSystem;
      return found;
    }
    found.windowsOwn = std::any_of(known.begin(), known.end(),
                                   [&](const std::wstring& k) { return win::SameText(k, name); });
    // A known library only from the system folder, never a copy beside the server.
    const bool besideFirst = !found.windowsOwn;
    std::vector<std::wstring> folders;
    if (besideFirst) folders.push_back(folder);
    folders.push_back(facts.systemFolder);
    if (besideFirst) folders.insert(folders.end(), alsoSearched.begin(), alsoSearched.end());
    for (const std::wstring& searched : folders) {
      const std::wstring path = win::FileInFolder(searched, name);
      if (!win::IsFile(path)) continue;
      bool tooLarge = false;
      const std::string bytes = ReadFileUpTo(path, kMaxLibraryBytes, &tooLarge);
      // One larger than any library is not read, and so taken to be whole, as the system's are.
      if (tooLarge) {
        found.where = LibraryLookup::Where::kSystem;
        break;
      }
      const bool beside = besideFirst && &searched == &folders.front();
      win::PeImage image = win::ReadPeImage(bytes);
      // One beside the server is still reported (FindUnusableLibraries): a mixed-up install.
      if (!beside && image.defect == win::PeDefect::kNone &&
          !LoaderTakes(image.machine, facts.machine, facts.windowsMachine,
                       win::SameText(searched, facts.systemFolder)))
        continue;
      found.where = beside ? LibraryLookup::Where::kBeside : LibraryLookup::Where::kSystem;
      found.image = std::move(image);
      found.path = path;
      break;
    }
    return found;
  };
  // Only a file the server can load or start at all has needs worth looking up; a program of the
  // other bitness searches another system folder, which this process does not see.
  if (facts.libraryPresent && facts.library.defect == win::PeDefect::kNone &&
      facts.library.machine == facts.machine && !facts.systemFolder.empty())
    facts.unusableLibraries = FindUnusableLibraries(
        facts.library, engine_api::kLibraryFileNameW,
        [&](const std::wstring& name, const std::wstring& neededBy) {
          return lookUp(name,
                        manifests.Redirects(neededBy, ManifestRedirections::kLibraryManifest, name),
                        {});
        });
  if (facts.programPresent && facts.program.defect == win::PeDefect::kNone &&
      !facts.program.isDll && facts.program.machine == facts.machine &&
      !facts.systemFolder.empty()) {
    const std::vector<std::wstring> alsoSearched = FoldersAProgramAlsoSearches(facts.systemFolder);
    facts.programUnusableLibraries = FindUnusableLibraries(
        facts.program, engine_api::kExecutableFileNameW,
        [&](const std::wstring& name, const std::wstring& neededBy) {
          const bool redirected =
              manifests.Redirects(engine_api::kExecutableFileNameW,
                                  ManifestRedirections::kProgramManifest, name) ||
              (!win::SameText(neededBy, engine_api::kExecutableFileNameW) &&
               manifests.Redirects(neededBy, ManifestRedirections::kLibraryManifest, name));
          return lookUp(name, redirected, alsoSearched);
        });
  }
  facts.libraryIsFolder = win::IsFolder(library);
  facts.programIsFolder = win::IsFolder(program);
  facts.logFolder = LogFolderAccess(folder);
  facts.install = GatherInstallSecurity(facts.exePath);
  return facts;
}

}  // namespace korvane::server::host
