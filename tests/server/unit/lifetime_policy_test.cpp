// The main loop's lifetime decisions against two fake COM layers: one that suspends every class
// object when the process reference count reaches zero (Windows), one that does not (Wine).
#include "server/host/lifetime_policy.h"

#include <gtest/gtest.h>

#include "server/com/class_factory.h"
#include "server/com/server_lifetime.h"

namespace korvane::server {
namespace {

constexpr ServerTimings kTimings{3000, 500};

class FakeCom final : public ClassObjectHost {
 public:
  explicit FakeCom(bool suspendsAtZero) : suspendsAtZero_(suspendsAtZero) {}
  HRESULT Accept() override {
    if (acceptFails_) return E_OUTOFMEMORY;
    registered_ = true;
    suspended_ = false;
    return S_OK;
  }
  void Revoke() override { registered_ = false; }
  // What Windows does when a server's process count reaches zero.
  void CountReachedZero() {
    if (suspendsAtZero_) suspended_ = true;
  }
  // Whether a client activating now reaches this process (otherwise it starts another one).
  bool Serving() const { return registered_ && !suspended_; }
  bool registered() const { return registered_; }
  bool acceptFails_ = false;

 private:
  bool suspendsAtZero_;
  bool registered_ = true;  // the loop registers before its first pass
  bool suspended_ = false;
};

// A server process as the loop sees it: objects and locks come and go between passes.
class Server {
 public:
  explicit Server(bool suspendsAtZero)
      : com_(suspendsAtZero), policy_(com_, kTimings, now_, /*accepting=*/true) {}

  void Hold() { ++references_; }
  void Drop() {
    if (--references_ == 0) {
      lastRelease_ = now_;
      com_.CountReachedZero();
    }
  }
  void Wait(ULONGLONG ms) { now_ += ms; }
  PassDecision Pass(bool messages = true, bool quit = false) {
    return policy_.Pass({references_, lastRelease_, messages, quit, now_});
  }
  FakeCom& com() { return com_; }
  LifetimePolicy::Phase phase() const { return policy_.phase(); }

