// The server's run: one single-threaded apartment, the class object registered for every client,
// and a message loop that serves calls until the server is no longer needed.
//
// Ending is careful because activations can race with it. Under Wine several clients that start
// at once may each start a server process; a client watches the process it started while it
// polls (once a second) for a registered class object and fails if that process ends meanwhile,
// and a client that has just fetched a class object fails if its server ends before the client
// reaches it. So, when nothing is held (also right after start-up), the server lingers; only
// after `idleLingerMs` without objects or locks does it revoke its class object, and it then
// serves what is still arriving until `quietMs` pass without a message. If a client created an
// object meanwhile, it registers again and keeps serving; otherwise it ends.
//
// The decision is taken in the outermost loop only, never inside a method that pumps messages,
// so a running call is never cut short.
#pragma once

#include <windows.h>

namespace korvane::server {

struct ServerTimings {
  // Longer than the client's one-second activation poll, with room for a slow start.
  DWORD idleLingerMs = 3000;
  DWORD quietMs = 500;
};

// Serves the class until the server is no longer needed. Returns S_OK, or the error that kept the
// server from starting (for the process exit code).
HRESULT RunServer(const ServerTimings& timings = {});

}  // namespace korvane::server
