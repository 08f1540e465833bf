// Figures for RunCmd2's capture against its floors, printed, not judged. For outputs of 100
// bytes and 1, 4, 16 and 64 MiB of the test child:
//   in this (console) process: a bare drain of the child with 64 KiB reads and with
//     10,000-byte reads, the ANSI to UTF-16 conversion of the bytes, and RunCmd2 in-process;
//   console-less: bench_spawn_drain.exe, a GUI-subsystem program that spawns and drains the
//     child the way RunCmd2 does;
//   across processes: the bare transfer of a text of as many characters from a minimal local
//     server of the benchmark's own (bench_text_server.exe), and RunCmd2 through COM.
// Then a g_isDebug read through the vtable and through IDispatch against the minimal server's
// calls of the same shape, and the server's peak private bytes during a 64 MiB capture.
// First, the cold start: from no server process to the first answer of a new object, against the
// minimal server's.
//   bench_capture.exe [quick] [--server <QuandrelCom.exe>]
//     quick: fewer runs, for trying the benchmark out; --server: a copy of that executable (another
//     build's, such as the 32-bit one in a WoW64 prefix) is what serves the calls through COM

#include <windows.h>

#include <objbase.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "bench/capture/text_server.h"
#include "common/win/com_ptr.h"
#include "common/win/scoped_com_init.h"
#include "common/win/unique_bstr.h"
#include "common/win/unique_handle.h"
#include "server/com/quandrel_com.h"
#include "server/com/quandrelcom.h"
#include "server/methods/output_capture.h"
#include "testing/support/server_install.h"

namespace {

using namespace korvane::bench;
using korvane::win::ComPtr;
using korvane::win::UniqueBstr;
using korvane::win::UniqueHandle;

constexpr DWORD kLargeRead = 64 * 1024;  // what RunCmd2 reads with (OutputCapture::kReadSize)
constexpr DWORD kSmallRead = 10000;      // the read size RunCmd2 used before
static_assert(kLargeRead == korvane::server::methods::OutputCapture::kReadSize,
              "the bare drain reads as RunCmd2 does");

// ---------------------------------------------------------------------------------------------
// Small helpers

std::wstring ChildCommand(unsigned long long bytes) {
  return L"\"" + WindowsPathOf(KORVANE_RUNNER_CHILD) + L"\" bytes " + std::to_wstring(bytes);
}

// Samples of one figure.
struct Samples {
  std::vector<double> values;
  void Add(double v) { values.push_back(v); }
  double Quantile(double fraction) const {
    if (values.empty()) return 0;
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    size_t index = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[index];
  }
  double Median() const { return Quantile(0.5); }
  double Min() const { return Quantile(0); }
  double Max() const { return Quantile(1); }
};

// ---------------------------------------------------------------------------------------------
// The servers

// The minimal server, registered for the run: its type library (which registers its interface
// for the automation marshaller) and its class. Everything is taken back afterwards.
class TextServer {
 public:
  static constexpr wchar_t kClassKey[] =
      L"Software\\Classes\\CLSID\\{B0ACA810-614C-4464-A43E-BD33087FA07B}";

