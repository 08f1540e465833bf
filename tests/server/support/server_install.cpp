#include "server_install.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include "win/scoped_handle.h"

namespace korvane::test {

namespace {

// Every test of the server talks COM from the main thread, in a single-threaded apartment.
class ComEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void TearDown() override { ::CoUninitialize(); }
};
const auto* const kComEnvironment = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

bool IsServerImage(const wchar_t* exeFile) {
  return ::lstrcmpiW(exeFile, L"QuandrelCom.exe") == 0;
}

}  // namespace

std::wstring BuiltServerExe() { return WindowsPathOf(KORVANE_SERVER_EXE); }

std::vector<DWORD> ServerProcessIds() {
  std::vector<DWORD> ids;
  win::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (IsServerImage(entry.szExeFile)) ids.push_back(entry.th32ProcessID);
  }
  return ids;
}

void EndAllServerProcesses() {
  for (DWORD id : ServerProcessIds()) {
    win::UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (!process) continue;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 10000);
  }
}

ServerInstall::ServerInstall(std::wstring_view folderName) : root_(L"qcs") {
  folder_ = root_ / folderName;
  if (!::CreateDirectoryW(folder_.c_str(), nullptr))
    ADD_FAILURE() << "cannot create " << Narrow(folder_) << ", error " << ::GetLastError();
  CopyFileOrFail(BuiltServerExe(), exe());
}

ServerInstall::~ServerInstall() {
  EndAllServerProcesses();
  if (registered_) RunSwitch(L"/UnregServer");
}

uint32_t ServerInstall::RunSwitch(std::wstring_view option) const {
  ProcessResult run = RunProcess(L"\"" + exe() + L"\" " + std::wstring(option), folder_);
  EXPECT_TRUE(run.started) << "cannot start the server, error " << run.startError;
  return run.exitCode;
}

void ServerInstall::Register() {
  // A server still running from another copy would answer the activations meant for this one.
  EndAllServerProcesses();
  ASSERT_EQ(RunSwitch(L"/RegServer"), 0u);
  registered_ = true;
}

win::ComPtr<_QuandrelCom> ServerInstall::Create() const {
  win::ComPtr<_QuandrelCom> object;
  HRESULT hr = ::CoCreateInstance(CLSID_QuandrelCom, nullptr, CLSCTX_LOCAL_SERVER,
                                  IID__QuandrelCom, object.put_void());
  EXPECT_EQ(hr, S_OK) << "CoCreateInstance failed";
  return object;
}

win::ComPtr<IDispatch> ServerInstall::CreateDispatch() const {
  win::ComPtr<IDispatch> object;
  CLSID clsid{};
  HRESULT hr = ::CLSIDFromProgID(L"Korvane.QuandrelCom", &clsid);
  EXPECT_EQ(hr, S_OK) << "ProgID not registered";
  hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, object.put_void());
  EXPECT_EQ(hr, S_OK) << "CoCreateInstance failed";
  return object;
}

ProcessResult RunScript(const ServerInstall& server, std::wstring_view extension,
                        std::string_view scriptText) {
  static int counter = 0;
  std::wstring path = server.folder() + L"\\..\\client" + std::to_wstring(counter++) + L"." +
                      std::wstring(extension);
  WriteFileBytes(path, scriptText);
  return RunProcess(L"cscript.exe //nologo \"" + path + L"\"", server.folder(), 120000);
}

DispatchResult::~DispatchResult() {
  ::VariantClear(&value);
  ::SysFreeString(excep.bstrSource);
  ::SysFreeString(excep.bstrDescription);
  ::SysFreeString(excep.bstrHelpFile);
}

std::wstring DispatchResult::Text() const {
  if (value.vt != VT_BSTR) return L"<not a string>";
  return value.bstrVal ? std::wstring(value.bstrVal, ::SysStringLen(value.bstrVal)) : L"";
}

void CallByName(IDispatch* object, std::wstring_view name, std::vector<VARIANT> args,
                DispatchResult* out, WORD flags) {
  std::wstring member(name);
  LPOLESTR names[] = {member.data()};
  DISPID id = 0;
  out->hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(out->hr)) return;
  // IDispatch takes the arguments last to first.
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  DISPID put = DISPID_PROPERTYPUT;
  if (flags & DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  UINT argError = 0;
  out->hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &out->value,
                           &out->excep, &argError);
  for (auto& arg : args) ::VariantClear(&arg);
}

VARIANT VariantText(std::wstring_view text) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return v;
}

VARIANT VariantLong(LONG value) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

VARIANT VariantBool(bool value) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

}  // namespace korvane::test
