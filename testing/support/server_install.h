// A copy of QuandrelCom.exe in a folder of its own, registered machine-wide in the test prefix,
// and the clients that talk to it: early binding, IDispatch and Wine's script host.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/win/com_ptr.h"
#include "common/win/late_binding.h"
#include "common/win/unique_bstr.h"
#include "common/win/variant_args.h"
#include "server/com/quandrelcom.h"
#include "testing/support/test_support.h"

namespace korvane::test {

// The built server executable (Windows path).
std::wstring BuiltServerExe();

// Ends every QuandrelCom.exe process of the test prefix (they are all ours) and waits for them:
// each is asked to quit (WM_QUIT to its message loop) and killed only if it does not.
void EndAllServerProcesses();

// Process ids of the running QuandrelCom.exe processes.
std::vector<DWORD> ServerProcessIds();

// Tests and benchmarks alike: failures go to GoogleTest, and a benchmark asks registered().
class ServerInstall {
 public:
  // `folderName` may hold spaces; the folder is created below a fresh temporary folder. A copy of
  // `serverExe` (another build's, say) is what runs.
  explicit ServerInstall(std::wstring_view folderName = L"server",
                         const std::wstring& serverExe = BuiltServerExe());
  // Ends the server processes and unregisters the copy.
  ~ServerInstall();

  const std::wstring& folder() const { return folder_; }
  std::wstring exe() const { return folder_ + L"\\QuandrelCom.exe"; }
  std::wstring file(std::wstring_view name) const { return folder_ + L"\\" + std::wstring(name); }
  std::wstring logPath() const { return file(L"_debug.log"); }
  std::string ReadLog() const { return ReadFileBytes(logPath()); }

  // Runs the copy with a registration switch and returns its exit code.
  uint32_t RunSwitch(std::wstring_view option) const;
  // Runs the copy with the given arguments and waits for it: exit code and what it printed.
  ProcessResult Run(std::wstring_view arguments, DWORD timeoutMs = 60000) const;

  // Registers this copy machine-wide (ending any server that still runs from another copy).
  void Register();
  bool registered() const { return registered_; }

  // Creates an object in the (started if need be) server process.
  win::ComPtr<_QuandrelCom> Create() const;
  win::ComPtr<IDispatch> CreateDispatch() const;

 private:
  TempDir root_;
  std::wstring folder_;
  bool registered_ = false;
};

// Runs a script file's text with Wine's cscript.exe (//nologo); `extension` is L"vbs" or L"js".
ProcessResult RunScript(const ServerInstall& server, std::wstring_view extension,
                        std::string_view scriptText);

// What of the class's machine-wide registration is left in either view: the ProgID, the class,
// the interface, the AppID and this build's type library entry, each as "<key> (<bits>-bit view)".
std::vector<std::string> RegistrationLeft();

// This build's bitness.
inline constexpr int kOwnBits = sizeof(void*) * 8;

// Clients of both bitnesses. Why this Windows runs no programs of `bits` (32 or 64), or nothing
// when it does: a 32-bit Windows runs no 64-bit ones, and a 64-bit Wine prefix without the 32-bit
// loader has the 32-bit system folder but runs nothing from it.
std::string WhyNoProgramsOf(int bits);
// The system's cscript.exe of `bits`, by the path this process reaches it with.
std::wstring ScriptHostOf(int bits);

// Late-bound call by name with positional arguments (given in natural order), which it clears.
using DispatchResult = win::DispatchOutcome;
void CallByName(IDispatch* object, std::wstring_view name, std::vector<VARIANT> args,
                DispatchResult* out, WORD flags = DISPATCH_METHOD);

VARIANT VariantText(std::wstring_view text);  // caller's VARIANT owns a new BSTR (win::LongArg,
                                              // win::BoolArg give the others)

// A test with a registered copy of the server (in a folder named `folder`) and an object in it.
class ServerObjectTest : public ::testing::Test {
 protected:
  explicit ServerObjectTest(std::wstring_view folder = L"server") : server_(folder) {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(server_.Register());
    object_ = server_.Create();
    ASSERT_TRUE(object_);
  }

  ServerInstall server_;
  win::ComPtr<_QuandrelCom> object_;
};

}  // namespace korvane::test
