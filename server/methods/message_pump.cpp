#include "server/methods/message_pump.h"

#include <optional>

#include "common/win/result.h"

namespace korvane::server::methods {

namespace {

// Waits open on this thread now, and whether it drains (DrainsAtDepth).
thread_local int t_openWaits = 0;
thread_local bool t_draining = false;

// Counts one wait for its duration.
class OpenWait {
 public:
  OpenWait() : depth_(++t_openWaits) { t_draining = DrainsAtDepth(depth_, t_draining); }
  OpenWait(const OpenWait&) = delete;
  OpenWait& operator=(const OpenWait&) = delete;
  ~OpenWait() { t_draining = DrainsAtDepth(--t_openWaits, t_draining); }
  // Asked at every wake-up: the calls served inside the wait may have started or ended a drain.
  bool servesCalls() const { return ServesCallsAtDepth(depth_, t_draining); }

 private:
  int depth_;
};

// Dispatches the first queued message other than WM_QUIT, if any. WM_QUIT is kept aside rather
// than posted again here, which would make the wait wake at once, again and again.
void DispatchOne(std::optional<WPARAM>& quit) {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      quit = msg.wParam;
      continue;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
    return;
  }
}

// One wait and what it woke for; messages only when `serveCalls`. A signalled handle comes
// before the queue: the wait reports the lowest index that is ready, and the queue's is last.
// Returns false when the wait itself failed.
bool WaitOnce(std::vector<HANDLE>& pending, DWORD timeoutMs, bool serveCalls,
              std::optional<WPARAM>& quit) {
  const DWORD count = static_cast<DWORD>(pending.size());
  DWORD woke;
  if (serveCalls) {
    // MWMO_INPUTAVAILABLE: also wake for messages that arrived before the wait began.
    woke = ::MsgWaitForMultipleObjectsEx(count, pending.empty() ? nullptr : pending.data(),
                                         timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  } else if (count == 0) {
    ::Sleep(timeoutMs);  // nothing to wake for but the time
    woke = WAIT_TIMEOUT;
  } else {
    woke = ::WaitForMultipleObjects(count, pending.data(), FALSE, timeoutMs);
  }
  if (woke < WAIT_OBJECT_0 + count) {
    pending.erase(pending.begin() + (woke - WAIT_OBJECT_0));
  } else if (woke == WAIT_OBJECT_0 + count) {
    DispatchOne(quit);
  } else if (woke >= WAIT_ABANDONED_0 && woke < WAIT_ABANDONED_0 + count) {
    // An abandoned mutex is signalled as well: nothing more will happen to it.
    pending.erase(pending.begin() + (woke - WAIT_ABANDONED_0));
  } else if (woke != WAIT_TIMEOUT) {
    return false;
  }
  return true;
}

}  // namespace

HRESULT PumpFor(std::vector<HANDLE>& pending, DWORD timeoutMs, std::optional<WPARAM>& quit) {
  const OpenWait depth;
  return WaitOnce(pending, timeoutMs, depth.servesCalls(), quit) ? S_OK : win::LastErrorAsHresult();
}

HRESULT WaitForAllPumping(std::vector<HANDLE>& pending) {
  const OpenWait depth;
  std::optional<WPARAM> quit;
  HRESULT hr = S_OK;
  while (!pending.empty()) {
    if (!WaitOnce(pending, INFINITE, depth.servesCalls(), quit)) {
      hr = win::LastErrorAsHresult();
      break;
    }
  }
  if (quit) ::PostQuitMessage(static_cast<int>(*quit));
  return hr;
}

}  // namespace korvane::server::methods
