// Waiting on the server's thread without blocking it: the thread is a single-threaded
// apartment, so incoming calls to its objects arrive as window messages and are served by
// dispatching them while it waits.
#pragma once

#include <windows.h>

#include <vector>

namespace korvane::server {

// How many waits may be open at once on one thread, each inside a call that the wait below it
// serves. Every level holds its frames on the thread's stack, so a crowd of waiting calls
// nested without end would overflow it; the serving thread's stack is reserved for this depth
// (host/server_loop.cpp).
inline constexpr int kMaxNestedWaits = 128;

// Whether a wait that is the `depth`-th one open on its thread (1: inside no other) serves
// incoming calls. The deepest allowed wait does not: a call it served could open one more.
// Calls then queue until a call nested inside an outer wait returns. The price: a child started
// at that depth that calls this server and waits for the answer is not answered before one of
// them is ended from outside.
constexpr bool ServesCallsAtDepth(int depth) { return depth < kMaxNestedWaits; }

// Sleeps until every handle in `pending` is signalled, waking for each one and for each
// incoming message, which is dispatched at once (calls to any object, including the waiting
// one, run to their end inside this wait). Signalled handles leave `pending`. A WM_QUIT seen
// meanwhile is posted again once the wait is over, so the main loop still gets it. At the
// deepest allowed nesting (ServesCallsAtDepth) it only waits for the handles: messages, WM_QUIT
// included, stay queued for the waits below.
// Returns S_OK, or the failure of the wait itself as an HRESULT, with `pending` holding the
// handles not yet seen signalled; nothing is retried.
[[nodiscard]] HRESULT WaitForAllPumping(std::vector<HANDLE>& pending);

// One wait of at most `timeoutMs` for any handle in `pending` (which may be empty) or a message;
// messages are dispatched and signalled handles leave `pending`, as above.
[[nodiscard]] HRESULT PumpFor(std::vector<HANDLE>& pending, DWORD timeoutMs);

}  // namespace korvane::server
