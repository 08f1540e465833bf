// RunCmd2 in the test process: what comes back of the child's output (what both runners share is
// in run_cmd_test.cpp).
#include <gtest/gtest.h>

#include "tests/server/runners/inproc_fixture.h"

namespace korvane::test {
namespace {

struct Capture {
  const char* what;
  std::vector<std::wstring> steps;
  std::wstring text;      // what comes back; or
  uint64_t patternBytes;  // the child's "bytes" pattern of this length
};

// clang-format off
const Capture kCaptures[] = {
    {"stdout and stderr interleaved in write order", {L"out", L"o1", L"err", L"e1", L"out", L"o2", L"err", L"e2"}, L"o1\r\ne1\r\no2\r\ne2\r\n", 0},
    {"a silent child: the empty text, not the failure text", {L"exit", L"0"}, L"", 0},
    {"the exit code has no influence", {L"out", L"x", L"exit", L"3221225477"}, L"x\r\n", 0},
    {"several reads, whole and in order", {L"bytes", L"10000"}, L"", 10000},
    {"one pipe buffer", {L"bytes", L"65536"}, L"", 65536},
    {"one byte past it", {L"bytes", L"65537"}, L"", 65537},
    {"an odd length", {L"bytes", L"123457"}, L"", 123457},
    {"64 MiB byte exact", {L"bytes", std::to_wstring(64ull << 20)}, L"", 64ull << 20},
    {"ANSI beyond ASCII (cp1252 E9, 80, FC) as the same characters", {L"hex", L"41E980FC42"}, L"A\u00E9\u20AC\u00FCB", 0},
    {"a grandchild holding the pipe keeps the capture open", {L"out", L"child", L"spawn", L"sleep", L"1500", L"out", L"grandchild"}, L"child\r\ngrandchild\r\n", 0},
};
// clang-format on

class RunCmd2Capture : public InProcessRunner {};

TEST_F(RunCmd2Capture, OutputComesBackWholeAndExact) {
  for (const Capture& c : kCaptures) {
    SCOPED_TRACE(c.what);
    auto run = CallRunCmd2(object_.get(), ChildCommand(c.steps));
    ASSERT_EQ(run.hr, S_OK);
    EXPECT_FALSE(run.resultIsNull);
    if (c.patternBytes)
      EXPECT_TRUE(SameLongText(run.text, PatternText(c.patternBytes)));
    else
      EXPECT_EQ(run.text, c.text);
  }
}

}  // namespace
}  // namespace korvane::test
