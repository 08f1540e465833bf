// Memory running short inside a method, made deterministic: this test program replaces the
// global operator new with one that refuses blocks above a limit the test sets. What a method
// has already produced must never be lost to a log line that cannot be composed.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/server/runners/inproc_fixture.h"

namespace {

std::atomic<size_t> g_largestBlock{static_cast<size_t>(-1)};

void* Allocate(size_t size) {
  if (size > g_largestBlock.load()) throw std::bad_alloc();
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }

namespace korvane::test {
namespace {

// Blocks above `bytes` are refused while the object lives.
class LargestBlock {
 public:
  explicit LargestBlock(size_t bytes) { g_largestBlock = bytes; }
  LargestBlock(const LargestBlock&) = delete;
  LargestBlock& operator=(const LargestBlock&) = delete;
  ~LargestBlock() { g_largestBlock = static_cast<size_t>(-1); }
};

class MemoryShort : public InProcessRunner {};

TEST_F(MemoryShort, AClosingLogLineThatCannotBeComposedIsDroppedAndTheOutputReturned) {
  // About 1 MB of output: its capture fits below the limit, the closing line repeating it as
  // UTF-16 (2 MB) does not.
  constexpr uint64_t kSize = 1000000;
  EnableLog(true);
  FileGrowth log(LogPath());
  win::UniqueBstr command{std::wstring_view(ChildCommand({L"bytes", std::to_wstring(kSize)}))};
  win::UniqueBstr output;
  HRESULT hr = E_FAIL;
  {
    LargestBlock limit(1536 * 1024);
    hr = object_->RunCmd2(command.get(), 0, output.put());
  }
  ASSERT_EQ(hr, S_OK);
  EXPECT_TRUE(SameLongText(std::wstring(output.view()), PatternText(kSize)));
  const std::string added = log.Added();
  EXPECT_NE(added.find("[RunCmd2] strCmd = "), std::string::npos) << "the log still works";
  EXPECT_EQ(added.find("[RunCmd2] strReturn="), std::string::npos);
}

// Output that cannot all be held fails the call rather than passing a part (here: none) off as
// the whole, and no error information left from before reaches the client.
TEST_F(MemoryShort, OutputThatCannotBeHeldFailsTheCallWithNoStaleErrorInformation) {
  ASSERT_NO_FATAL_FAILURE(LeaveStaleErrorInfo());
  const std::wstring line = ChildCommand({L"bytes", std::to_wstring(1 << 20)});
  RunnerResult run;
  {
    LargestBlock limit(256 * 1024);
    run = CallRunCmd2(object_.get(), line);
  }
  EXPECT_EQ(run.hr, E_OUTOFMEMORY);
  EXPECT_TRUE(run.noResult);
  EXPECT_EQ(TakeErrorDescription(), std::nullopt);
}

}  // namespace
}  // namespace korvane::test
