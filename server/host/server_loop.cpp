#include "server/host/server_loop.h"

#include <objbase.h>
#include <process.h>

#include "common/win/com_ptr.h"
#include "common/win/result.h"
#include "common/win/scope_exit.h"
#include "common/win/scoped_com_init.h"
#include "common/win/unique_handle.h"
#include "server/com/class_factory.h"
#include "server/com/quandrelcom.h"
#include "server/com/server_lifetime.h"
#include "server/com/type_info.h"
#include "server/host/lifetime_policy.h"
#include "server/methods/message_pump.h"

namespace korvane::server::host {

namespace {

// Wakes the loop when the count of objects and locks reaches zero or leaves it.
constexpr UINT kLifetimeChanged = WM_APP + 0x51;

// Outlives the apartment: stubs that clients still hold may release it while COM shuts down.
com::ClassFactory g_factory;

// The class object's registration with COM.
class ComClassObjectHost final : public ClassObjectHost {
 public:
  ComClassObjectHost() = default;
  ComClassObjectHost(const ComClassObjectHost&) = delete;
  ComClassObjectHost& operator=(const ComClassObjectHost&) = delete;
  ~ComClassObjectHost() override { Revoke(); }

  HRESULT Accept() override {
    if (cookie_ == 0) {
      // Suspended until resumed: the usual order for a server that registers its class objects.
      HRESULT hr = ::CoRegisterClassObject(CLSID_QuandrelCom, &g_factory, CLSCTX_LOCAL_SERVER,
                                           REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED, &cookie_);
      if (FAILED(hr)) {
        cookie_ = 0;
        return hr;
      }
    }
    // Also when registered: activations may have been suspended meanwhile.
    HRESULT hr = ::CoResumeClassObjects();
    if (FAILED(hr)) Revoke();
    return hr;
  }

  void Revoke() override {
    if (cookie_ == 0) return;
    ::CoSuspendClassObjects();
    ::CoRevokeClassObject(cookie_);
    cookie_ = 0;
  }

