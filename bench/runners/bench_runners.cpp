// Figures for the command runners, printed, not judged: RunCmd2's capture speed against a bare
// program draining the same child, the server's CPU time and a second client's call latency
// while RunCmd2 waits on a silent child, and the server's handle count across many calls; or, in
// its own run, the time a crowd of clients takes to get its RunCmd2 calls back.
//   bench_runners.exe [calls per method for the handle count, default 1000] [capture]
//   bench_runners.exe crowd <clients> <seconds each child stays silent>
// ("capture" alone runs only the capture figures).
#include <windows.h>

#include <objbase.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "common/win/com_ptr.h"
#include "common/win/scoped_com_init.h"
#include "common/win/unique_bstr.h"
#include "common/win/unique_handle.h"
#include "server/com/quandrel_com.h"
#include "server/com/quandrelcom.h"
#include "server/methods/message_pump.h"
#include "server/methods/output_capture.h"
#include "testing/support/server_install.h"
#include "testing/support/system_handles.h"

namespace {

using namespace korvane::bench;
using korvane::win::ComPtr;
using korvane::win::UniqueBstr;
using korvane::win::UniqueHandle;

constexpr unsigned long long kCaptureBytes = 64ull << 20;
constexpr DWORD kReadSize =
    korvane::server::methods::OutputCapture::kReadSize;  // RunCmd2's read size

std::wstring ChildCommand(const std::wstring& steps) {
  return L"\"" + WindowsPathOf(KORVANE_RUNNER_CHILD) + L"\" " + steps;
}

double ProcessCpuSeconds(HANDLE process) {
  FILETIME created, ended, kernel, user;
  if (!::GetProcessTimes(process, &created, &ended, &kernel, &user)) return 0;
  auto value = [](const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return static_cast<double>(value(kernel) + value(user)) / 1e7;
}

// The bare program: the same child drained through a pipe of its own with the same read size.
double BareDrainSeconds(const std::wstring& commandLine, size_t* got) {
  std::string bytes;
  const double seconds = korvane::bench::BareDrainSeconds(commandLine, kReadSize, &bytes);
  *got = bytes.size();
  return seconds;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[index];
}

void CaptureFigures(_QuandrelCom* remote) {
  std::wstring line = ChildCommand(L"bytes " + std::to_wstring(kCaptureBytes));
  ComPtr<_QuandrelCom> local;
  if (FAILED(korvane::server::com::QuandrelCom::Create(IID__QuandrelCom, local.put_void()))) {
    std::printf("  capture: the in-process object could not be made\n");
    return;
  }
  double bare = 1e9, viaCom = 1e9, inProcess = 1e9;
  size_t bareBytes = 0, comChars = 0, localChars = 0;
  // Interleaved, best of seven (of two through COM, which is slow): other work on the machine
  // shows as noise.
  for (int run = 0; run < 7; ++run) {
    bare = std::min(bare, BareDrainSeconds(line, &bareBytes));
    inProcess = std::min(inProcess, RunCmd2Seconds(local.get(), line, &localChars));
    if (run < 2) viaCom = std::min(viaCom, RunCmd2Seconds(remote, line, &comChars));
  }
  const double mib = static_cast<double>(kCaptureBytes) / (1 << 20);
  std::printf("capture of 64 MiB (read size %lu):\n", kReadSize);
  std::printf("  bare program draining the child:  %6.3f s  %7.1f MiB/s  (%zu bytes)\n", bare,
              mib / bare, bareBytes);
  std::printf("  RunCmd2 in-process:               %6.3f s  %7.1f MiB/s  (%zu chars) ratio %.2f\n",
              inProcess, mib / inProcess, localChars, bare / inProcess);
  std::printf("  RunCmd2 through COM (server):     %6.3f s  %7.1f MiB/s  (%zu chars) ratio %.2f\n",
              viaCom, mib / viaCom, comChars, bare / viaCom);
}

void IdleWaitFigures(_QuandrelCom* remote, const korvane::test::ServerInstall& server,
                     DWORD serverPid) {
  UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, serverPid));
  HostProcess host(server.exe());
  std::wstring line = ChildCommand(L"sleep 5000");
  double cpu0 = ProcessCpuSeconds(process.get());
  double host0 = host.CpuSeconds();
  size_t chars = 0;
  double wall = RunCmd2Seconds(remote, line, &chars);
  double cpu = ProcessCpuSeconds(process.get()) - cpu0;
  double hostCpu = host.CpuSeconds() - host0;
  std::printf("server CPU while RunCmd2 waits on a child silent for 5 s (wall %.2f s):\n", wall);
  std::printf("  GetProcessTimes on the server:   %7.1f ms  (%.2f %% of wall)\n", cpu * 1000,
              100 * cpu / wall);
  if (host.found())
    std::printf("  host /proc time of the server:   %7.1f ms  (%.2f %% of wall)\n", hostCpu * 1000,
                100 * hostCpu / wall);
  else
    std::printf("  host /proc time of the server:   not found\n");