  TextServer() : exe_(WindowsPathOf(KORVANE_TEXT_SERVER)) {
    ComPtr<ITypeLib> library;
    libraryRegistered_ = SUCCEEDED(::LoadTypeLibEx(exe_.c_str(), REGKIND_REGISTER, library.put()));
    std::wstring command = L"\"" + exe_ + L"\"";
    classRegistered_ =
        ::RegSetKeyValueW(
            HKEY_LOCAL_MACHINE, (std::wstring(kClassKey) + L"\\LocalServer32").c_str(), nullptr,
            REG_SZ, command.c_str(),
            static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  TextServer(const TextServer&) = delete;
  TextServer& operator=(const TextServer&) = delete;
  ~TextServer() {
    AwaitServersEnded(exe_);
    if (classRegistered_) ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kClassKey);
    if (libraryRegistered_)
      ::UnRegisterTypeLib(LIBID_KorvaneBenchText, 1, 0, 0,
                          sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  }
  bool ok() const { return libraryRegistered_ && classRegistered_; }

 private:
  std::wstring exe_;
  bool libraryRegistered_ = false;
  bool classRegistered_ = false;
};

// ---------------------------------------------------------------------------------------------
// The measured steps

// The ANSI to UTF-16 conversion as RunCmd2 makes it, step by step: the counting pass, the
// allocation of the BSTR, the converting pass. Returns the whole.
struct Conversion {
  double counting = 0, allocation = 0, whole = 0;
};
Conversion ConversionSeconds(const std::string& bytes) {
  Conversion c;
  double start = Now();
  const int size = static_cast<int>(bytes.size());
  const int chars = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  double counted = Now();
  UniqueBstr text(::SysAllocStringLen(nullptr, static_cast<UINT>(chars)));
  double allocated = Now();
  ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, text.get(), chars);
  double end = Now();
  c.counting = counted - start;
  c.allocation = allocated - counted;
  c.whole = end - start;
  return c;
}

// What any new UTF-16 result of `chars` characters costs before a character is written: fresh
// memory of its size, every page touched once (the page faults).
double FreshPagesSeconds(size_t chars) {
  const size_t bytes = (chars + 1) * sizeof(wchar_t);
  double start = Now();
  auto* memory =
      static_cast<volatile char*>(::VirtualAlloc(nullptr, bytes, MEM_COMMIT, PAGE_READWRITE));
  if (memory == nullptr) return 0;
  for (size_t at = 0; at < bytes; at += 4096) memory[at] = 1;
  double seconds = Now() - start;
  ::VirtualFree(const_cast<char*>(memory), 0, MEM_RELEASE);
  return seconds;
}

// bench_spawn_drain.exe, detached from this program's console, spawning and draining twice:
// its own measurements of the first spawn in its process and of the second.
struct SpawnDrain {
  double first = 0;
  double seconds = 0;  // the second, which is the floor: the server has spawned before
  unsigned long long bytes = 0;
  bool console = false;
};
SpawnDrain ConsolelessSpawnDrain(const std::wstring& childLine, DWORD readSize) {
  SpawnDrain result;
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  UniqueHandle readEnd, writeEnd;
  ::CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0);
  ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = writeEnd.get();
  std::wstring line = L"\"" + WindowsPathOf(KORVANE_SPAWN_DRAIN) + L"\" 2 " +
                      std::to_wstring(readSize) + L" " + childLine;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr,
                        nullptr, &startup, &info))
    return result;
  UniqueHandle process(info.hProcess), thread(info.hThread);
  writeEnd.reset();
  std::string report;
  char buffer[256];
  DWORD read = 0;
  while (::ReadFile(readEnd.get(), buffer, sizeof buffer, &read, nullptr))
    report.append(buffer, read);
  ::WaitForSingleObject(process.get(), INFINITE);
  int console = 0;
  unsigned long long firstBytes = 0;
  if (std::sscanf(report.c_str(), "%lf %llu %d %lf %llu", &result.first, &firstBytes, &console,
                  &result.seconds, &result.bytes) != 5)
    result.seconds = 0;
  result.console = console != 0;
  return result;
}

double TransferSeconds(_BenchText* object, LONG length, size_t* chars) {
  UniqueBstr text;
  double start = Now();
  HRESULT hr = object->Text(length, text.put());
  double seconds = Now() - start;
  *chars = SUCCEEDED(hr) ? text.length() : 0;
  return seconds;
}

// ---------------------------------------------------------------------------------------------
// Capture against its floors

struct Size {
  const char* label;
  unsigned long long bytes;
  int localRuns;   // runs of the steps in this process and of the console-less program
  int remoteRuns;  // runs through COM and of the bare transfer (slow under Wine: ~11 MB/s)
};

struct SizeFigures {
  Size size{};
  Samples drain, smallDrain, allocation, freshPages, counting, conversion, inProcess,
      consolelessFirst, consoleless, transfer, viaCom;
};

std::string Spread(const Samples& s) {
  char text[96];
  std::snprintf(text, sizeof text, "%8.4f  [%7.4f .. %7.4f]  n=%zu", s.Median(), s.Min(), s.Max(),
                s.values.size());
  return text;
}

bool g_sizeMismatch = false;
void CheckSize(const char* what, unsigned long long got, unsigned long long wanted) {
  if (got == wanted) return;
  std::printf("  !! %s delivered %llu, not %llu\n", what, got, wanted);
  g_sizeMismatch = true;
}

