// Waiting on the server's thread without blocking it: the thread is a single-threaded
// apartment, so incoming calls to its objects arrive as window messages and are served by
// dispatching them while it waits.
#pragma once

#include <windows.h>

#include <optional>
#include <vector>

namespace korvane::server::methods {

// How many waits may be open at once on one thread, each inside a call that the wait below it
// serves. Every level holds its frames on the thread's stack, so a crowd of waiting calls
// nested without end would overflow it; the serving thread's stack is reserved for this depth
// (host/server_loop.cpp).
inline constexpr int kMaxNestedWaits = 128;

// Once the nesting has reached the limit, the thread drains: no wait takes a new call until the
// waits above `kDrainedDepth` have unwound, so a crowd of calls is served in rounds of about
// the limit instead of one call per child's run time at the deepest level. The round ends at
// half the limit rather than at none open: a long run low in the nesting then does not stop
// every other client for its whole length, and the waits below the mark whose children have
// ended still return first, since each looks at its own handles before it serves anything.
inline constexpr int kDrainedDepth = kMaxNestedWaits / 2;

// Whether the thread drains once `depth` waits are open (after one opened or one returned), given
// whether it drained before.
constexpr bool DrainsAtDepth(int depth, bool drained) {
  return depth >= kMaxNestedWaits || (drained && depth > kDrainedDepth);
}

// Whether a wait that is the `depth`-th one open on its thread (1: inside no other) serves
// incoming calls. The deepest allowed wait does not (a call it served could open one more), nor
// does any wait while the thread drains: calls queue until the waits above them have returned.
// The price: a child started at such a depth that calls this server and waits for the answer is
// not answered before one of them is ended from outside.
constexpr bool ServesCallsAtDepth(int depth, bool draining) {
  return depth < kMaxNestedWaits && !draining;
}

// Sleeps until every handle in `pending` is signalled, waking for each one and for each
// incoming message. One message is dispatched per wake-up (calls to any object, including the
// waiting one, run to their end inside this wait), and the wait's own handles are looked at
// again before the next one, so a wait whose handles are all signalled returns without serving
// what is still queued. Signalled handles leave `pending`. A WM_QUIT seen meanwhile is posted
// again once the wait is over, so the main loop still gets it. Where the wait serves no calls
// (ServesCallsAtDepth) it only waits for the handles: messages, WM_QUIT included, stay queued
// for the waits below.
// Returns S_OK, or the failure of the wait itself as an HRESULT, with `pending` holding the
// handles not yet seen signalled; nothing is retried.
[[nodiscard]] HRESULT WaitForAllPumping(std::vector<HANDLE>& pending);

// One wait of at most `timeoutMs` for any handle in `pending` (which may be empty) or a message;
// at most one message is dispatched and signalled handles leave `pending`, as above. A WM_QUIT
// seen is kept in `quit` for the caller to post again once it has done polling: posted after
// each poll, it would wake the next one at once, and the polling would spin.
[[nodiscard]] HRESULT PumpFor(std::vector<HANDLE>& pending, DWORD timeoutMs,
                              std::optional<WPARAM>& quit);

}  // namespace korvane::server::methods
