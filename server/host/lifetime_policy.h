// When the server accepts activations, when it stops accepting them and when it ends: a plain
// decision per pass of the main loop, on the server's own count of objects and locks alone.
//
// The platform's process reference count is not used. On Windows, CoReleaseServerProcess
// reaching zero suspends every class object (Wine's does not), so a server that combined that
// count with its own linger would behave differently on the two: a client arriving during the
// linger would start a second server, and a last release followed by a create in the same pass
// would leave the class suspended while objects live, so every later activation started yet
// another process. Here the class object is suspended or revoked only by this policy, and
// activations are resumed whenever the count has left zero since the previous pass.
//
// Phases: accepting (class object registered) -> after `idleLingerMs` without objects or locks,
// draining (class object revoked, still serving what arrives; a client that creates an object
// brings the server back to accepting) -> once `quietMs` pass without a message (or draining has
// lasted ten lingers, however many messages arrive), stopping (a create through a class factory
// a client already holds answers CO_E_SERVER_STOPPING) -> end.
//
// Why linger when nothing is held (also right after start-up): activations race with the end.
// Under Wine several clients that start at once may each start a server process; a client
// watches the process it started while it polls (once a second) for a registered class object
// and fails if that process ends meanwhile, and a client that has just fetched a class object
// fails if its server ends before the client reaches it.
#pragma once

#include <windows.h>

namespace korvane::server::host {

struct ServerTimings {
  // Longer than a client's one-second activation poll (see above), with room for a slow start.
  DWORD idleLingerMs = 3000;
  DWORD quietMs = 500;
};

// The class object's registration with COM, as the main loop drives it.
class ClassObjectHost {
 public:
  virtual ~ClassObjectHost() = default;
  // Registers the class object (if it is not) and makes sure activations are served.
  [[nodiscard]] virtual HRESULT Accept() = 0;
  // No new client finds the class object from now on.
  virtual void Revoke() = 0;
};

// What the loop knows at the start of a pass.
struct PassFacts {
  long references = 0;         // objects and locks now
  ULONGLONG lastRelease = 0;   // tick of the last fall to zero (0: never)
  bool sawMessages = false;    // messages were served since the previous pass
  bool quitRequested = false;  // WM_QUIT arrived
  ULONGLONG now = 0;
};

// What the loop does next: wait at most `waitMs` for messages, or end.
struct PassDecision {
  bool stop = false;
  DWORD waitMs = INFINITE;
};

class LifetimePolicy {
 public:
  enum class Phase { kAccepting, kDraining, kStopping };

  // `accepting`: the host has registered already (else the first pass makes it accept). A server
  // nobody asked for lingers from `startTick` as after a last release.
  LifetimePolicy(ClassObjectHost& host, const ServerTimings& timings, ULONGLONG startTick,
                 bool accepting = false);

  // Takes one pass's decision and makes the host's calls it needs. Once it answers stop, the
  // phase is kStopping and stays so.
  PassDecision Pass(const PassFacts& facts);

  Phase phase() const { return phase_; }

 private:
  PassDecision Accept(const PassFacts& facts);
  PassDecision Stop();

  ClassObjectHost& host_;
  ServerTimings timings_;
  Phase phase_ = Phase::kAccepting;
  bool accepting_ = false;  // Accept() succeeded and nothing revoked since
  ULONGLONG idleSince_;     // start of the current idle stretch
  bool wasIdle_ = true;
  ULONGLONG seenRelease_ = 0;  // lastRelease as of the previous pass
  ULONGLONG drainingSince_ = 0;
};

}  // namespace korvane::server::host
