#include "message_pump.h"

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

}  // namespace

HRESULT WaitForAllPumping(std::vector<HANDLE>& pending) {
  std::optional<WPARAM> quit;
  HRESULT hr = S_OK;
  while (!pending.empty()) {
    const DWORD count = static_cast<DWORD>(pending.size());
    // MWMO_INPUTAVAILABLE: also wake for messages that arrived before the wait began.
    DWORD woke = ::MsgWaitForMultipleObjectsEx(count, pending.data(), INFINITE, QS_ALLINPUT,
                                               MWMO_INPUTAVAILABLE);
    if (woke < WAIT_OBJECT_0 + count) {
      pending.erase(pending.begin() + (woke - WAIT_OBJECT_0));
    } else if (woke == WAIT_OBJECT_0 + count) {
      DispatchQueued(quit);
    } else if (woke >= WAIT_ABANDONED_0 && woke < WAIT_ABANDONED_0 + count) {
      // An abandoned mutex is signalled as well: nothing more will happen to it.
      pending.erase(pending.begin() + (woke - WAIT_ABANDONED_0));
    } else {
      hr = win::LastErrorAsHresult();
      break;
    }
  }
  if (quit) ::PostQuitMessage(static_cast<int>(*quit));
  return hr;
}

}  // namespace korvane::server
