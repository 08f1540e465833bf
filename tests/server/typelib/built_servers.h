// The two built server executables whose embedded resources the tests read.
#pragma once

#include <windows.h>

#include <ostream>
#include <string>

#include "testing/support/server_install.h"
#include "testing/support/test_support.h"

namespace korvane::test {

struct BuiltServer {
  const char* build;  // "x86_64" or "i686"
  std::wstring exe;
  SYSKIND syskind;
  int pointerSize;
};

// The x86_64 server is this build's own in the x86_64 run; the i686 run does not read it.
inline BuiltServer X64Server() { return {"x86_64", BuiltServerExe(), SYS_WIN64, 8}; }
inline BuiltServer I686Server() {
  return {"i686", WindowsPathOf(KORVANE_I686_SERVER_EXE), SYS_WIN32, 4};
}

// The 32-bit run checks the shipping files only; the x86_64 run checks both builds' files.
#define SKIP_IF_OTHER_RUNS_IT(server)                                                  \
  if (sizeof(void*) == 4 && (server).pointerSize == 8)                                 \
  GTEST_SKIP() << "the x86_64 build's files are checked by the x86_64 suite; this is " \
                  "the i686 run"

// The shipping i686 build is built beside this one in every full build: its absence is a failure.
#define ASSERT_BUILT(server)                                                               \
  ASSERT_TRUE(FileExists((server).exe))                                                    \
      << "the " << (server).build << " server is missing: " << Narrow((server).exe)        \
      << " (scripts/build.sh builds both; by hand, configure the i686 toolchain into the " \
         "folder i686 beside this build folder)"

inline void PrintTo(const BuiltServer& server, std::ostream* out) { *out << server.build; }

}  // namespace korvane::test
