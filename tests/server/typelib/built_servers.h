// The two built server executables whose embedded resources the tests read.
#pragma once

#include <windows.h>

#include <ostream>
#include <string>

#include "server_install.h"
#include "test_support.h"

namespace korvane::test {

struct BuiltServer {
  const char* build;  // "x86_64" or "i686"
  std::wstring exe;
  SYSKIND syskind;
  int pointerSize;
};

inline BuiltServer X64Server() { return {"x86_64", BuiltServerExe(), SYS_WIN64, 8}; }
inline BuiltServer I686Server() {
  return {"i686", WindowsPathOf(KORVANE_I686_SERVER_EXE), SYS_WIN32, 4};
}

// The shipping i686 build is built beside this one in every full build: its absence is a failure.
#define ASSERT_BUILT(server)                                                               \
  ASSERT_TRUE(FileExists((server).exe))                                                    \
      << "the " << (server).build << " server is missing: " << Narrow((server).exe)        \
      << " (scripts/build.sh builds both; by hand, configure the i686 toolchain into the " \
         "folder i686 beside this build folder)"

inline void PrintTo(const BuiltServer& server, std::ostream* out) { *out << server.build; }

}  // namespace korvane::test
