// The class hosted in the test process: calls go straight through its vtable on this thread,
// and its debug log is the one beside the test program. A temporary folder for the children.
#pragma once

#include <gtest/gtest.h>

#include "common/win/com_ptr.h"
#include "common/win/module_path.h"
#include "common/win/scoped_com_init.h"
#include "server/com/quandrel_com.h"
#include "server/methods/log_line.h"
#include "testing/support/test_support.h"
#include "tests/server/runners/runner_test_support.h"

namespace korvane::test {

class InProcessRunner : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(server::com::QuandrelCom::Create(IID__QuandrelCom, object_.put_void()), S_OK);
  }

  static std::wstring LogPath() {
    return server::methods::LogFilePath(win::RunningExecutableFolder());
  }

  void EnableLog(bool on) {
    ASSERT_EQ(object_->EnableDebugLog(on ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
  }

  win::ScopedComInit com_;  // the log writer is a COM client
  win::ComPtr<_QuandrelCom> object_;
  TempDir temp_{L"runners"};
};

}  // namespace korvane::test
