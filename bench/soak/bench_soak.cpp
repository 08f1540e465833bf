// A long run of mixed calls against one server, printed, not judged: the server's handle count
// and private memory before and after, and calls per second with one client and with eight.
//   bench_soak.exe [calls, default 10000]
// Half of the calls come from one client, half from eight clients at once. The clients are the
// stress test's (every method, every result checked), so a wrong result shows here too.
#include <windows.h>

#include <objbase.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "common/win/com_ptr.h"
#include "common/win/scoped_com_init.h"
#include "common/win/unique_handle.h"
#include "server/com/quandrelcom.h"
#include "testing/support/server_install.h"
#include "testing/support/system_handles.h"

namespace {

using namespace korvane::bench;
using korvane::win::ComPtr;
using korvane::win::UniqueHandle;

// A registered copy of the server with the reference engine beside it, and a work folder for
// the clients' files.
class SoakServer {
 public:
  SoakServer() : copy_(L"soak"), work_(copy_.folder() + L"\\work") {
    copy_.Register();
    ok_ = copy_.registered() && ::CreateDirectoryW(work_.c_str(), nullptr) &&
          ::CopyFileW(WindowsPathOf(KORVANE_ENGINE_SDK).c_str(),
                      (copy_.folder() + L"\\quandrelsdk.dll").c_str(), FALSE) &&
          WriteText(work_ + L"\\in.txt", "one\r\ntwo\r\n");
  }
  bool ok() const { return ok_; }
  std::wstring exe() const { return copy_.exe(); }
  const std::wstring& work() const { return work_; }

 private:
  static bool WriteText(const std::wstring& path, const std::string& text) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file &&
           ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                       nullptr) &&
           written == text.size();
  }

  korvane::test::ServerInstall copy_;
  std::wstring work_;
  bool ok_ = false;
};

// What the server holds, as far as the platform tells it.
struct ServerState {
  size_t handles = 0;
  double windowsPrivate = 0;  // PROCESS_MEMORY_COUNTERS_EX::PrivateUsage (Wine: 0)
  double hostPrivate = 0;     // the host process's RssAnon
};

ServerState ReadState(DWORD pid, const HostProcess& host) {
  ServerState state;
  state.handles = korvane::test::HandleCountOf(pid);
  UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (process &&
      ::GetProcessMemoryInfo(process.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters))
    state.windowsPrivate = static_cast<double>(counters.PrivateUsage);
  if (host.found()) state.hostPrivate = host.StatusBytes("RssAnon");
  return state;
}

// Runs `clients` stress clients at once, `callsEach` calls each; the seconds they took, and the
// wrong results they reported (a client that could not reach the server counts 1000).
double RunClients(const SoakServer& server, int clients, int callsEach, int round,
                  unsigned long* wrong) {
  std::vector<UniqueHandle> processes;
  const double start = Now();
  for (int i = 0; i < clients; ++i) {
    std::wstring commandLine = L"\"" + WindowsPathOf(KORVANE_STRESS_CLIENT) + L"\" \"" +
                               WindowsPathOf(KORVANE_RUNNER_CHILD) + L"\" \"" + server.work() +
                               L"\" " + std::to_wstring(round * 100 + i) + L" " +
                               std::to_wstring(callsEach);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
      std::printf("cannot start a client, error %lu\n", ::GetLastError());
      *wrong += 1000;
      continue;
    }
    ::CloseHandle(info.hThread);
    processes.emplace_back(info.hProcess);
  }
  for (const UniqueHandle& process : processes) {
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    *wrong += code;
  }
  return Now() - start;
}

void PrintState(const char* label, const ServerState& state) {
  const double mib = 1 << 20;
  std::printf(
      "  %-7s handles %5zu   private: host RssAnon %7.2f MiB, Windows PrivateUsage "
      "%7.2f MiB%s\n",
      label, state.handles, state.hostPrivate / mib, state.windowsPrivate / mib,
      state.windowsPrivate == 0 ? " (Wine reads 0 for another process)" : "");
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int single = calls / 2;
  const int eachOfEight = (calls - single) / 8;
  korvane::win::ScopedComInit com(COINIT_APARTMENTTHREADED);
  SoakServer server;
  // This object keeps the server running between the rounds, so one process is measured.
  ComPtr<_QuandrelCom> keeper;
  HRESULT hr = server.ok() ? ::CoCreateInstance(CLSID_QuandrelCom, nullptr, CLSCTX_LOCAL_SERVER,
                                                IID__QuandrelCom, keeper.put_void())
                           : E_FAIL;
  std::vector<DWORD> ids = ProcessIdsOf(server.exe());
  if (FAILED(hr) || ids.size() != 1) {
    std::printf("cannot reach a registered server (0x%08lX)\n", static_cast<unsigned long>(hr));
    return 1;
  }
  const DWORD pid = ids.front();
  HostProcess host(server.exe());

  unsigned long wrong = 0;
  // Settles what the server keeps for good: the engine library's binding, the log file's
  // first creation, the run time's caches.
  RunClients(server, 1, 60, 0, &wrong);
  const ServerState before = ReadState(pid, host);
  const double oneSeconds = RunClients(server, 1, single, 1, &wrong);
  const ServerState middle = ReadState(pid, host);
  const double eightSeconds = RunClients(server, 8, eachOfEight, 2, &wrong);
  const ServerState after = ReadState(pid, host);

  std::printf(
      "soak: %d mixed calls (RunCmd2 with output and with a missing program, RunCmd "
      "waiting, EnableDebugLog read back, the overflow error, Quandrel; one sixth each)\n",
      single + 8 * eachOfEight);
  std::printf("  1 client:   %5d calls in %7.1f s  %7.1f calls/s\n", single, oneSeconds,
              single / oneSeconds);
  std::printf("  8 clients:  %5d calls in %7.1f s  %7.1f calls/s\n", 8 * eachOfEight, eightSeconds,
              8 * eachOfEight / eightSeconds);
  std::printf("  wrong results reported by the clients: %lu\n", wrong);
  std::printf("server (pid %lu, one process throughout: %s):\n", pid,
              ProcessIdsOf(server.exe()) == ids ? "yes" : "NO");
  PrintState("before", before);
  PrintState("middle", middle);
  PrintState("after", after);
  std::printf("  growth  handles %+lld, host RssAnon %+.2f MiB\n",
              static_cast<long long>(after.handles) - static_cast<long long>(before.handles),
              (after.hostPrivate - before.hostPrivate) / (1 << 20));
  keeper.reset();
  return wrong == 0 ? 0 : 1;
}
