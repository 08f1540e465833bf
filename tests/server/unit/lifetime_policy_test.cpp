// The main loop's lifetime decisions against two fake COM layers: one that suspends every class
// object when the process reference count reaches zero (Windows), one that does not (Wine).
#include "server/host/lifetime_policy.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "server/com/class_factory.h"
#include "server/com/server_lifetime.h"

namespace korvane::test {
using namespace server::host;
using namespace server::com;

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
  PassDecision Pass(bool messages, bool quit) {
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

// L is the linger, Q the quiet time, I INFINITE, anything else milliseconds.
DWORD Ms(const std::string& text) {
  if (text == "L") return kTimings.idleLingerMs;
  if (text == "Q") return kTimings.quietMs;
  if (text == "I") return INFINITE;
  return static_cast<DWORD>(std::stoul(text));
}

// Plays a scenario, steps apart by blanks: + takes an object or a lock, - releases one, w<ms>
// waits; p, s and x are passes (after messages, after none, with WM_QUIT) followed by the decision
// they must take: ! to stop, else how long to wait. ~ expects a new client to reach this process,
// u the class object revoked, A, D or S the phase; f makes every later Accept fail.
void Play(Server& server, const std::string& scenario) {
  std::istringstream steps(scenario);
  int index = 0;
  for (std::string step; steps >> step; ++index) {
    SCOPED_TRACE("step " + std::to_string(index) + " " + step);
    const char op = step[0];
    const std::string arg = step.substr(1);
    ASSERT_NE(std::string("+-wpsx~ufADS").find(op), std::string::npos) << "unknown step";
    if (op == '+') server.Hold();
    if (op == '-') server.Drop();
    if (op == 'w') server.Wait(Ms(arg));
    if (op == 'p' || op == 's' || op == 'x') {
      const PassDecision decision = server.Pass(op != 's', op == 'x');
      EXPECT_EQ(decision.stop, arg == "!");
      EXPECT_EQ(decision.waitMs, arg == "!" ? 0u : Ms(arg));
    }
    EXPECT_TRUE(op != '~' || server.com().Serving()) << "a new client would start another server";
    EXPECT_TRUE(op != 'u' || !server.com().registered()) << "the class object is registered";
    if (op == 'f') server.com().acceptFails_ = true;
    const size_t phase = std::string("ADS").find(op);  // in the order of LifetimePolicy::Phase
    EXPECT_TRUE(phase == std::string::npos || static_cast<size_t>(server.phase()) == phase)
        << "in phase " << static_cast<int>(server.phase());
  }
}

std::string Repeat(const std::string& steps, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += steps;
  return all;
}

class LifetimeDecisions : public ::testing::TestWithParam<bool> {};

TEST_P(LifetimeDecisions, EachScenarioTakesItsDecisions) {
  struct Row {
    const char* name;
    std::string scenario;
  };
  // clang-format off
  const Row rows[] = {
      {"release to zero and a create in one pass: still served", "+ pI - + pI ~"},
      {"the last release lingers, then drains and ends", "+ pI - pL w1500 p1500 ~ w1500 pQ u D wQ s! S"},
      {"started without a client: lingers from its start, ends", "pL w1500 p1500 ~ w1500 pQ u D wQ s! S"},
      {"a client arriving while it lingers is served and keeps it", "+ pI - pL w2000 ~ + pI ~ w60000 sI ~ A - pL wL pQ u wQ s! S"},
      {"an unlock to zero lingers, drains while calls come, ends", "+ pI w10000 - pL wL pQ u wQ pQ wQ s! S"},
      {"an object created while draining brings it back", "pL wL pQ u D + pI ~ A"},
      {"a quit ends it with objects alive, for good", "+ pI x! u p! S"},
      {"a create and release between looks restarts the linger", "pL w2000 + - w2000 p1000 ~"},
      {"calls without end end the drain after ten lingers", "pL wL pQ" + Repeat(" wQ pQ", 59) + " wQ p!"},
      {"without a class object only live objects keep it", "+ pI f - + pI - p!"},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Server server(GetParam());
    Play(server, row.scenario);
  }
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
}  // namespace korvane::test
