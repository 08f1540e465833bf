#include "methods/message_pump.h"

#include <optional>

#include "win/result.h"

namespace korvane::server {

namespace {

// Dispatches everything queued now. WM_QUIT is kept aside rather than posted again here, which
// would make the wait wake at once, again and again.
void DispatchQueued(std::optional<WPARAM>& quit) {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      quit = msg.wParam;
      continue;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

// One wait and what it woke for. Returns false when the wait itself failed.
bool WaitOnce(std::vector<HANDLE>& pending, DWORD timeoutMs, std::optional<WPARAM>& quit) {
  const DWORD count = static_cast<DWORD>(pending.size());
  // MWMO_INPUTAVAILABLE: also wake for messages that arrived before the wait began.
  DWORD woke = ::MsgWaitForMultipleObjectsEx(count, pending.empty() ? nullptr : pending.data(),
                                             timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  if (woke < WAIT_OBJECT_0 + count) {
    pending.erase(pending.begin() + (woke - WAIT_OBJECT_0));
  } else if (woke == WAIT_OBJECT_0 + count) {
    DispatchQueued(quit);
  } else if (woke >= WAIT_ABANDONED_0 && woke < WAIT_ABANDONED_0 + count) {
    // An abandoned mutex is signalled as well: nothing more will happen to it.
    pending.erase(pending.begin() + (woke - WAIT_ABANDONED_0));
  } else if (woke != WAIT_TIMEOUT) {
    return false;
  }
  return true;
}

}  // namespace

HRESULT PumpFor(std::vector<HANDLE>& pending, DWORD timeoutMs) {
  std::optional<WPARAM> quit;
  HRESULT hr = WaitOnce(pending, timeoutMs, quit) ? S_OK : win::LastErrorAsHresult();
  if (quit) ::PostQuitMessage(static_cast<int>(*quit));
  return hr;
}

HRESULT WaitForAllPumping(std::vector<HANDLE>& pending) {
  std::optional<WPARAM> quit;
  HRESULT hr = S_OK;
  while (!pending.empty()) {
    if (!WaitOnce(pending, INFINITE, quit)) {
      hr = win::LastErrorAsHresult();
      break;
    }
  }
  if (quit) ::PostQuitMessage(static_cast<int>(*quit));
  return hr;
}

}  // namespace korvane::server
