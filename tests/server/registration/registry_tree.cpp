#include "tests/server/registration/registry_tree.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <vector>

#include "common/win/unique_local.h"
#include "testing/support/test_support.h"

namespace korvane::test {

namespace {

void ReadInto(HKEY key, const std::wstring& relative, REGSAM view, RegistryTree* tree) {
  KeyValues& values = (*tree)[relative];
  for (DWORD i = 0;; ++i) {
    wchar_t name[16384];
    DWORD nameLength = 16384;
    DWORD type = 0;
    DWORD bytes = 0;
    if (::RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &bytes) !=
        ERROR_SUCCESS)
      break;
    std::vector<BYTE> data(bytes + sizeof(wchar_t), 0);
    nameLength = 16384;
    ::RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data.data(), &bytes);
    std::wstring text;
    if (type == REG_SZ) {
      text.assign(reinterpret_cast<const wchar_t*>(data.data()), bytes / sizeof(wchar_t));
      while (!text.empty() && text.back() == L'\0') text.pop_back();
    } else {
      text = L"<type " + std::to_wstring(type) + L">";
    }
    values[std::wstring(name, nameLength)] = text;
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLength = 256;
    if (::RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    std::wstring child(name, nameLength);
    win::UniqueHkey sub;
    if (::RegOpenKeyExW(key, child.c_str(), 0, KEY_READ | view, sub.put()) != ERROR_SUCCESS)
      continue;
    ReadInto(sub.get(), relative.empty() ? child : relative + L"\\" + child, view, tree);
  }
}

}  // namespace

RegistryTree ReadTree(HKEY root, const std::wstring& path, REGSAM view) {
  RegistryTree tree;
  win::UniqueHkey key;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS)
    return tree;
  ReadInto(key.get(), path, view, &tree);
  if (path.empty()) tree.erase(L"");
  return tree;
}

void WriteKey(HKEY root, const std::wstring& path, const wchar_t* defaultValue, DWORD options,
              REGSAM view) {
  win::UniqueHkey key;
  ASSERT_EQ(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, options, KEY_WRITE | view, nullptr,
                              key.put(), nullptr),
            ERROR_SUCCESS)
      << Narrow(path);
  if (defaultValue) {
    ASSERT_EQ(
        ::RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(defaultValue),
                         static_cast<DWORD>((::lstrlenW(defaultValue) + 1) * 2)),
        ERROR_SUCCESS);
  }
}

win::UniqueHkey OpenClasses(HKEY hive, REGSAM access) {
  win::UniqueHkey key;
  EXPECT_EQ(::RegCreateKeyExW(hive, L"Software\\Classes", 0, nullptr, 0, access, nullptr, key.put(),
                              nullptr),
            ERROR_SUCCESS);
  return key;
}

ScratchKey::ScratchKey() {
  static int counter = 0;
  path_ = L"Software\\KorvaneRegistrationTest-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
          std::to_wstring(counter++);
  EXPECT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE,
                              nullptr, key_.put(), nullptr),
            ERROR_SUCCESS);
}

ScratchKey::~ScratchKey() {
  key_.reset();
  DeleteKeyTree(HKEY_CURRENT_USER, path_);
}

const std::vector<std::wstring>& OwnedKeys() {
  static const std::vector<std::wstring> keys = {kProgId,     kClassKey, kInterfaceKey,
                                                 kTypeLibKey, kAppIdKey, L"AppID\\QuandrelCom.exe"};
  return keys;
}

std::vector<std::wstring> OwnedKeysIn(HKEY root, REGSAM view) {
  std::vector<std::wstring> present;
  for (const std::wstring& key : OwnedKeys())
    if (KeyExists(root, key, view)) present.push_back(key);
  return present;
}

RegistryTree ReadRegistration(HKEY classesRoot, REGSAM view) {
  RegistryTree all;
  for (const std::wstring& key : OwnedKeys()) {
    RegistryTree part = ReadTree(classesRoot, key, view);
    all.insert(part.begin(), part.end());
  }
  return all;
}

