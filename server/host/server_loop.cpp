#include "server_loop.h"

#include <objbase.h>

#include <algorithm>

#include "class_factory.h"
#include "quandrelcom.h"
#include "server_lifetime.h"
#include "win/com_ptr.h"
#include "win/scope_exit.h"
#include "win/scoped_com_init.h"

namespace korvane::server {

namespace {

// Wakes the loop when the count of objects and locks reaches zero or leaves it.
constexpr UINT kLifetimeChanged = WM_APP + 0x51;

// Outlives the apartment: stubs that clients still hold may release it while COM shuts down.
ClassFactory g_factory;

// The class object's registration with COM, revoked on destruction.
class ClassRegistration {
 public:
  ClassRegistration() = default;
  ClassRegistration(const ClassRegistration&) = delete;
  ClassRegistration& operator=(const ClassRegistration&) = delete;
  ~ClassRegistration() { Revoke(); }

  HRESULT Register() {
    if (cookie_ != 0) return S_OK;
    // Suspended until resumed: the usual order for a server that registers its class objects.
    HRESULT hr = ::CoRegisterClassObject(CLSID_QuandrelCom, &g_factory, CLSCTX_LOCAL_SERVER,
                                         REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED, &cookie_);
    if (FAILED(hr)) {
      cookie_ = 0;
      return hr;
    }
    hr = ::CoResumeClassObjects();
    if (FAILED(hr)) Revoke();
    return hr;
  }

  void Revoke() {
    if (cookie_ == 0) return;
    ::CoRevokeClassObject(cookie_);
    cookie_ = 0;
  }

  bool registered() const { return cookie_ != 0; }

 private:
  DWORD cookie_ = 0;
};

// Waits at most `timeoutMs` for a message, then dispatches every pending one. False once WM_QUIT
// arrives. Returns in `gotMessage` whether anything was waiting.
bool PumpOnce(DWORD timeoutMs, bool* gotMessage) {
  DWORD wait =
      ::MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  *gotMessage = false;
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    *gotMessage = true;
    if (msg.message == WM_QUIT) return false;
    if (msg.hwnd == nullptr && msg.message == kLifetimeChanged) continue;  // only a wake-up
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (wait == WAIT_FAILED) ::Sleep(10);  // never spin
  return true;
}

ULONGLONG Now() { return ::GetTickCount64(); }

}  // namespace

HRESULT RunServer(const ServerTimings& timings) {
  win::ScopedComInit apartment(COINIT_APARTMENTTHREADED);
  if (!apartment.ok()) return apartment.status();

  // A message queue must exist before anyone posts the wake-up to this thread.
  MSG msg;
  ::PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  AttachServerLoop(::GetCurrentThreadId(), kLifetimeChanged);
  auto detach = win::MakeScopeExit([] { DetachServerLoop(); });

  // Keeps the class object's stub alive while the server runs, also between a revocation and the
  // end. A client that fetched the class object's reference just before the revocation can then
  // still reach it, and its object keeps the server running, instead of failing.
  const HRESULT stubLocked = ::CoLockObjectExternal(&g_factory, TRUE, FALSE);
  auto unlockStub = win::MakeScopeExit([stubLocked] {
    if (SUCCEEDED(stubLocked)) ::CoLockObjectExternal(&g_factory, FALSE, TRUE);
  });
  ClassRegistration registration;
  HRESULT hr = registration.Register();
  if (FAILED(hr)) return hr;

  bool wasIdle = true;
  ULONGLONG idleSince = Now();  // a server nobody asked for lingers as after a last release
  bool gotMessage = false;
  for (;;) {
    const bool idle = ServerReferences() == 0;
    // Also an object created and released between two looks counts as activity.
    if (idle) idleSince = std::max(wasIdle ? idleSince : Now(), LastReleaseTick());
    if (!idle && wasIdle) {
      // Busy again: make sure activations are served (COM may suspend them at a count of zero).
      if (registration.registered())
        ::CoResumeClassObjects();
      else
        registration.Register();
    }
    wasIdle = idle;

    DWORD timeout = INFINITE;
    if (idle) {
      ULONGLONG waited = Now() - idleSince;
      if (waited < timings.idleLingerMs) {
        timeout = static_cast<DWORD>(timings.idleLingerMs - waited);
      } else {
        // No new client finds us from now on; serve those already on their way.
        ::CoSuspendClassObjects();
        registration.Revoke();
        const ULONGLONG revokedAt = Now();
        do {
          if (!PumpOnce(timings.quietMs, &gotMessage)) return S_OK;
        } while (gotMessage && ServerReferences() == 0 &&
                 Now() - revokedAt < 10ull * timings.idleLingerMs);
        if (ServerReferences() == 0) return S_OK;
        registration.Register();  // a client came after all: keep serving
        wasIdle = false;
        continue;
      }
    }
    if (!PumpOnce(timeout, &gotMessage)) return S_OK;
  }
}

}  // namespace korvane::server
