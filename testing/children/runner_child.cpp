// A child for the command-runner tests. Its arguments are a script of steps run in order:
//   report <file>         write what it received into a file: command line, start-up flags and
//                         show-window code, standard input, and how many pipe handles it holds
//                         besides its standard ones (inherited from its parent)
//   out <text> / err <text>  the text and CR LF on standard output / error, unbuffered
//   hex <hex digits>      raw bytes on standard output
//   bytes <n>             n bytes of the output pattern on standard output
//   sleep <ms>            stay silent for a while
//   pidfile <file>        write the process id into a file
//   wait-event <name>     wait (at most 10 minutes, the suite's bound) until a named event is set
//   spawn <steps...>      start a grandchild running the remaining steps, inheriting every
//                         handle (the pipe too), and do not wait for it
//   exit <code>           end with that exit code
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/win/unique_handle.h"
#include "testing/children/output_pattern.h"

namespace {

using korvane::win::UniqueHandle;

void WriteAll(HANDLE to, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD wrote = 0;
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
    if (!::WriteFile(to, bytes.data() + done, chunk, &wrote, nullptr)) std::exit(90);
    done += wrote;
  }
}

void WriteFileText(const std::string& path, const std::string& text) {
  UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) std::exit(91);
  WriteAll(file.get(), text);
}

std::string ProbeReport() {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  ::GetStartupInfoA(&startup);
  std::string report = "cmdline=" + std::string(::GetCommandLineA()) + "\r\n";
  report += "flags=" + std::to_string(startup.dwFlags) + "\r\n";
  report += "show=" + std::to_string(startup.wShowWindow) + "\r\n";
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) {
    report += "stdin=none\r\n";
  } else {
    char byte = 0;
    DWORD got = 0;
    BOOL read = ::ReadFile(input, &byte, 1, &got, nullptr);
    report += read && got > 0 ? "stdin=data\r\n" : "stdin=empty\r\n";
  }
  // Inherited handles keep their values: every value a parent could have handed down is tried.
  int pipes = 0;
  for (uintptr_t value = 4; value < 0x10000; value += 4) {
    HANDLE handle = reinterpret_cast<HANDLE>(value);
    if (handle != ::GetStdHandle(STD_OUTPUT_HANDLE) && handle != ::GetStdHandle(STD_ERROR_HANDLE) &&
        handle != input && ::GetFileType(handle) == FILE_TYPE_PIPE)
      ++pipes;
  }
  report += "pipes=" + std::to_string(pipes) + "\r\n";
  return report;
}

std::string FromHex(const std::string& digits) {
  std::string bytes;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return bytes;
}

void Spawn(const std::vector<std::string>& steps) {
  char self[MAX_PATH];
  ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string line = "\"" + std::string(self) + "\"";
  for (const auto& step : steps) line += " \"" + step + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &info))
    std::exit(92);
  UniqueHandle process(info.hProcess), thread(info.hThread);
}

}  // namespace

int main(int argc, char** argv) {
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  for (int i = 1; i < argc; ++i) {
    std::string step = argv[i];
    std::string arg = i + 1 < argc ? argv[i + 1] : "";
    if (step == "spawn") {
      Spawn(std::vector<std::string>(argv + i + 1, argv + argc));
      return 0;
    }
    ++i;
    if (step == "report") {
      WriteFileText(arg, ProbeReport());
    } else if (step == "out") {
      WriteAll(out, arg + "\r\n");
    } else if (step == "err") {
      WriteAll(err, arg + "\r\n");
    } else if (step == "hex") {
      WriteAll(out, FromHex(arg));
    } else if (step == "bytes") {
      uint64_t total = std::strtoull(arg.c_str(), nullptr, 10);
      for (uint64_t at = 0; at < total;) {
        uint64_t chunk = std::min<uint64_t>(total - at, 1 << 20);
        WriteAll(out, korvane::test::PatternBytes(at, chunk));
        at += chunk;
      }
    } else if (step == "sleep") {
      ::Sleep(std::strtoul(arg.c_str(), nullptr, 10));
    } else if (step == "pidfile") {
      WriteFileText(arg, std::to_string(::GetCurrentProcessId()));
    } else if (step == "wait-event") {
      UniqueHandle event(::OpenEventA(SYNCHRONIZE, FALSE, arg.c_str()));
      if (!event) return 93;
      if (::WaitForSingleObject(event.get(), 600000) != WAIT_OBJECT_0) return 94;
    } else if (step == "exit") {
      return static_cast<int>(std::strtoul(arg.c_str(), nullptr, 10));
    } else {
      std::fprintf(stderr, "unknown step %s\n", step.c_str());
      return 95;
    }
  }
  return 0;
}
