#include "server/host/lifetime_policy.h"

#include <algorithm>

namespace korvane::server::host {

LifetimePolicy::LifetimePolicy(ClassObjectHost& host, const ServerTimings& timings,
                               ULONGLONG startTick, bool accepting)
    : host_(host), timings_(timings), accepting_(accepting), idleSince_(startTick) {}

PassDecision LifetimePolicy::Pass(const PassFacts& facts) {
  if (phase_ == Phase::kStopping) return {true, 0};
  if (facts.quitRequested) return Stop();

  const bool idle = facts.references == 0;
  // The count fell to zero since the last look, even if it has risen again in the same pass: the
  // platform may have suspended activations then, so they are resumed below.
  const bool fellToZero = facts.lastRelease != seenRelease_;
  seenRelease_ = facts.lastRelease;

  if (phase_ == Phase::kDraining) {
    if (!idle) {
      // A client that fetched the class object before the revocation created an object: serve
      // it, and let new clients find this server again.
      phase_ = Phase::kAccepting;
      wasIdle_ = false;
      return Accept(facts);
    }
    const bool tooLong = facts.now - drainingSince_ >= 10ull * timings_.idleLingerMs;
    if (facts.sawMessages && !tooLong) return {false, timings_.quietMs};
    return Stop();
  }

  if (!idle) {
    wasIdle_ = false;
    if (!accepting_ || fellToZero) return Accept(facts);
    return {false, INFINITE};
  }

  // Also an object created and released between two looks counts as activity.
  idleSince_ = std::max(wasIdle_ ? idleSince_ : facts.now, facts.lastRelease);
  wasIdle_ = true;
  if (!accepting_ || fellToZero) {
    PassDecision accepted = Accept(facts);
    if (accepted.stop) return accepted;
  }
  const ULONGLONG waited = facts.now - idleSince_;
  if (waited < timings_.idleLingerMs)
    return {false, static_cast<DWORD>(timings_.idleLingerMs - waited)};

  // No new client finds us from now on; serve those already on their way.
  host_.Revoke();
  accepting_ = false;
  phase_ = Phase::kDraining;
  drainingSince_ = facts.now;
  return {false, timings_.quietMs};
}

PassDecision LifetimePolicy::Accept(const PassFacts& facts) {
  if (FAILED(host_.Accept())) {
    // Without a class object no client can reach a new object; those alive keep the server.
    accepting_ = false;
    return facts.references == 0 ? Stop() : PassDecision{false, INFINITE};
  }
  accepting_ = true;
  return {false, facts.references == 0 ? timings_.idleLingerMs : INFINITE};
}

PassDecision LifetimePolicy::Stop() {
  if (accepting_) host_.Revoke();
  accepting_ = false;
  phase_ = Phase::kStopping;
  return {true, 0};
}

}  // namespace korvane::server::host