SizeFigures MeasureSize(const Size& size, _QuandrelCom* local, _QuandrelCom* remote,
                        _BenchText* text, bool* consoleSeen) {
  SizeFigures f;
  f.size = size;
  const std::wstring line = ChildCommand(size.bytes);
  std::string bytes;
  size_t chars = 0;
  // Interleaved, so the machine's other work spreads over every figure alike.
  for (int run = 0; run < std::max(size.localRuns, size.remoteRuns); ++run) {
    if (run < size.localRuns) {
      f.drain.Add(BareDrainSeconds(line, kLargeRead, &bytes));
      CheckSize("bare drain", bytes.size(), size.bytes);
      Conversion conversion = ConversionSeconds(bytes);
      f.conversion.Add(conversion.whole);
      f.counting.Add(conversion.counting);
      f.allocation.Add(conversion.allocation);
      f.freshPages.Add(FreshPagesSeconds(bytes.size()));
      f.smallDrain.Add(BareDrainSeconds(line, kSmallRead, &bytes));
      CheckSize("bare drain (small reads)", bytes.size(), size.bytes);
      std::string().swap(bytes);
      f.inProcess.Add(RunCmd2Seconds(local, line, &chars));
      CheckSize("RunCmd2 in-process", chars, size.bytes);
      SpawnDrain drained = ConsolelessSpawnDrain(line, kLargeRead);
      f.consoleless.Add(drained.seconds);
      f.consolelessFirst.Add(drained.first);
      CheckSize("console-less spawn and drain", drained.bytes, size.bytes);
      *consoleSeen = *consoleSeen || drained.console;
    }
    if (run < size.remoteRuns) {
      f.transfer.Add(TransferSeconds(text, static_cast<LONG>(size.bytes), &chars));
      CheckSize("bare transfer", chars, size.bytes);
      f.viaCom.Add(RunCmd2Seconds(remote, line, &chars));
      CheckSize("RunCmd2 through COM", chars, size.bytes);
    }
  }
  return f;
}

void PrintSize(const SizeFigures& f) {
  std::printf("\n%s (%llu bytes; seconds: median [min .. max]):\n", f.size.label, f.size.bytes);
  std::printf("  in this console program:\n");
  std::printf("    bare drain, 64 KiB reads          %s\n", Spread(f.drain).c_str());
  std::printf("    bare drain, 10,000-byte reads     %s  (%.2fx the 64 KiB drain)\n",
              Spread(f.smallDrain).c_str(), f.smallDrain.Median() / f.drain.Median());
  std::printf("    ANSI -> UTF-16 BSTR conversion    %s\n", Spread(f.conversion).c_str());
  std::printf("      of which the counting pass      %s\n", Spread(f.counting).c_str());
  std::printf("      of which SysAllocStringLen      %s\n", Spread(f.allocation).c_str());
  std::printf("      (fresh pages of that size       %s  touched once, for comparison)\n",
              Spread(f.freshPages).c_str());
  std::printf(
      "    RunCmd2 in-process                %s  floor/this %.2f (drain only), %.2f "
      "(drain + conversion)\n",
      Spread(f.inProcess).c_str(), f.drain.Median() / f.inProcess.Median(),
      (f.drain.Median() + f.conversion.Median()) / f.inProcess.Median());
  std::printf("  console-less spawn and drain        %s  (first spawn of its process: %.4f)\n",
              Spread(f.consoleless).c_str(), f.consolelessFirst.Median());
  std::printf("  bare transfer, minimal server       %s", Spread(f.transfer).c_str());
  if (f.size.bytes >= (1u << 20))
    std::printf("  %.1f MB/s of UTF-16",
                2.0 * static_cast<double>(f.size.bytes) / f.transfer.Median() / 1e6);
  std::printf("\n");
  const double floor = f.consoleless.Median() + f.transfer.Median();
  std::printf(
      "  RunCmd2 through COM                 %s  floor/this %.2f (spawn-drain + "
      "transfer), %.2f (spawn-drain only)\n",
      Spread(f.viaCom).c_str(), floor / f.viaCom.Median(),
      f.consoleless.Median() / f.viaCom.Median());
  std::printf(
      "    what is left above the floor: %+.4f s; in-process RunCmd2 above its drain: "
      "%+.4f s\n",
      f.viaCom.Median() - floor, f.inProcess.Median() - f.drain.Median());
  // Each run's floor against the RunCmd2 call made right after it: the machine's load changes
  // slowly, so pairs show the ratio's spread better than medians taken apart.
  Samples paired;
  for (size_t i = 0; i < f.viaCom.values.size() && i < f.consoleless.values.size(); ++i)
    paired.Add((f.consoleless.values[i] + f.transfer.values[i]) / f.viaCom.values[i]);
  std::printf(
      "    floor/this run by run (that run's spawn-drain + transfer, over its RunCmd2): "
      "median %.2f, %.2f .. %.2f\n",
      paired.Median(), paired.Min(), paired.Max());
}

