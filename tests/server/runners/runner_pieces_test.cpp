// The pieces RunCmd2 waits and reads with, on their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <thread>

#include "methods/message_pump.h"
#include "message_window.h"
#include "methods/output_capture.h"
#include "win/unique_handle.h"

namespace korvane::test {
namespace {

using server::AwaitChildAndOutput;
using server::OutputCapture;
using server::WaitForAllPumping;
using win::UniqueHandle;

TEST(RunCmd2Pieces, FailedPumpingWaitReturnsAtOnceWithItsError) {
  // Not a closed handle: its slot may be reused at once, e.g. by the wait's own message queue.
  HANDLE never = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x0BADBAD0));
  std::vector<HANDLE> pending{never};
  EXPECT_EQ(WaitForAllPumping(pending), HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
  EXPECT_EQ(pending.size(), 1u);
}

// Each action posts the next one, then waits once, as a call whose RunCmd2 waits: every wait
// below the deepest serves the next action nested inside it, the deepest serves none, so the
// actions past it run one at a time once an inner wait has returned, never deeper.
TEST(RunCmd2Pieces, WaitsNestNoDeeperThanTheLimitAndLaterCallsRunWhenAnInnerOneReturns) {
  EXPECT_TRUE(server::ServesCallsAtDepth(1));
  EXPECT_TRUE(server::ServesCallsAtDepth(server::kMaxNestedWaits - 1));
  EXPECT_FALSE(server::ServesCallsAtDepth(server::kMaxNestedWaits));
  MessageWindow window;
  constexpr int kActions = server::kMaxNestedWaits + 2;
  int ran = 0, open = 0, deepest = 0;
  auto waitOnce = [&] {
    std::vector<HANDLE> none;
    ++open;
    EXPECT_EQ(server::PumpFor(none, 0), S_OK);
    --open;
  };
  std::function<void()> action = [&] {
    deepest = std::max(deepest, open);  // the waits this action runs inside
    if (++ran < kActions) window.Post(action);
    waitOnce();
  };
  window.Post(action);
  waitOnce();
  EXPECT_EQ(ran, kActions);
  EXPECT_EQ(deepest, server::kMaxNestedWaits - 1);
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

TEST(RunCmd2Pieces, CaptureKeepsExactlyUpToItsLimit) {
  Pipe pipe;
  OutputCapture capture(pipe.read.get(), 6);
  WriteText(pipe.write.get(), "abc");
  WriteText(pipe.write.get(), "def");
  pipe.write.reset();
  ASSERT_EQ(::WaitForSingleObject(capture.finished(), 30000), WAIT_OBJECT_0);
  EXPECT_TRUE(capture.complete());
  EXPECT_EQ(capture.TakeBytes(), "abcdef");
}

// Read without waiting first, as after a failed wait: the bytes come once the reader is done.
TEST(RunCmd2Pieces, CaptureWaitsForItsReaderBeforeHandingOverTheBytes) {
  Pipe pipe;
  OutputCapture capture(pipe.read.get());
  WriteText(pipe.write.get(), "abc");
  std::thread writer([&] {
    ::Sleep(300);
    WriteText(pipe.write.get(), "def");
    pipe.write.reset();
  });
  EXPECT_TRUE(capture.complete());
  EXPECT_EQ(capture.TakeBytes(), "abcdef");
  writer.join();
}

// Without a reader thread the waiting thread reads only what is there: it keeps serving messages
// while a writer that fills the pipe many times over waits for one of them, and it still
// collects everything once the writer (standing in for the child) has ended.
TEST(RunCmd2Pieces, WithoutAReaderThreadTheWaitServesMessagesAndReadsEverything) {
  Pipe pipe;
  OutputCapture capture(pipe.read.get(), std::numeric_limits<size_t>::max(),
                        OutputCapture::Reader::kCaller);
  ASSERT_EQ(capture.finished(), nullptr);
  MessageWindow window;
  UniqueHandle served(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle writerDone(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  bool messageServed = false;
  std::thread writer([&] {
    for (int i = 0; i < 20; ++i) WriteText(pipe.write.get(), std::string(10000, 'a' + i));
    window.Post([&] { ::SetEvent(served.get()); });
    messageServed = ::WaitForSingleObject(served.get(), 30000) == WAIT_OBJECT_0;
    WriteText(pipe.write.get(), "end");
    pipe.write.reset();
    ::SetEvent(writerDone.get());
  });
  AwaitChildAndOutput(writerDone.get(), capture);
  writer.join();
  EXPECT_TRUE(messageServed) << "the waiting thread did not serve a message";
  std::string expected;
  for (int i = 0; i < 20; ++i) expected += std::string(10000, 'a' + i);
  EXPECT_TRUE(capture.complete());
  EXPECT_EQ(capture.TakeBytes(), expected + "end");
}

}  // namespace
}  // namespace korvane::test
