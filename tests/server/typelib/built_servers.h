// The two built server executables whose embedded resources the tests read, and the checked-in
// text dumps of those resources that they are compared with.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

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

// scripts/build.sh builds the i686 tree beside this one; a tree built alone has none to read.
#define SKIP_UNLESS_BUILT(server) \
  if (!FileExists((server).exe))  \
  GTEST_SKIP() << "the " << (server).build << " server is not built: " << Narrow((server).exe)

inline void PrintTo(const BuiltServer& server, std::ostream* out) { *out << server.build; }

// A dump is a text made of one built server's resource. The checked-in file holds what both
// bitnesses show alike once, and a line that differs as a pair marked "[win32] " and "[win64] ".
// To regenerate it after an intended change, run the x86_64 test with the i686 tree built beside
// it and KORVANE_UPDATE_DUMPS=1 in the environment: the test then writes the file instead of
// comparing (review the change with git diff).
using DumpOf = std::string (*)(const BuiltServer&);

inline std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The file's text as one bitness shows it: its own marked lines unmarked, the other's left out.
inline std::string DumpForBitness(const std::string& file, const BuiltServer& server) {
  const char* mark = server.syskind == SYS_WIN64 ? "[win64] " : "[win32] ";
  std::string out;
  for (const std::string& line : LinesOf(file)) {
    if (line.rfind("[win", 0) != 0)
      out += line + "\n";
    else if (line.rfind(mark, 0) == 0)
      out += line.substr(8) + "\n";
  }
  return out;
}

inline void CheckDump(const char* fileName, DumpOf dump) {
  const std::wstring path = WindowsPathOf(std::string(KORVANE_DUMP_DIR "/") + fileName);
  const BuiltServer i686 = I686Server();
  const bool haveI686 = FileExists(i686.exe);
  if (const char* update = std::getenv("KORVANE_UPDATE_DUMPS"); update && *update == '1') {
    ASSERT_TRUE(sizeof(void*) == 8 && haveI686)
        << "both bitnesses go into " << fileName << ": regenerate it from the x86_64 tree with "
        << "the i686 tree built beside it";
    std::vector<std::string> win32 = LinesOf(dump(i686)), win64 = LinesOf(dump(X64Server()));
    ASSERT_EQ(win32.size(), win64.size()) << "the bitnesses' dumps do not pair line by line";
    std::string merged;
    for (size_t i = 0; i < win32.size(); ++i)
      merged += win32[i] == win64[i] ? win32[i] + "\n"
                                     : "[win32] " + win32[i] + "\n[win64] " + win64[i] + "\n";
    WriteFileBytes(path, merged);
    std::printf("wrote %s\n", Narrow(path).c_str());
    return;
  }
  const std::string file = ReadFileBytes(path);
  ASSERT_FALSE(file.empty()) << "missing or empty: " << Narrow(path);
  std::vector<BuiltServer> servers;
  if (sizeof(void*) == 8) servers.push_back(X64Server());
  if (haveI686) servers.push_back(i686);
  for (const BuiltServer& server : servers) {
    EXPECT_EQ(dump(server), DumpForBitness(file, server))
        << "the " << server.build << " server differs from " << fileName
        << " (if intended, regenerate it: KORVANE_UPDATE_DUMPS=1, see built_servers.h)";
  }
  if (!haveI686)
    GTEST_SKIP() << "the x86_64 dump was compared; the i686 server is not built, so its dump was "
                    "not: "
                 << Narrow(i686.exe);
}

}  // namespace korvane::test