RegistryTree ExpectedRegistration(const std::wstring& exePath, const std::wstring& platform,
                                  bool appId) {
  const std::wstring& clsid = kClassKey;
  const std::wstring& iface = kInterfaceKey;
  const std::wstring& lib = kTypeLibKey;
  const std::wstring marshaller = L"{00020424-0000-0000-C000-000000000046}";
  const std::wstring folder = exePath.substr(0, exePath.find_last_of(L'\\') + 1);
  RegistryTree tree = {
      {kProgId, {{L"", L"QuandrelCom"}}},
      {std::wstring(kProgId) + L"\\CLSID", {{L"", kClsidText}}},
      {clsid, {{L"", L"QuandrelCom"}}},
      {clsid + L"\\LocalServer32", {{L"", L"\"" + exePath + L"\""}}},
      {clsid + L"\\ProgID", {{L"", kProgId}}},
      {clsid + L"\\TypeLib", {{L"", kLibidText}}},
      {clsid + L"\\Version", {{L"", L"1.0"}}},
      {iface, {{L"", L"_QuandrelCom"}}},
      {iface + L"\\ProxyStubClsid32", {{L"", marshaller}}},
      {iface + L"\\ProxyStubClsid", {{L"", marshaller}}},
      {iface + L"\\TypeLib", {{L"", kLibidText}, {L"Version", L"1.0"}}},
      {lib, {}},
      {lib + L"\\1.0", {{L"", L"Korvane"}}},
      {lib + L"\\1.0\\0", {}},
      {lib + L"\\1.0\\0\\" + platform, {{L"", exePath}}},
      {lib + L"\\1.0\\FLAGS", {{L"", L"0"}}},
      {lib + L"\\1.0\\HELPDIR", {{L"", folder}}},
  };
  if (appId) {
    tree[clsid][L"AppID"] = kClsidText;
    tree[kAppIdKey] = {{L"", L"Korvane QuandrelCom"}, {L"AccessPermission", L"<type 3>"}};
    tree[L"AppID\\QuandrelCom.exe"] = {{L"AppID", kClsidText}};
  }
  return tree;
}

std::wstring AccessPermissionSddl(HKEY classesRoot) {
  std::vector<BYTE> sd(4096);
  DWORD bytes = static_cast<DWORD>(sd.size());
  win::UniqueLocal<wchar_t> text, sid;
  BOOL present = FALSE, defaulted = FALSE;
  ACL* sacl = nullptr;
  void* ace = nullptr;
  if (::RegGetValueW(classesRoot, kAppIdKey.c_str(), L"AccessPermission", RRF_RT_REG_BINARY,
                     nullptr, sd.data(), &bytes) != ERROR_SUCCESS ||
      !::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          sd.data(), SDDL_REVISION_1,
          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          text.put(), nullptr))
    return {};
  if (!::GetSecurityDescriptorSacl(sd.data(), &present, &sacl, &defaulted) || !sacl ||
      sacl->AceCount != 1 || !::GetAce(sacl, 0, &ace))
    return text.get();
  const auto* label = static_cast<const SYSTEM_MANDATORY_LABEL_ACE*>(ace);
  const bool noExecuteUp = label->Header.AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE &&
                           label->Mask == SYSTEM_MANDATORY_LABEL_NO_EXECUTE_UP;
  if (!::ConvertSidToStringSidW(const_cast<DWORD*>(&label->SidStart), sid.put())) return {};
  return std::wstring(text.get()) + L"S:(" + (noExecuteUp ? L"ML;;NX" : L"?") + L";;;" + sid.get() +
         L")";
}

void DeleteKeyTree(HKEY root, const std::wstring& path, REGSAM view) {
  std::vector<std::wstring> subkeys;
  {
    win::UniqueHkey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return;
    wchar_t name[256];
    DWORD length = 256;
    for (DWORD i = 0; ::RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr,
                                      nullptr) == ERROR_SUCCESS;
         ++i, length = 256)
      subkeys.emplace_back(name, length);
  }
  for (const std::wstring& subkey : subkeys) DeleteKeyTree(root, path + L"\\" + subkey, view);
  ::RegDeleteKeyExW(root, path.c_str(), view, 0);
}

}  // namespace korvane::test
