// Several client processes at once, each making many mixed calls on its own object: every
// result right, the server alive afterwards, every line of the debug log whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server_install.h"
#include "test_support.h"
#include "win/unique_handle.h"

namespace korvane::test {
namespace {

using win::UniqueHandle;

constexpr int kClients = 8;
constexpr int kCalls = 200;

bool IsWholeLogLine(const std::string& line) {
  static const char* const kMessages[] = {"[RunCmd2] strCmd = ", "[RunCmd2] strReturn=",
                                          "[RunCmd2] Pos=20001, ErrorCode=", "[RunCmd] strCmd = "};
  const std::string prefix = "KorvaneCom: Run Time: ";
  if (line.compare(0, prefix.size(), prefix) != 0) return false;
  size_t separator = line.find("; ", prefix.size());
  if (separator == std::string::npos) return false;
  const std::string message = line.substr(separator + 2);
  for (const char* known : kMessages)
    if (message.rfind(known, 0) == 0) return message.find("KorvaneCom:") == std::string::npos;
  return false;
}

TEST(Stress, ClientsAtOnceGetEveryResultRightAndTheLogStaysWhole) {
  ServerInstall server(L"stress server");
  server.Register();
  CopyFileOrFail(WindowsPathOf(KORVANE_ENGINE_SDK), server.file(L"quandrelsdk.dll"));
  TempDir work(L"stress");
  WriteFileBytes(work / L"in.txt", "one\r\ntwo\r\n");

  struct Client {
    UniqueHandle process;
    std::wstring output;
  };
  std::vector<Client> clients;
  for (int i = 0; i < kClients; ++i) {
    const std::wstring output = work / (L"client-" + std::to_wstring(i) + L".txt");
    std::wstring commandLine = L"\"" + WindowsPathOf(KORVANE_STRESS_CLIENT) + L"\" \"" +
                               WindowsPathOf(KORVANE_RUNNER_CHILD) + L"\" \"" + work.path() +
                               L"\" " + std::to_wstring(i) + L" " + std::to_wstring(kCalls);
    UniqueHandle process = StartWithOutputFile(commandLine, output);
    ASSERT_TRUE(process);
    clients.push_back({std::move(process), output});
  }
  for (size_t i = 0; i < clients.size(); ++i) {
    // A bound, not a speed goal: a server that stops serving must not hang the suite.
    const bool ended = ::WaitForSingleObject(clients[i].process.get(), 600000) == WAIT_OBJECT_0;
    if (!ended) ::TerminateProcess(clients[i].process.get(), 2000);
    ::WaitForSingleObject(clients[i].process.get(), 10000);
    DWORD code = 0;
    ::GetExitCodeProcess(clients[i].process.get(), &code);
    EXPECT_TRUE(ended) << "client " << i << " did not finish";
    EXPECT_EQ(code, 0u) << "client " << i << ": " << ReadFileBytes(clients[i].output);
  }

  // Still serving.
  win::ComPtr<_QuandrelCom> object = server.Create();
  ASSERT_TRUE(object);
  VARIANT_BOOL value = 7;
  EXPECT_EQ(object->get_g_isDebug(&value), S_OK);
  EXPECT_EQ(value, VARIANT_FALSE);

  const std::string log = server.ReadLog();
  size_t lines = 0;
  for (size_t at = 0; at < log.size();) {
    size_t end = log.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "the log ends inside a line";
    const std::string line = log.substr(at, end - at);
    EXPECT_TRUE(IsWholeLogLine(line)) << "line " << lines << ": " << line;
    // A start that failed for another reason than the missing program says why.
    const size_t code = line.find("Pos=20001, ErrorCode=");
    if (code != std::string::npos) {
      const std::string error = line.substr(code + 21);
      if (error != "2" && error != "3") ADD_FAILURE() << "a child could not be started: " << line;
    }
    ++lines;
    at = end + 2;
  }
  EXPECT_GT(lines, static_cast<size_t>(kClients));  // the switch was on for part of the calls
}

}  // namespace
}  // namespace korvane::test
