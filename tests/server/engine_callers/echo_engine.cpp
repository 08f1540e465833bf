// Stands in for the engine executable: prints the command line it was started with, so a test
// sees exactly what the server handed over.
//   --silent          print nothing
//   --record <file>   also write the command line into <file>, for callers that capture nothing
//   --wait-for <file> create <file>.started, then wait (at most 30 s) until <file> exists and
//                     print "seen" or "timeout"
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--silent") == 0) return 0;
    if (std::strcmp(argv[i], "--record") == 0 && i + 1 < argc) {
      if (FILE* f = std::fopen(argv[i + 1], "wb")) {
        std::fputs(::GetCommandLineA(), f);
        std::fclose(f);
      }
    }
    if (std::strcmp(argv[i], "--wait-for") == 0 && i + 1 < argc) {
      std::string started = std::string(argv[i + 1]) + ".started";
      if (FILE* f = std::fopen(started.c_str(), "w")) std::fclose(f);
      for (int waited = 0; waited < 30000; waited += 50) {
        if (::GetFileAttributesA(argv[i + 1]) != INVALID_FILE_ATTRIBUTES) {
          std::fputs("seen", stdout);
          return 0;
        }
        ::Sleep(50);
      }
      std::fputs("timeout", stdout);
      return 1;
    }
  }
  std::fputs(::GetCommandLineA(), stdout);
  return 0;
}
