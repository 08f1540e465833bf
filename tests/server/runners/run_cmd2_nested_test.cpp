// Calls served while RunCmd2 waits, in the test process: a posted message stands for a call
// from another client, dispatched by the waiting method as the platform dispatches calls.
#include <gtest/gtest.h>

#include <thread>

#include "tests/server/runners/inproc_fixture.h"
#include "tests/server/runners/message_window.h"

namespace korvane::test {
namespace {

class RunCmd2Nested : public InProcessRunner {
 protected:
  MessageWindow window_;
};

TEST_F(RunCmd2Nested, ObjectReleasedByItsLastClientDuringTheWaitLivesUntilTheCallReturns) {
  EnableLog(true);
  FileGrowth log(LogPath());
  _QuandrelCom* object = object_.detach();  // the test's reference is now the only one
  bool released = false;
  window_.Post([&] {
    object->Release();
    released = true;
  });
  const std::wstring line = ChildCommand({L"sleep", L"200", L"out", L"after"});
  ASSERT_TRUE(RunCmd2Gives(object, line, L"after\r\n"));
  EXPECT_TRUE(released) << "the posted release was not dispatched during the wait";
  // The closing line reads the object's switch after the release.
  EXPECT_EQ(LogMessages(log.Added()),
            (std::vector<std::string>{"[RunCmd2] strCmd = " + Narrow(line),
                                      "[RunCmd2] strReturn=after\r\n"}));
}

TEST_F(RunCmd2Nested, SwitchChangedDuringTheWaitDecidesTheLaterLines) {
  std::wstring line = ChildCommand({L"sleep", L"200", L"out", L"x"});
  for (bool startOn : {true, false}) {
    EnableLog(startOn);
    FileGrowth log(LogPath());
    window_.Post([&] { object_->EnableDebugLog(startOn ? VARIANT_FALSE : VARIANT_TRUE); });
    ASSERT_TRUE(RunCmd2Gives(object_.get(), line, L"x\r\n"));
    EXPECT_EQ(LogMessages(log.Added()),
              std::vector<std::string>{startOn ? "[RunCmd2] strCmd = " + Narrow(line)
                                               : "[RunCmd2] strReturn=x\r\n"})
        << "log on at first: " << startOn;
  }
}

TEST_F(RunCmd2Nested, SameObjectRunsAnotherRunCmd2InsideTheWait) {
  EnableLog(true);
  FileGrowth log(LogPath());
  std::wstring outerLine = ChildCommand({L"sleep", L"300", L"out", L"outer"});
  std::wstring innerLine = ChildCommand({L"out", L"inner"});
  RunnerResult inner;
  window_.Post([&] { inner = CallRunCmd2(object_.get(), innerLine); });
  EXPECT_TRUE(RunCmd2Gives(object_.get(), outerLine, L"outer\r\n"));
  EXPECT_EQ(inner.text, L"inner\r\n");
  EXPECT_EQ(
      LogMessages(log.Added()),
      (std::vector<std::string>{"[RunCmd2] strCmd = " + Narrow(outerLine),
                                "[RunCmd2] strCmd = " + Narrow(innerLine),
                                "[RunCmd2] strReturn=inner\r\n", "[RunCmd2] strReturn=outer\r\n"}));
}

TEST_F(RunCmd2Nested, CallsAreStillServedAfterTheChildEndedWhileAGrandchildHoldsThePipe) {
  bool returned = false;
  bool servedInside = false;
  // The child ends at once; the grandchild keeps the pipe for 1.5 s. The message arrives in
  // between.
  std::thread poster([&] {
    ::Sleep(500);
    window_.Post([&] { servedInside = !returned; });
  });
  EXPECT_TRUE(RunCmd2Gives(
      object_.get(), ChildCommand({L"spawn", L"sleep", L"1500", L"out", L"late"}), L"late\r\n"));
  returned = true;
  poster.join();
  DispatchPending();
  EXPECT_TRUE(servedInside);
}

TEST_F(RunCmd2Nested, QuitMessageSeenDuringTheWaitIsPassedOnAfterIt) {
  bool dispatched = false;
  ::PostQuitMessage(7);
  window_.Post([&] { dispatched = true; });
  EXPECT_TRUE(
      RunCmd2Gives(object_.get(), ChildCommand({L"sleep", L"100", L"out", L"x"}), L"x\r\n"));
  EXPECT_TRUE(dispatched);
  MSG msg{};
  ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 7u);
}

}  // namespace
}  // namespace korvane::test