// ---------------------------------------------------------------------------------------------
// Call latency: g_isDebug against the minimal server's calls of the same shape

double DispatchCallMs(IDispatch* object, DISPID id, WORD flags) {
  DISPPARAMS none{};
  VARIANT result;
  ::VariantInit(&result);
  double start = Now();
  object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &none, &result, nullptr, nullptr);
  double ms = (Now() - start) * 1000;
  ::VariantClear(&result);
  return ms;
}

void LatencyFigures(_QuandrelCom* remote, _BenchText* text) {
  ComPtr<IDispatch> remoteDispatch, textDispatch;
  remote->QueryInterface(IID_IDispatch, remoteDispatch.put_void());
  text->QueryInterface(IID_IDispatch, textDispatch.put_void());
  constexpr int kRounds = 10;
  constexpr int kCallsPerRound = 50;
  enum {
    kIsDebugVtable,
    kFlagVtable,
    kEmptyVtable,
    kIsDebugDispatch,
    kFlagDispatch,
    kEmptyDispatch,
    kKinds
  };
  Samples all[kKinds];
  Samples roundRatioVtable, roundRatioDispatch;
  for (int round = 0; round < kRounds; ++round) {
    Samples thisRound[kKinds];
    for (int call = 0; call < kCallsPerRound; ++call) {
      VARIANT_BOOL value = 0;
      double start = Now();
      remote->get_g_isDebug(&value);
      thisRound[kIsDebugVtable].Add((Now() - start) * 1000);
      start = Now();
      text->get_Flag(&value);
      thisRound[kFlagVtable].Add((Now() - start) * 1000);
      start = Now();
      text->Empty();
      thisRound[kEmptyVtable].Add((Now() - start) * 1000);
      thisRound[kIsDebugDispatch].Add(
          DispatchCallMs(remoteDispatch.get(), 0x40030000, DISPATCH_PROPERTYGET));
      thisRound[kFlagDispatch].Add(DispatchCallMs(textDispatch.get(), 1, DISPATCH_PROPERTYGET));
      thisRound[kEmptyDispatch].Add(DispatchCallMs(textDispatch.get(), 2, DISPATCH_METHOD));
    }
    for (int k = 0; k < kKinds; ++k)
      for (double v : thisRound[k].values) all[k].Add(v);
    roundRatioVtable.Add(thisRound[kEmptyVtable].Median() / thisRound[kIsDebugVtable].Median());
    roundRatioDispatch.Add(thisRound[kEmptyDispatch].Median() /
                           thisRound[kIsDebugDispatch].Median());
  }
  std::printf("\ncall latency through COM, ms (p10 / median / p90, %d calls each, interleaved):\n",
              kRounds * kCallsPerRound);
  const char* labels[kKinds] = {"g_isDebug read, vtable",       "minimal Flag read, vtable",
                                "minimal empty call, vtable",   "g_isDebug read, IDispatch",
                                "minimal Flag read, IDispatch", "minimal empty call, IDispatch"};
  for (int k = 0; k < kKinds; ++k) {
    const Samples& s = all[k];
    std::printf("  %-31s %6.3f / %6.3f / %6.3f  (spread p90/p10 %.2fx)\n", labels[k],
                s.Quantile(0.1), s.Median(), s.Quantile(0.9), s.Quantile(0.9) / s.Quantile(0.1));
  }
  std::printf(
      "  empty call / g_isDebug, medians: vtable %.2f (rounds %.2f .. %.2f), "
      "IDispatch %.2f (rounds %.2f .. %.2f)\n",
      all[kEmptyVtable].Median() / all[kIsDebugVtable].Median(), roundRatioVtable.Min(),
      roundRatioVtable.Max(), all[kEmptyDispatch].Median() / all[kIsDebugDispatch].Median(),
      roundRatioDispatch.Min(), roundRatioDispatch.Max());
}