  ComPtr<_QuandrelCom> local;
  if (FAILED(korvane::server::com::QuandrelCom::Create(IID__QuandrelCom, local.put_void()))) {
    std::printf("  in-process object: could not be made\n");
    return;
  }
  double self0 = ProcessCpuSeconds(::GetCurrentProcess());
  wall = RunCmd2Seconds(local.get(), line, &chars);
  double self = ProcessCpuSeconds(::GetCurrentProcess()) - self0;
  std::printf("  same wait in-process (own times): %6.1f ms  (%.2f %% of wall)\n", self * 1000,
              100 * self / wall);
}

void LatencyFigures(_QuandrelCom* remote) {
  // The second client: a thread of its own apartment, with an object of its own and a proxy to
  // the object whose RunCmd2 waits.
  ComPtr<IStream> handOver;
  ::CoMarshalInterThreadInterfaceInStream(IID__QuandrelCom, remote, handOver.put());
  std::atomic<bool> stop{false};
  std::vector<double> other, same, idle;
  auto client = [&](bool duringWait) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
      ComPtr<_QuandrelCom> own, waiting;
      ::CoCreateInstance(CLSID_QuandrelCom, nullptr, CLSCTX_LOCAL_SERVER, IID__QuandrelCom,
                         own.put_void());
      if (duringWait)
        ::CoGetInterfaceAndReleaseStream(handOver.detach(), IID__QuandrelCom, waiting.put_void());
      for (int i = 0; duringWait ? !stop.load() : i < 200; ++i) {
        VARIANT_BOOL value = 0;
        double start = Now();
        own->get_g_isDebug(&value);
        (duringWait ? other : idle).push_back((Now() - start) * 1000);
        if (waiting) {
          start = Now();
          waiting->EnableDebugLog(VARIANT_FALSE);
          same.push_back((Now() - start) * 1000);
        }
        ::Sleep(5);
      }
    }
    ::CoUninitialize();
  };
  std::thread(client, false).join();
  std::thread second(client, true);
  size_t chars = 0;
  RunCmd2Seconds(remote, ChildCommand(L"sleep 3000"), &chars);
  stop = true;
  second.join();
  std::printf("second client's call latency, ms (p50 / p99 / max, calls):\n");
  auto row = [](const char* label, const std::vector<double>& ms) {
    std::printf("  %-40s %6.2f / %6.2f / %6.2f  (%zu)\n", label, Percentile(ms, 0.5),
                Percentile(ms, 0.99), ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()),
                ms.size());
  };
  row("server idle, own object:", idle);
  row("during RunCmd2 wait, own object:", other);
  row("during RunCmd2 wait, the waiting object:", same);
}

