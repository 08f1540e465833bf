#include "host/server_loop.h"

#include <objbase.h>

#include "com/class_factory.h"
#include "host/lifetime_policy.h"
#include "quandrelcom.h"
#include "com/server_lifetime.h"
#include "win/result.h"
#include "win/scope_exit.h"
#include "win/scoped_com_init.h"

namespace korvane::server {

namespace {

// Wakes the loop when the count of objects and locks reaches zero or leaves it.
constexpr UINT kLifetimeChanged = WM_APP + 0x51;

// Outlives the apartment: stubs that clients still hold may release it while COM shuts down.
ClassFactory g_factory;

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

}  // namespace

HRESULT RunServer(const ServerTimings& timings) {
  win::ScopedComInit apartment(COINIT_APARTMENTTHREADED);
  if (!apartment.ok()) return apartment.status();

  // A message queue must exist before anyone posts the wake-up to this thread.
  MSG msg;
  ::PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  AttachServerLoop(::GetCurrentThreadId(), kLifetimeChanged);
  auto detach = win::MakeScopeExit([] { DetachServerLoop(); });

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
    facts.references = ServerReferences();
    facts.lastRelease = LastReleaseTick();
    facts.now = ::GetTickCount64();
    const PassDecision decision = policy.Pass(facts);
    if (decision.stop) {
      // From here a create through a class factory a client already holds is refused.
      BeginStopping();
      return S_OK;
    }
    const Pumped pumped = PumpOnce(decision.waitMs);
    facts.sawMessages = pumped.messages;
    facts.quitRequested = pumped.quit;
  }
}

}  // namespace korvane::server
