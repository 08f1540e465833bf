// The pieces RunCmd2 waits and reads with, on their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <thread>

#include "common/win/unique_handle.h"
#include "server/methods/message_pump.h"
#include "server/methods/output_capture.h"
#include "tests/server/runners/message_window.h"
#include "tests/server/runners/runner_test_support.h"

namespace korvane::test {

using namespace server::methods;
namespace {

using win::UniqueHandle;

TEST(RunCmd2Pieces, FailedPumpingWaitReturnsAtOnceWithItsError) {
  // Not a closed handle: its slot may be reused at once, e.g. by the wait's own message queue.
  HANDLE never = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x0BADBAD0));
  std::vector<HANDLE> pending{never};
  EXPECT_EQ(WaitForAllPumping(pending), HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
  EXPECT_EQ(pending.size(), 1u);
}

// Whether a wait serves calls and whether the thread drains, at the edges of the limit and of
// the mark where a drain ends.
TEST(RunCmd2Pieces, WaitsServeBelowTheLimitUnlessDrainingAndADrainLastsDownToTheMark) {
  struct Case {
    int depth;
    bool drained, serves, drains;  // drained: before the depth changed to `depth`
  };
  const Case cases[] = {
      {1, false, true, false},
      {kDrainedDepth, false, true, false},
      {kMaxNestedWaits - 1, false, true, false},
      {kMaxNestedWaits, false, false, true},  // the limit starts a drain
      {kMaxNestedWaits - 1, true, false, true},
      {kDrainedDepth + 1, true, false, true},
      {kDrainedDepth, true, true, false},  // the mark ends it
      {0, true, true, false},
  };
  for (const Case& c : cases) {
    const bool drains = DrainsAtDepth(c.depth, c.drained);
    EXPECT_EQ(drains, c.drains) << "depth " << c.depth << ", drained before " << c.drained;
    EXPECT_EQ(ServesCallsAtDepth(c.depth, drains), c.serves) << "depth " << c.depth;
  }
}

// Each action posts the next one, then waits once, as a call whose RunCmd2 waits: every wait
// below the deepest serves the next action nested inside it, the deepest serves none, so the
// actions past it run once the waits above the mark have returned, never deeper.
TEST(RunCmd2Pieces, WaitsNestNoDeeperThanTheLimitAndLaterCallsRunWhenAnInnerOneReturns) {
  MessageWindow window;
  constexpr int kActions = kMaxNestedWaits + 2;
  int ran = 0, open = 0, deepest = 0;
  auto waitOnce = [&] {
    std::vector<HANDLE> none;
    std::optional<WPARAM> quit;
    ++open;
    EXPECT_EQ(PumpFor(none, 0, quit), S_OK);
    --open;
  };
  std::function<void()> action = [&] {
    deepest = std::max(deepest, open);  // the waits this action runs inside
    if (++ran < kActions) window.Post(action);
    waitOnce();
  };
  window.Post(action);
  // Each wait serves one message at most: the loop outside the waits takes up the rest.
  for (int pass = 0; ran < kActions && pass < kActions; ++pass) waitOnce();
  EXPECT_EQ(ran, kActions);
  EXPECT_EQ(deepest, kMaxNestedWaits - 1);
}

// Waits nested on this thread as calls whose RunCmd2 waits nest, each ended by its own event.
struct NestedWaits {
  NestedWaits() {
    for (UniqueHandle& event : ended) event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  }
  void Wait() {
    std::vector<HANDLE> pending{ended[++open].get()};
    EXPECT_EQ(WaitForAllPumping(pending), S_OK);
    --open;
  }
  // Ends the waits at the depths from `deepest` down to just above `above`.
  void End(int deepest, int above) {
    for (int depth = deepest; depth > above; --depth) ::SetEvent(ended[depth].get());
  }
  std::vector<UniqueHandle> ended = std::vector<UniqueHandle>(kMaxNestedWaits + 1);
  int open = 0;  // the depth of the innermost wait
};

// A crowd of calls whose children run: once the nesting reaches the limit, the waits above the
// mark only wait for their children, which end from the top down on another thread; the call
// queued meanwhile runs only when the wait at the mark serves again, inside exactly as many
// waits as the mark, and not inside a wait that had to return first.
TEST(RunCmd2Pieces, OnceTheNestingReachesTheLimitNoWaitServesUntilThoseAboveTheMarkReturned) {
  MessageWindow window;
  NestedWaits waits;
  std::vector<int> ranInside;
  std::thread ender;
  std::function<void()> action = [&] {
    ranInside.push_back(waits.open);
    if (ranInside.size() == static_cast<size_t>(kMaxNestedWaits)) {  // the call past the limit
      waits.End(kMaxNestedWaits, 0);
      return;
    }
    window.Post(action);
    if (waits.open == kMaxNestedWaits - 1)
      ender = std::thread([&] { waits.End(kMaxNestedWaits, kDrainedDepth); });
    waits.Wait();
  };
  window.Post(action);
  waits.Wait();
  if (ender.joinable()) ender.join();
  std::vector<int> expected;
  for (int depth = 1; depth < kMaxNestedWaits; ++depth) expected.push_back(depth);
  expected.push_back(kDrainedDepth);
  EXPECT_EQ(ranInside, expected);
}

// A WM_QUIT that arrives while the deepest wait runs stays queued there (that wait serves nothing),
// is set aside by the wait at the mark once the drain has ended, so it does not wake that wait
// again and again, and reaches the loop outside once every wait has returned: the server ends,
// and the calls queued meanwhile are still served.
TEST(RunCmd2Pieces, AQuitArrivingAtTheDeepestWaitReachesTheOuterLoopAfterTheWaitsReturn) {
  MessageWindow window;
  NestedWaits waits;
  UniqueHandle probed(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  const DWORD thread = ::GetCurrentThreadId();
  int ran = 0;
  std::vector<std::pair<int, bool>> probes;  // the depth each probe ran at, and a quit pending
  auto probe = [&] {
    MSG quit;
    probes.emplace_back(waits.open, ::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
    ::SetEvent(probed.get());
  };
  auto ender = [&] {
    ::Sleep(50);  // the deepest wait is open by now
    ::PostThreadMessageW(thread, WM_QUIT, 7, 0);
    waits.End(kMaxNestedWaits, kDrainedDepth);
    // A call posted now runs in the wait at the mark, after that wait has taken the quit.
    for (int attempt = 0; attempt < 50; ++attempt) {
      ::Sleep(20);
      window.Post(probe);
      if (::WaitForSingleObject(probed.get(), 10000) != WAIT_OBJECT_0 || !probes.back().second)
        break;
    }
    waits.End(kDrainedDepth, 0);
  };
  std::thread ending;
  std::function<void()> action = [&] {
    if (++ran < kMaxNestedWaits - 1)
      window.Post(action);
    else  // the wait this action opens is the deepest
      ending = std::thread(ender);
    waits.Wait();
  };
  window.Post(action);
  waits.Wait();
  ending.join();
  ASSERT_FALSE(probes.empty()) << "no call was served after the drain";
  for (const auto& [depth, quitPending] : probes) EXPECT_EQ(depth, kDrainedDepth);
  EXPECT_FALSE(probes.back().second) << "the quit was not set aside";
  MSG quit{};
  ASSERT_TRUE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit was lost";
  EXPECT_EQ(quit.wParam, 7u);
}

// A wait looks at its own handle before each message it serves: once the handle is signalled it
// returns, and what is still queued waits for whoever pumps next. PumpFor serves one message.
TEST(RunCmd2Pieces, WaitWhoseHandleIsSignalledReturnsWithoutDispatchingWhatIsQueued) {
  constexpr int kQueued = 3;
  // 0: the handle is signalled before the wait; n: by the n-th message dispatched. -1: PumpFor.
  for (int signalledBy : {0, 1, 2, -1}) {
    MessageWindow window;
    UniqueHandle ended(::CreateEventW(nullptr, TRUE, signalledBy == 0, nullptr));
    int dispatched = 0;
    for (int i = 0; i < kQueued; ++i)
      window.Post([&] {
        if (++dispatched == signalledBy) ::SetEvent(ended.get());
      });
    std::vector<HANDLE> pending{ended.get()};
    if (signalledBy < 0) {
      std::optional<WPARAM> quit;
      EXPECT_EQ(PumpFor(pending, 0, quit), S_OK);
      EXPECT_EQ(dispatched, 1);
    } else {
      EXPECT_EQ(WaitForAllPumping(pending), S_OK);
      EXPECT_EQ(dispatched, signalledBy) << "signalled by message " << signalledBy;
    }
    DispatchPending();
    EXPECT_EQ(dispatched, kQueued) << "messages were lost, signalled by " << signalledBy;
  }
}

struct Pipe {
  Pipe() { EXPECT_TRUE(::CreatePipe(read.put(), write.put(), nullptr, 0)); }
  UniqueHandle read, write;
};

void WriteText(HANDLE to, const std::string& text) {
  DWORD wrote = 0;
  ASSERT_TRUE(::WriteFile(to, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr));
  ASSERT_EQ(wrote, text.size());
}

TEST(RunCmd2Pieces, CapturePastItsLimitKeepsDrainingSoTheWriterEndsAndReportsIncomplete) {
  Pipe pipe;
  OutputCapture capture(pipe.read.get(), 20000);
  UniqueHandle writerDone(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread writer([&] {
    for (int i = 0; i < 50; ++i) WriteText(pipe.write.get(), std::string(10000, 'x'));
    pipe.write.reset();
    ::SetEvent(writerDone.get());
  });
  // The pipe holds far less than what is written: the writer only ends if reading goes on.
  bool writerEnded = ::WaitForSingleObject(writerDone.get(), 60000) == WAIT_OBJECT_0;
  if (!writerEnded) pipe.read.reset();  // unblocks the writer so the test can end
  writer.join();
  ASSERT_TRUE(writerEnded);
  ASSERT_EQ(::WaitForSingleObject(capture.finished(), 30000), WAIT_OBJECT_0);
  EXPECT_FALSE(capture.complete());
  EXPECT_EQ(capture.TakeBytes(), "");
}

// A capture keeps exactly up to its limit. Read without waiting first, as after a failed wait,
// the bytes come once the reader is done.
TEST(RunCmd2Pieces, CaptureKeepsExactlyUpToItsLimitAndWaitsForItsReaderBeforeHandingThemOver) {
  for (bool waitFirst : {true, false}) {
    Pipe pipe;
    OutputCapture capture(pipe.read.get(), waitFirst ? 6 : std::numeric_limits<size_t>::max());
    WriteText(pipe.write.get(), "abc");
    std::thread writer([&] {
      if (!waitFirst) ::Sleep(300);
      WriteText(pipe.write.get(), "def");
      pipe.write.reset();
    });
    if (waitFirst) {
      EXPECT_EQ(::WaitForSingleObject(capture.finished(), 30000), WAIT_OBJECT_0);
    }
    EXPECT_TRUE(capture.complete()) << "waited first: " << waitFirst;
    EXPECT_EQ(capture.TakeBytes(), "abcdef") << "waited first: " << waitFirst;
    writer.join();
  }
}

// Without a reader thread the waiting thread reads only what is there: it keeps serving messages
// while a writer that fills the pipe many times over waits for one of them, and it still
// collects everything once the writer (standing in for the child) has ended. A WM_QUIT seen
// meanwhile reaches the loop below once the wait is over.
TEST(RunCmd2Pieces, WithoutAReaderThreadTheWaitServesMessagesReadsEverythingAndPassesOnAQuit) {
  Pipe pipe;
  OutputCapture capture(pipe.read.get(), std::numeric_limits<size_t>::max(),
                        OutputCapture::Reader::kCaller);
  ASSERT_EQ(capture.finished(), nullptr);
  MessageWindow window;
  UniqueHandle served(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle writerDone(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  bool messageServed = false;
  bool quitPendingWhilePolling = false;
  std::thread writer([&] {
    for (int i = 0; i < 20; ++i) WriteText(pipe.write.get(), std::string(10000, 'a' + i));
    window.Post([&] {
      // The quit is kept aside until the polling ends: pending, it would wake every poll at once.
      MSG pending;
      quitPendingWhilePolling = ::PeekMessageW(&pending, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE);
      ::SetEvent(served.get());
    });
    messageServed = ::WaitForSingleObject(served.get(), 30000) == WAIT_OBJECT_0;
    WriteText(pipe.write.get(), "end");
    pipe.write.reset();
    ::SetEvent(writerDone.get());
  });
  ::PostQuitMessage(7);
  AwaitChildAndOutput(writerDone.get(), capture);
  writer.join();
  EXPECT_TRUE(messageServed) << "the waiting thread did not serve a message";
  EXPECT_FALSE(quitPendingWhilePolling);
  MSG quit{};
  EXPECT_TRUE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(quit.wParam, 7u);
  std::string expected;
  for (int i = 0; i < 20; ++i) expected += std::string(10000, 'a' + i);
  EXPECT_TRUE(capture.complete());
  EXPECT_EQ(capture.TakeBytes(), expected + "end");
}

}  // namespace
}  // namespace korvane::test
