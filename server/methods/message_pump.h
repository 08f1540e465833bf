// Waiting on the server's thread without blocking it: the thread is a single-threaded
// apartment, so incoming calls to its objects arrive as window messages and are served by
// dispatching them while it waits.
#pragma once

#include <windows.h>

#include <vector>

namespace korvane::server {

// Sleeps until every handle in `pending` is signalled, waking for each one and for each
// incoming message, which is dispatched at once (calls to any object, including the waiting
// one, run to their end inside this wait). Signalled handles leave `pending`. A WM_QUIT seen
// meanwhile is posted again once the wait is over, so the main loop still gets it.
// Returns S_OK, or the failure of the wait itself as an HRESULT, with `pending` holding the
// handles not yet seen signalled; nothing is retried.
HRESULT WaitForAllPumping(std::vector<HANDLE>& pending);

// One wait of at most `timeoutMs` for any handle in `pending` (which may be empty) or a message;
// messages are dispatched and signalled handles leave `pending`, as above.
HRESULT PumpFor(std::vector<HANDLE>& pending, DWORD timeoutMs);

}  // namespace korvane::server