 private:
  DWORD cookie_ = 0;
};

// Waits at most `timeoutMs` for a message, then dispatches every pending one. Says whether
// anything was waiting and whether WM_QUIT arrived.
struct Pumped {
  bool messages = false;
  bool quit = false;
};
Pumped PumpOnce(DWORD timeoutMs) {
  Pumped pumped;
  DWORD wait =
      ::MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    pumped.messages = true;
    if (msg.message == WM_QUIT) {
      pumped.quit = true;
      break;
    }
    if (msg.hwnd == nullptr && msg.message == kLifetimeChanged) continue;  // only a wake-up
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (wait == WAIT_FAILED) ::Sleep(10);  // never spin
  return pumped;
}

// The serving thread's stack: methods::kMaxNestedWaits calls waiting one inside another
// (methods/message_pump.h). A level takes about 5.5 KiB under Wine, 0.7 MiB for all of them;
// Windows' own frames are not measured here, so each level is given 48 KiB (6 MiB), and 2 MiB
// more hold the start below the first level and, above the deepest serving one, a call into the
// engine with the 1 MiB any Windows thread has. Only what is used is committed.
// Only this thread gets it. The program's default (its header, server/CMakeLists.txt) stays
// small because every thread the run time starts takes that default: a crowd of clients brings
// a receiving thread each, and at 8 MiB apiece they would use up a 32-bit address space.
constexpr unsigned kServingStackBytes = methods::kMaxNestedWaits * 48 * 1024 + 2 * 1024 * 1024;

// The creating thread's view of the serving thread.
struct ServingThread {
  const ServerTimings& timings;
  win::UniqueHandle queueReady;  // set once the thread can be posted to
  HRESULT result = E_UNEXPECTED;
};

}  // namespace

HRESULT LetFaultsEndTheProcess(IGlobalOptions* options) {
  return options->Set(COMGLB_EXCEPTION_HANDLING, COMGLB_EXCEPTION_DONOT_HANDLE_ANY);
}

HRESULT LetFaultsEndTheProcess() {
  win::ComPtr<IGlobalOptions> options;
  KORVANE_RETURN_IF_FAILED(::CoCreateInstance(CLSID_GlobalOptions, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_IGlobalOptions, options.put_void()));
  return LetFaultsEndTheProcess(options.get());
}

namespace {

HRESULT Serve(const ServerTimings& timings, HANDLE queueReady) {
  // A message queue must exist before anyone posts to this thread: the wake-up, WM_QUIT.
  MSG msg;
  ::PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  ::SetEvent(queueReady);

  win::ScopedComInit apartment(COINIT_APARTMENTTHREADED);
  if (!apartment.ok()) return apartment.status();
  // Runs after everything below has ended and before the apartment closes.
  auto releaseTypeInfo = win::MakeScopeExit([] { com::ReleaseQuandrelComTypeInfo(); });
  com::AttachServerLoop(::GetCurrentThreadId(), kLifetimeChanged);
  auto detach = win::MakeScopeExit([] { com::DetachServerLoop(); });

  // Before anything is marshalled. A platform without the option serves as before: the frame
  // already lets no C++ exception out, so only a fault the server cannot vouch for is concerned
  // (docs/architecture.md).
  static_cast<void>(LetFaultsEndTheProcess());

  // Keeps the class object's stub alive while the server runs, also between a revocation and
  // the end. A client that fetched the class object's reference just before the revocation can
  // then still reach it, and its object keeps the server running, instead of failing.
  const HRESULT stubLocked = ::CoLockObjectExternal(&g_factory, TRUE, FALSE);
  auto unlockStub = win::MakeScopeExit([stubLocked] {
    if (SUCCEEDED(stubLocked)) ::CoLockObjectExternal(&g_factory, FALSE, TRUE);
  });

  ComClassObjectHost host;
  // The first registration failing is the server failing to start.
  KORVANE_RETURN_IF_FAILED(host.Accept());

  LifetimePolicy policy(host, timings, ::GetTickCount64(), /*accepting=*/true);
  PassFacts facts;
  for (;;) {
    facts.references = com::ServerReferences();
    facts.lastRelease = com::LastReleaseTick();
    facts.now = ::GetTickCount64();
    const PassDecision decision = policy.Pass(facts);
    if (decision.stop) {
      // From here a create through a class factory a client already holds is refused.
      com::BeginStopping();
      return S_OK;
    }
    const Pumped pumped = PumpOnce(decision.waitMs);
    facts.sawMessages = pumped.messages;
    facts.quitRequested = pumped.quit;
  }
}

unsigned __stdcall ServingThreadMain(void* param) {
  auto* thread = static_cast<ServingThread*>(param);
  thread->result = Serve(thread->timings, thread->queueReady.get());
  return 0;
}

}  // namespace

HRESULT RunServer(const ServerTimings& timings) {
  // Whoever asks the server to quit posts WM_QUIT to the process's first thread, this one; it
  // waits here in its queue until the serving thread can take it.
  MSG msg;
  ::PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

  ServingThread serving{timings, win::UniqueHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr))};
  if (!serving.queueReady) return win::LastErrorAsHresult();
  unsigned threadId = 0;
  win::UniqueHandle thread(reinterpret_cast<HANDLE>(
      ::_beginthreadex(nullptr, kServingStackBytes, &ServingThreadMain, &serving,
                       STACK_SIZE_PARAM_IS_A_RESERVATION, &threadId)));
  if (!thread) return E_OUTOFMEMORY;

  const HANDLE started[] = {serving.queueReady.get(), thread.get()};
  ::WaitForMultipleObjects(2, started, FALSE, INFINITE);
  for (;;) {
    const HANDLE serverThread = thread.get();
    // MWMO_INPUTAVAILABLE: also wake for a WM_QUIT that arrived before the serving thread could
    // take it.
    const DWORD woke =
        ::MsgWaitForMultipleObjectsEx(1, &serverThread, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0) break;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      if (msg.message == WM_QUIT) ::PostThreadMessageW(threadId, WM_QUIT, msg.wParam, msg.lParam);
    if (woke == WAIT_FAILED) ::Sleep(10);  // never spin
  }
  return serving.result;
}

}  // namespace korvane::server::host