// ---------------------------------------------------------------------------------------------
// Memory of the server during a 64 MiB capture

// The peak of `field` in `host`'s status while `work` runs, sampled every few milliseconds
// (the copies that matter live for a second or more).
template <typename Work>
double PeakDuring(const HostProcess& host, const char* field, Work&& work) {
  std::atomic<bool> stop{false};
  double peak = host.StatusBytes(field);
  std::thread sampler([&] {
    while (!stop.load()) {
      peak = std::max(peak, host.StatusBytes(field));
      ::Sleep(3);
    }
  });
  work();
  stop = true;
  sampler.join();
  return std::max(peak, host.StatusBytes(field));
}

struct MemoryGoal {
  bool measured = false;
  double peakOverResult = 0;
};

// Runs first, on a server that has served nothing yet, so its high-water mark is this call's.
MemoryGoal MemoryFigures(_QuandrelCom* remote, _QuandrelCom* local,
                         const korvane::test::ServerInstall& server) {
  MemoryGoal goal;
  constexpr unsigned long long kBytes = 64ull << 20;
  const double utf16 = 2.0 * static_cast<double>(kBytes);
  const double mib = 1 << 20;
  std::vector<DWORD> ids = ProcessIdsOf(server.exe());
  const DWORD pid = ids.empty() ? 0 : ids.front();
  HostProcess host(server.exe());
  UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  auto windowsPrivate = [&](double* peak) {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!process ||
        !::GetProcessMemoryInfo(
            process.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
      return 0.0;
    if (peak) *peak = static_cast<double>(counters.PeakPagefileUsage);
    return static_cast<double>(counters.PrivateUsage);
  };
  const double anonBefore = host.found() ? host.StatusBytes("RssAnon") : 0;
  const double rssBefore = host.found() ? host.StatusBytes("VmRSS") : 0;
  const double privateBefore = windowsPrivate(nullptr);

  // Sampled every few milliseconds while the call runs: the copies live for seconds.
  std::atomic<bool> stop{false};
  double anonPeak = anonBefore, privatePeak = privateBefore;
  std::thread sampler([&] {
    while (!stop.load()) {
      if (host.found()) anonPeak = std::max(anonPeak, host.StatusBytes("RssAnon"));
      privatePeak = std::max(privatePeak, windowsPrivate(nullptr));
      ::Sleep(3);
    }
  });
  size_t chars = 0;
  double seconds = RunCmd2Seconds(remote, ChildCommand(kBytes), &chars);
  stop = true;
  sampler.join();
  double windowsPeak = 0;
  windowsPrivate(&windowsPeak);
  const double hwm = host.found() ? host.StatusBytes("VmHWM") : 0;

  std::printf(
      "\nserver memory during a 64 MiB RunCmd2 through COM (%.1f s, %zu chars; UTF-16 "
      "result %.0f MiB):\n",
      seconds, chars, utf16 / mib);
  if (host.found()) {
    std::printf("  host /proc/%ls/status (Linux pid of the Wine process, by its command line):\n",
                host.pid().c_str());
    std::printf(
        "    RssAnon (private resident), sampled every ~3 ms: before %.1f MiB, peak %.1f "
        "MiB = %.2fx the result (growth %.1f MiB = %.2fx)\n",
        anonBefore / mib, anonPeak / mib, anonPeak / utf16, (anonPeak - anonBefore) / mib,
        (anonPeak - anonBefore) / utf16);
    std::printf(
        "    VmHWM (peak resident, shared pages too): %.1f MiB = %.2fx; above the resident "
        "size before the call (%.1f MiB): %.1f MiB = %.2fx\n",
        hwm / mib, hwm / utf16, rssBefore / mib, (hwm - rssBefore) / mib,
        (hwm - rssBefore) / utf16);
    goal.measured = true;
    goal.peakOverResult = anonPeak / utf16;
  } else {
    std::printf("  host /proc entry of the server: not found\n");
  }
  std::printf(
      "  Windows side, PROCESS_MEMORY_COUNTERS_EX of the server: PrivateUsage before "
      "%.1f MiB, sampled peak %.1f MiB, PeakPagefileUsage %.1f MiB%s\n",
      privateBefore / mib, privatePeak / mib, windowsPeak / mib,
      privatePeak == 0 ? "  (Wine reads 0 for another process)" : "");
  if (!goal.measured && privatePeak > 0) {
    goal.measured = true;
    goal.peakOverResult = std::max(privatePeak, windowsPeak) / utf16;
  }

  // Where it goes: the same call in this process has no marshalling, so its growth is the
  // capture and the conversion alone.
  HostProcess self = HostProcess::Self();
  if (!self.found()) {
    std::printf("  host /proc entry of this process: not found\n");
    return goal;
  }
  const double selfBefore = self.StatusBytes("RssAnon");
  const double selfPeak =
      PeakDuring(self, "RssAnon", [&] { RunCmd2Seconds(local, ChildCommand(kBytes), &chars); });
  std::printf(
      "  the same RunCmd2 in-process (no marshalling), this process's RssAnon growth: "
      "%.1f MiB = %.2fx the result (host /proc/%ls: %.1f MiB before, peak %.1f MiB)\n",
      (selfPeak - selfBefore) / mib, (selfPeak - selfBefore) / utf16, self.pid().c_str(),
      selfBefore / mib, selfPeak / mib);
  return goal;
}

// ---------------------------------------------------------------------------------------------

// From no server process to the first answer of a new object (activation, the server's start,
// one property read), against the same for the minimal server. Returns the ratio of medians.
double ColdStartFigures(const std::wstring& textServerExe, int runs) {
  Samples real, minimal;
  for (int run = 0; run < runs; ++run) {
    korvane::test::EndAllServerProcesses();
    double start = Now();
    {
      ComPtr<_QuandrelCom> object;
      VARIANT_BOOL value = 0;
      if (FAILED(::CoCreateInstance(CLSID_QuandrelCom, nullptr, CLSCTX_LOCAL_SERVER,
                                    IID__QuandrelCom, object.put_void())) ||
          FAILED(object->get_g_isDebug(&value)))
        return 0;
      real.Add((Now() - start) * 1000);
    }
    AwaitServersEnded(textServerExe);
    start = Now();
    {
      ComPtr<_BenchText> object;
      VARIANT_BOOL value = 0;
      if (FAILED(::CoCreateInstance(CLSID_BenchText, nullptr, CLSCTX_LOCAL_SERVER, IID__BenchText,
                                    object.put_void())) ||
          FAILED(object->get_Flag(&value)))
        return 0;
      minimal.Add((Now() - start) * 1000);
    }
  }
  korvane::test::EndAllServerProcesses();
  AwaitServersEnded(textServerExe);
  std::printf(
      "cold start, no server process to the first answer (ms, %d runs): QuandrelCom %s, "
      "minimal server %s\n",
      runs, Spread(real).c_str(), Spread(minimal).c_str());
  return minimal.Median() / real.Median();
}

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  std::wstring serverExe = korvane::test::BuiltServerExe();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "quick") {
      quick = true;
    } else if (arg == "--server" && i + 1 < argc) {
      const std::string path = argv[++i];
      serverExe = path.front() == '/' ? WindowsPathOf(path) : korvane::win::FromAnsi(path);
    } else {
      std::printf("usage: bench_capture [quick] [--server <QuandrelCom.exe>]\n");
      return 2;
    }
  }
  korvane::win::ScopedComInit com(COINIT_APARTMENTTHREADED);
  int status = 0;
  {
    korvane::test::ServerInstall server(L"capture", serverExe);
    server.Register();
    TextServer textServer;
    ComPtr<_QuandrelCom> remote, local;
    ComPtr<_BenchText> text;
    HRESULT hr = server.registered() && textServer.ok() ? S_OK : E_FAIL;
    double coldStartRatio = 0;
    if (SUCCEEDED(hr)) {
      std::printf("the server through COM: %s\n", korvane::test::Narrow(serverExe).c_str());
      coldStartRatio = ColdStartFigures(WindowsPathOf(KORVANE_TEXT_SERVER), quick ? 3 : 10);
    }
    if (SUCCEEDED(hr))
      hr = ::CoCreateInstance(CLSID_QuandrelCom, nullptr, CLSCTX_LOCAL_SERVER, IID__QuandrelCom,
                              remote.put_void());
    if (SUCCEEDED(hr))
      hr = ::CoCreateInstance(CLSID_BenchText, nullptr, CLSCTX_LOCAL_SERVER, IID__BenchText,
                              text.put_void());
    if (SUCCEEDED(hr))
      hr = korvane::server::com::QuandrelCom::Create(IID__QuandrelCom, local.put_void());
    if (FAILED(hr)) {
      std::printf(
          "cannot reach the registered servers (0x%08lX; registered: real %d, minimal "
          "%d)\n",
          static_cast<unsigned long>(hr), server.registered(), textServer.ok());
      status = 1;
    } else {
      std::printf(
          "RunCmd2 capture against its floors (the x86_64 build's benchmark under Wine; machine "
          "shared, figures noisy)\n");
      MemoryGoal memory = MemoryFigures(remote.get(), local.get(), server);

      const Size sizes[] = {
          {"100-byte output", 100, quick ? 3 : 30, quick ? 3 : 30},
          {"1 MiB", 1ull << 20, quick ? 2 : 7, quick ? 2 : 7},
          {"4 MiB", 4ull << 20, quick ? 2 : 5, quick ? 1 : 5},
          {"16 MiB", 16ull << 20, quick ? 2 : 5, quick ? 1 : 5},
          {"64 MiB", 64ull << 20, quick ? 2 : 5, quick ? 1 : 5},
      };
      std::vector<SizeFigures> figures;
      bool consoleSeen = false;
      for (const Size& size : sizes) {
        figures.push_back(MeasureSize(size, local.get(), remote.get(), text.get(), &consoleSeen));
        PrintSize(figures.back());
      }
      if (consoleSeen) std::printf("  !! the console-less program reported a console\n");
      LatencyFigures(remote.get(), text.get());

      const SizeFigures& tiny = figures[0];
      const SizeFigures& mib16 = figures[3];
      const SizeFigures& mib64 = figures[4];
      auto comRatio = [](const SizeFigures& f) {
        return (f.consoleless.Median() + f.transfer.Median()) / f.viaCom.Median();
      };
      const double inProcessRatio = mib64.drain.Median() / mib64.inProcess.Median();
      const double tinyRatio = tiny.consoleless.Median() / tiny.viaCom.Median();
      std::printf("\ngoals (ratios of medians, floor / measured, this run):\n");
      std::printf("  in-process RunCmd2 64 MiB vs bare drain (64 KiB reads) >= 0.9:   %.2f  %s\n",
                  inProcessRatio, Verdict(inProcessRatio >= 0.9));
      std::printf("  through COM 16 MiB vs console-less drain + transfer >= 0.9:      %.2f  %s\n",
                  comRatio(mib16), Verdict(comRatio(mib16) >= 0.9));
      std::printf("  through COM 64 MiB vs console-less drain + transfer >= 0.9:      %.2f  %s\n",
                  comRatio(mib64), Verdict(comRatio(mib64) >= 0.9));
      std::printf("  through COM 100 bytes vs console-less spawn and drain >= 0.8:    %.2f  %s\n",
                  tinyRatio, Verdict(tinyRatio >= 0.8));
      std::printf("  cold start vs the minimal server's (not a goal):                %.2f\n",
                  coldStartRatio);
      if (memory.measured)
        std::printf("  server peak private bytes, 64 MiB capture <= 3x UTF-16 result: %.2fx  %s\n",
                    memory.peakOverResult, Verdict(memory.peakOverResult <= 3.0));
      else
        std::printf("  server peak private bytes: not measured\n");
      std::printf(
          "  read size: a bare drain of 64 MiB with 10,000-byte reads takes %.2fx the "
          "time of 64 KiB reads\n",
          mib64.smallDrain.Median() / mib64.drain.Median());
      if (g_sizeMismatch) {
        std::printf("  !! some step delivered the wrong size: figures are not comparable\n");
        status = 1;
      }
    }
  }
  return status;
}
