// The server's run: one single-threaded apartment on a thread of its own (server_loop.cpp says
// why), the class object registered for every client, and a message loop that serves calls until
// the lifetime policy (lifetime_policy.h, where the story of lingering and ending is told) says the
// server is no longer needed. The policy is asked in the outermost loop only, never inside a method
// that pumps messages, so a running call is never cut short.
#pragma once

#include <windows.h>

#include <objbase.h>

#include "server/host/lifetime_policy.h"

namespace korvane::server::host {

// Tells COM not to catch exceptions raised inside the calls it dispatches
// (COMGLB_EXCEPTION_DONOT_HANDLE_ANY), through `options`, or through this process's own options
// object, which needs an apartment and fails where the platform has none.
[[nodiscard]] HRESULT LetFaultsEndTheProcess(IGlobalOptions* options);
[[nodiscard]] HRESULT LetFaultsEndTheProcess();

// Serves the class until the server is no longer needed, while the calling thread (the process's
// first) passes on a WM_QUIT posted to it. Returns S_OK, or the error that kept the server from
// starting (for the process exit code).
[[nodiscard]] HRESULT RunServer(const ServerTimings& timings = {});

}  // namespace korvane::server::host
