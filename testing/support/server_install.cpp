#include "testing/support/server_install.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <winsvc.h>

#include <utility>
#include <vector>

#include "common/win/guid_text.h"
#include "common/win/registry.h"
#include "common/win/unique_handle.h"
#include "testing/support/main_thread.h"

namespace korvane::test {

std::wstring BuiltServerExe() { return WindowsPathOf(KORVANE_SERVER_EXE); }

std::vector<DWORD> ServerProcessIds() { return ProcessIdsOf(L"QuandrelCom.exe"); }

namespace {

// Wine's RPC service keeps the class object of a server that was killed and hands it to every
// later client (which then fails with RPC_S_SERVER_UNAVAILABLE). Restarting the service forgets
// every registration; running servers are reached again once they register anew, and new ones
// are started as usual. On Windows the service cannot be stopped and this does nothing.
struct ServiceTraits {
  static SC_HANDLE Empty() noexcept { return nullptr; }
  static bool IsValid(SC_HANDLE h) noexcept { return h != nullptr; }
  static bool Close(SC_HANDLE h) noexcept { return ::CloseServiceHandle(h) != FALSE; }
};
using UniqueService = win::UniqueResource<SC_HANDLE, ServiceTraits>;

void ForgetClassRegistrations() {
  UniqueService manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return;
  UniqueService service(
      ::OpenServiceW(manager.get(), L"RpcSs", SERVICE_STOP | SERVICE_QUERY_STATUS));
  SERVICE_STATUS status{};
  if (!service || !::ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) return;
  for (int i = 0; i < 100 && ::QueryServiceStatus(service.get(), &status) &&
                  status.dwCurrentState != SERVICE_STOPPED;
       ++i)
    ::Sleep(50);
}

}  // namespace

void EndAllServerProcesses() {
  // Asked to quit, a server withdraws its class object on the way out; only one that does not
  // quit in time is killed.
  std::vector<win::UniqueHandle> running;
  for (DWORD id : ServerProcessIds()) {
    win::UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (!process) continue;
    ::PostThreadMessageW(win::MainThreadOf(id), WM_QUIT, 0, 0);
    running.push_back(std::move(process));
  }
  bool killed = false;
  for (win::UniqueHandle& process : running) {
    if (::WaitForSingleObject(process.get(), 10000) == WAIT_OBJECT_0) continue;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 10000);
    killed = true;
  }
  if (killed) ForgetClassRegistrations();
}

ServerInstall::ServerInstall(std::wstring_view folderName, const std::wstring& serverExe)
    : root_(L"qcs") {
  folder_ = root_ / folderName;
  if (!::CreateDirectoryW(folder_.c_str(), nullptr))
    ADD_FAILURE() << "cannot create " << Narrow(folder_) << ", error " << ::GetLastError();
  CopyFileOrFail(serverExe, exe());
}

ServerInstall::~ServerInstall() {
  EndAllServerProcesses();
  if (registered_) RunSwitch(L"/UnregServer");
}

uint32_t ServerInstall::RunSwitch(std::wstring_view option) const { return Run(option).exitCode; }

ProcessResult ServerInstall::Run(std::wstring_view arguments, DWORD timeoutMs) const {
  std::wstring commandLine = L"\"" + exe() + L"\"";
  if (!arguments.empty()) commandLine += L" " + std::wstring(arguments);
  ProcessResult run = RunProcess(commandLine, folder_, timeoutMs);
  EXPECT_TRUE(run.started) << "cannot start the server, error " << run.startError;
  return run;
}

void ServerInstall::Register() {
  // A server still running from another copy would answer the activations meant for this one.
  EndAllServerProcesses();
  ASSERT_EQ(RunSwitch(L"/RegServer"), 0u);
  registered_ = true;
}

win::ComPtr<_QuandrelCom> ServerInstall::Create() const {
  win::ComPtr<_QuandrelCom> object;
  HRESULT hr = ::CoCreateInstance(CLSID_QuandrelCom, nullptr, CLSCTX_LOCAL_SERVER, IID__QuandrelCom,
                                  object.put_void());
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

std::vector<std::string> RegistrationLeft() {
  const std::wstring keys[] = {L"Korvane.QuandrelCom",
                               L"CLSID\\" + win::GuidText(CLSID_QuandrelCom),
                               L"Interface\\" + win::GuidText(IID__QuandrelCom),
                               L"AppID\\" + win::GuidText(CLSID_QuandrelCom),
                               L"TypeLib\\" + win::GuidText(LIBID_Korvane) + L"\\1.0\\0\\" +
                                   (kOwnBits == 64 ? L"win64" : L"win32")};
  std::vector<std::string> left;
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
    for (const std::wstring& key : keys)
      if (win::KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + key, view))
        left.push_back(Narrow(key) + (view == KEY_WOW64_64KEY ? " (64" : " (32") + "-bit view)");
  return left;
}

namespace {

std::wstring SystemFolder(UINT(WINAPI* get)(LPWSTR, UINT)) {
  wchar_t path[MAX_PATH];
  const UINT length = get(path, MAX_PATH);
  return std::wstring(path, length < MAX_PATH ? length : 0);
}

}  // namespace

std::string WhyNoProgramsOf(int bits) {
  if (bits == 64)
    return win::IsSixtyFourBitWindows() ? "" : "a 32-bit Windows runs no 64-bit programs";
  if (kOwnBits == 32 || !win::IsSixtyFourBitWindows()) return "";
  // Asked once: the 32-bit cmd.exe exits with the code it is given when 32-bit programs run.
  static const std::string why = [] {
    const ProcessResult probe =
        RunProcess(L"\"" + SystemFolder(::GetSystemWow64DirectoryW) + L"\\cmd.exe\" /c exit 7");
    if (probe.started && probe.exitCode == 7) return std::string();
    return "this Windows runs no 32-bit programs (its 32-bit cmd.exe " +
           (probe.started ? "exited with " + std::to_string(probe.exitCode)
                          : "did not start, error " + std::to_string(probe.startError)) +
           ")";
  }();
  return why;
}

std::wstring ScriptHostOf(int bits) {
  std::wstring folder;
  if (bits == kOwnBits)
    folder = SystemFolder(::GetSystemDirectoryW);
  else if (bits == 32)
    folder = SystemFolder(::GetSystemWow64DirectoryW);
  else  // a 32-bit process reaches the 64-bit system folder by this name only
    folder = SystemFolder(::GetWindowsDirectoryW) + L"\\Sysnative";
  return folder + L"\\cscript.exe";
}

void CallByName(IDispatch* object, std::wstring_view name, std::vector<VARIANT> args,
                DispatchResult* out, WORD flags) {
  *out = win::InvokeByName(object, name, args, flags);
  for (auto& arg : args) ::VariantClear(&arg);
}

VARIANT VariantText(std::wstring_view text) {
  return win::MakeArg(VT_BSTR, [text](VARIANT& v) {
    v.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  });
}

}  // namespace korvane::test