// Every path of both methods, in proportions that keep the run short: a child started from the
// server needs a console of its own and takes over 100 ms under Wine.
void HandleFigures(_QuandrelCom* remote, DWORD serverPid, int calls) {
  UniqueBstr output(ChildCommand(L"out x"));
  UniqueBstr quiet(ChildCommand(L"exit 0"));
  UniqueBstr missing(std::wstring_view(L"C:\\no such folder\\missing.exe"));
  auto run2 = [&](BSTR line, LONG show) {
    UniqueBstr text;
    remote->RunCmd2(line, show, text.put());
  };
  auto run = [&](BSTR line, LONG show, VARIANT_BOOL wait) {
    VARIANT_BOOL ok = 0;
    remote->RunCmd(line, show, wait, &ok);
  };
  // Per ten calls of each method.
  auto tenEach = [&] {
    for (int i = 0; i < 4; ++i) run2(output.get(), 0);
    for (int i = 0; i < 3; ++i) run2(missing.get(), 0);
    for (int i = 0; i < 3; ++i) run2(output.get(), 65536);
    for (int i = 0; i < 2; ++i) run(quiet.get(), 0, VARIANT_TRUE);
    for (int i = 0; i < 4; ++i) run(quiet.get(), 0, VARIANT_FALSE);
    for (int i = 0; i < 2; ++i) run(missing.get(), 0, VARIANT_TRUE);
    for (int i = 0; i < 2; ++i) run(quiet.get(), 65536, VARIANT_TRUE);
  };
  tenEach();  // settles what the server keeps for good
  ::Sleep(1000);
  size_t before = korvane::test::HandleCountOf(serverPid);
  double start = Now();
  for (int i = 0; i < calls / 10; ++i) tenEach();
  double seconds = Now() - start;
  ::Sleep(1000);  // children started without waiting end on their own
  size_t after = korvane::test::HandleCountOf(serverPid);
  std::printf("server handles (system handle list) around %d RunCmd2 and %d RunCmd calls:\n",
              calls / 10 * 10, calls / 10 * 10);
  std::printf("  RunCmd2: 40 %% with output, 30 %% missing program, 30 %% overflow\n");
  std::printf(
      "  RunCmd:  20 %% waiting, 40 %% not waiting, 20 %% missing program, 20 %% overflow\n");
  std::printf("  before %zu, after %zu, growth %lld  (%.1f s)\n", before, after,
              static_cast<long long>(after) - static_cast<long long>(before), seconds);
}