 private:
  ULONGLONG now_ = 100000;
  FakeCom com_;
  LifetimePolicy policy_;
  long references_ = 0;
  ULONGLONG lastRelease_ = 0;
};

class LifetimeDecisions : public ::testing::TestWithParam<bool> {
 protected:
  Server server_{GetParam()};
};

TEST_P(LifetimeDecisions, ReleaseToZeroAndACreateInOnePassLeaveActivationsServed) {
  server_.Hold();
  EXPECT_FALSE(server_.Pass().stop);
  server_.Drop();  // the last release ...
  server_.Hold();  // ... and a new object, handled before the loop looks again
  PassDecision next = server_.Pass();
  EXPECT_FALSE(next.stop);
  EXPECT_EQ(next.waitMs, INFINITE);
  EXPECT_TRUE(server_.com().Serving()) << "a later client would start another server";
}

TEST_P(LifetimeDecisions, AClientArrivingDuringTheLingerIsServedByThisProcess) {
  server_.Hold();
  server_.Pass();
  server_.Drop();
  PassDecision linger = server_.Pass();
  EXPECT_FALSE(linger.stop);
  EXPECT_EQ(linger.waitMs, kTimings.idleLingerMs);
  server_.Wait(2000);
  EXPECT_TRUE(server_.com().Serving()) << "the class must be served while lingering";
  server_.Hold();
  EXPECT_FALSE(server_.Pass().stop);
  EXPECT_TRUE(server_.com().Serving());
  // Busy long past the linger: still serving.
  server_.Wait(60000);
  EXPECT_FALSE(server_.Pass(false).stop);
  EXPECT_TRUE(server_.com().Serving());
}

TEST_P(LifetimeDecisions, AnUnlockToZeroLingersThenDrainsThenEnds) {
  server_.Hold();  // a LockServer(TRUE)
  server_.Pass();
  server_.Wait(10000);
  server_.Drop();  // LockServer(FALSE)
  EXPECT_EQ(server_.Pass().waitMs, kTimings.idleLingerMs);
  server_.Wait(kTimings.idleLingerMs);
  PassDecision drain = server_.Pass();
  EXPECT_FALSE(drain.stop);
  EXPECT_EQ(drain.waitMs, kTimings.quietMs);
  EXPECT_FALSE(server_.com().registered()) << "no new client may find a server about to end";
  server_.Wait(kTimings.quietMs);
  EXPECT_FALSE(server_.Pass(/*messages=*/true).stop) << "calls still arriving are served";
  server_.Wait(kTimings.quietMs);
  EXPECT_TRUE(server_.Pass(/*messages=*/false).stop);
  EXPECT_EQ(server_.phase(), LifetimePolicy::Phase::kStopping);
}

TEST_P(LifetimeDecisions, AnObjectCreatedWhileDrainingBringsTheServerBack) {
  server_.Pass();
  server_.Wait(kTimings.idleLingerMs);
  server_.Pass();  // revoked, draining
  ASSERT_FALSE(server_.com().registered());
  server_.Hold();  // a client that fetched the class object before the revocation
  EXPECT_FALSE(server_.Pass().stop);
  EXPECT_TRUE(server_.com().Serving());
  EXPECT_EQ(server_.phase(), LifetimePolicy::Phase::kAccepting);
}

TEST_P(LifetimeDecisions, AQuitRequestEndsTheServerEvenWithObjectsAlive) {
  // WM_QUIT reaching the loop while a RunCmd2 pumped is set aside and posted again once that
  // call returns; the outermost loop then honours it.
  server_.Hold();
  server_.Pass();
  EXPECT_TRUE(server_.Pass(true, /*quit=*/true).stop);
  EXPECT_FALSE(server_.com().registered());
  EXPECT_TRUE(server_.Pass().stop) << "the decision to end is final";
}

TEST_P(LifetimeDecisions, ACreateAndReleaseBetweenTwoLooksStartsTheLingerAgain) {
  server_.Pass();
  server_.Wait(2000);
  server_.Hold();
  server_.Drop();
  server_.Wait(2000);  // past the linger counted from start-up, within the one from the release
  EXPECT_EQ(server_.Pass().waitMs, kTimings.idleLingerMs - 2000);
  EXPECT_TRUE(server_.com().Serving());
}

TEST_P(LifetimeDecisions, CallsArrivingWithoutEndEndTheDrainAfterTenLingers) {
  server_.Pass();
  server_.Wait(kTimings.idleLingerMs);
  server_.Pass();  // revoked, draining
  for (ULONGLONG drained = kTimings.quietMs; drained < 10 * kTimings.idleLingerMs;
       drained += kTimings.quietMs) {
    server_.Wait(kTimings.quietMs);
    ASSERT_FALSE(server_.Pass(/*messages=*/true).stop) << drained;
  }
  server_.Wait(kTimings.quietMs);
  EXPECT_TRUE(server_.Pass(/*messages=*/true).stop);
}

TEST_P(LifetimeDecisions, WithoutAClassObjectOnlyLiveObjectsKeepTheServer) {
  server_.Hold();
  server_.Pass();
  server_.com().acceptFails_ = true;
  server_.Drop();
  server_.Hold();  // the count fell to zero, so activations are registered again, and fail
  PassDecision held = server_.Pass();
  EXPECT_FALSE(held.stop);
  EXPECT_EQ(held.waitMs, INFINITE);
  server_.Drop();
  EXPECT_TRUE(server_.Pass().stop);
}

INSTANTIATE_TEST_SUITE_P(ComLayers, LifetimeDecisions, ::testing::Values(true, false),
                         [](const auto& info) {
                           return info.param ? "SuspendsAtZeroLikeWindows"
                                             : "NeverSuspendsLikeWine";
                         });

// Each test runs in a process of its own, so the process-wide stopping state does not leak.
TEST(ClassFactoryStopping, OnceTheServerEndsCreatesAndLocksAreRefusedForActivationToRetry) {
  ClassFactory factory;
  BeginStopping();
  IUnknown* object = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(factory.CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)),
            CO_E_SERVER_STOPPING);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(factory.LockServer(TRUE), CO_E_SERVER_STOPPING);
  EXPECT_EQ(ServerReferences(), 0);
}

}  // namespace
}  // namespace korvane::server
