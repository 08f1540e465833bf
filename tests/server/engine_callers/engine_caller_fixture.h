// What the engine-caller tests share: a registered copy of the server, an object in it, and
// built files put beside it.
#pragma once

#include <gtest/gtest.h>

#include <string_view>

#include "testing/support/server_install.h"

namespace korvane::test {

class EngineCallerTest : public ::testing::Test {
 protected:
  explicit EngineCallerTest(std::wstring_view folder = L"server") : server_(folder) {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(server_.Register());
    object_ = server_.Create();
    ASSERT_TRUE(object_);
  }
  // A built file copied beside the server under `name`.
  void Put(const char* builtFile, const wchar_t* name) {
    CopyFileOrFail(WindowsPathOf(builtFile), server_.file(name));
  }

  ServerInstall server_;
  win::ComPtr<_QuandrelCom> object_;
};

}  // namespace korvane::test