// `clients` stress clients, each holding one RunCmd2 call open on a child silent for `seconds`,
// all released at once: when their calls returned, beside the bound of serving them in rounds
// of the nesting limit.
int CrowdFigures(int clients, int seconds) {
  constexpr int kLimit = korvane::server::methods::kMaxNestedWaits;
  korvane::test::ServerInstall server(L"crowd");
  server.Register();
  const std::wstring work = server.folder() + L"\\work";
  ComPtr<_QuandrelCom> keeper;  // keeps one server running throughout
  HRESULT hr = server.registered() && ::CreateDirectoryW(work.c_str(), nullptr)
                   ? ::CoCreateInstance(CLSID_QuandrelCom, nullptr, CLSCTX_LOCAL_SERVER,
                                        IID__QuandrelCom, keeper.put_void())
                   : E_FAIL;
  if (FAILED(hr)) {
    std::printf("cannot reach a registered server (0x%08lX)\n", static_cast<unsigned long>(hr));
    return 1;
  }
  const std::wstring start = L"KorvaneCrowdBench-" + std::to_wstring(::GetCurrentProcessId());
  UniqueHandle startEvent(::CreateEventW(nullptr, TRUE, FALSE, start.c_str()));
  std::vector<UniqueHandle> processes;
  std::printf("starting %d clients...\n", clients);
  std::fflush(stdout);
  for (int i = 0; i < clients; ++i) {
    std::wstring commandLine = L"\"" + WindowsPathOf(KORVANE_STRESS_CLIENT) + L"\" \"" +
                               WindowsPathOf(KORVANE_RUNNER_CHILD) + L"\" \"" + work + L"\" " +
                               std::to_wstring(i) + L" 1 " + start + L" sleep " +
                               std::to_wstring(seconds * 1000);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
      std::printf("cannot start client %d, error %lu\n", i, ::GetLastError());
      ::SetEvent(startEvent.get());
      return 1;
    }
    ::CloseHandle(info.hThread);
    processes.emplace_back(info.hProcess);
  }
  for (int i = 0; i < clients; ++i) {  // each client holds its object before the calls begin
    const std::wstring ready = work + L"\\ready-" + std::to_wstring(i);
    while (::GetFileAttributesW(ready.c_str()) == INVALID_FILE_ATTRIBUTES &&
           ::WaitForSingleObject(processes[i].get(), 100) == WAIT_TIMEOUT) {
    }
  }
  const size_t firstRound = static_cast<size_t>(std::min(clients, kLimit));
  const double begin = Now();
  ::SetEvent(startEvent.get());
  double roundStart = -1;
  std::set<DWORD> childrenSeen;
  // Seconds from the start, in the order seen: RunCmd2 calls returned (the client's file), and
  // clients ended (after releasing their object, a call that may queue behind others).
  std::vector<double> returned, exited;
  std::vector<bool> seenReturn(processes.size(), false), seenExit(processes.size(), false);
  unsigned long wrong = 0;
  while (exited.size() < processes.size()) {
    if (roundStart < 0) {  // children of the first round may end before the last one starts
      for (DWORD id : ProcessIdsOf(L"runner_child.exe")) childrenSeen.insert(id);
      if (childrenSeen.size() >= firstRound) roundStart = Now() - begin;
    }
    for (size_t i = 0; i < processes.size(); ++i) {
      const bool ended = ::WaitForSingleObject(processes[i].get(), 0) == WAIT_OBJECT_0;
      const std::wstring file = work + L"\\returned-" + std::to_wstring(i);
      if (!seenReturn[i] &&
          (ended || ::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES)) {
        seenReturn[i] = true;
        returned.push_back(Now() - begin);
      }
      if (seenExit[i] || !ended) continue;
      seenExit[i] = true;
      exited.push_back(Now() - begin);
      DWORD code = 0;
      ::GetExitCodeProcess(processes[i].get(), &code);
      wrong += code;
    }
    ::Sleep(100);
  }
  const int rounds = (clients + kLimit - 1) / kLimit;
  if (roundStart < 0) {  // some children ended between two looks: the bound is too low
    std::printf("  note: only %zu children seen; the bound below leaves their start out\n",
                childrenSeen.size());
    roundStart = 0;
  }
  std::printf("crowd of %d clients, children silent %d s (nesting limit %d):\n", clients, seconds,
              kLimit);
  std::printf("  the first round's %zu children started within %.1f s\n", firstRound, roundStart);
  for (int round = 1; round <= rounds; ++round) {
    const size_t index = std::min(static_cast<size_t>(round) * kLimit, returned.size()) - 1;
    std::printf("  RunCmd2 return %4zu (end of round %d) after %7.1f s\n", index + 1, round,
                returned[index]);
  }
  std::printf("  last return after %.1f s; rounds' bound %d x (%d s + %.1f s) = %.1f s\n",
              returned.back(), rounds, seconds, roundStart, rounds * (seconds + roundStart));
  std::printf("  last client ended (object released) after %.1f s\n", exited.back());
  std::printf("  wrong results reported by the clients: %lu\n", wrong);
  size_t chars = 0;
  const double after = RunCmd2Seconds(keeper.get(), ChildCommand(L"out after"), &chars);
  std::printf("  a call afterwards: %zu chars in %.3f s\n", chars, after);
  return wrong == 0 && chars > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "crowd") {
    korvane::win::ScopedComInit com(COINIT_APARTMENTTHREADED);
    return CrowdFigures(std::atoi(argv[2]), std::atoi(argv[3]));
  }
  int calls = argc > 1 ? std::atoi(argv[1]) : 1000;
  bool captureOnly = argc > 2 && std::string(argv[2]) == "capture";
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int status = 0;
  {
    korvane::test::ServerInstall server(L"runners");
    server.Register();
    ComPtr<_QuandrelCom> remote;
    HRESULT hr = server.registered()
                     ? ::CoCreateInstance(CLSID_QuandrelCom, nullptr, CLSCTX_LOCAL_SERVER,
                                          IID__QuandrelCom, remote.put_void())
                     : E_FAIL;
    std::vector<DWORD> ids = ProcessIdsOf(server.exe());
    DWORD serverPid = ids.empty() ? 0 : ids.front();
    if (FAILED(hr) || serverPid == 0) {
      std::printf("cannot reach a registered server (0x%08lX)\n", static_cast<unsigned long>(hr));
      status = 1;
    } else {
      CaptureFigures(remote.get());
      if (!captureOnly) {
        IdleWaitFigures(remote.get(), server, serverPid);
        LatencyFigures(remote.get());
        HandleFigures(remote.get(), serverPid, calls);
      }
    }
  }
  ::CoUninitialize();
  return status;
}
