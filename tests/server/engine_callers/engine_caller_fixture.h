// What the engine-caller tests share: a registered copy of the server, an object in it, and
// built files put beside it.
#pragma once

#include <gtest/gtest.h>

#include <string_view>

#include "testing/support/server_install.h"

namespace korvane::test {

class EngineCallerTest : public ServerObjectTest {
 protected:
  explicit EngineCallerTest(std::wstring_view folder = L"server") : ServerObjectTest(folder) {}
  // A built file copied beside the server under `name`.
  void Put(const char* builtFile, const wchar_t* name) {
    CopyFileOrFail(WindowsPathOf(builtFile), server_.file(name));
  }
};

}  // namespace korvane::test
