// How long the server process lives: it ends on its own once no client holds an object or a
// lock, but not while a client may still be on its way to it; and clients that start together,
// with no server running, all get served.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "common/win/unique_handle.h"
#include "server/host/server_loop.h"
#include "testing/support/main_thread.h"
#include "testing/support/server_install.h"

namespace korvane::test {
namespace {

using win::UniqueHandle;

const server::host::ServerTimings kTimings;
// From the moment nothing is held until the process has ended, with room for a loaded machine.
const DWORD kEndDeadlineMs = kTimings.idleLingerMs + kTimings.quietMs + 10000;

UniqueHandle TheOneServer() {
  std::vector<DWORD> ids = ServerProcessIds();
  EXPECT_EQ(ids.size(), 1u);
  if (ids.size() != 1) return {};
  return UniqueHandle(
      ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ids.front()));
}

DWORD ExitCodeOf(HANDLE process) {
  DWORD code = STILL_ACTIVE;
  ::GetExitCodeProcess(process, &code);
  return code;
}

bool NoServerWithin(DWORD timeoutMs) {
  const ULONGLONG start = ::GetTickCount64();
  while (!ServerProcessIds().empty()) {
    if (::GetTickCount64() - start > timeoutMs) return false;
    ::Sleep(50);
  }
  return true;
}

class Lifetime : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(install_.Register()); }
  ServerInstall install_{L"lifetime copy"};
};

// The lifetime policy's decisions (lifetime_policy_test) wired to real COM: the class object
// stays registered while the server lingers, and the server ends by itself once nothing is held.
TEST_F(Lifetime, ClientArrivingWhileTheServerLingersKeepsItThenItEnds) {
  win::ComPtr<_QuandrelCom> object = install_.Create();
  ASSERT_TRUE(object);
  UniqueHandle server = TheOneServer();
  ASSERT_TRUE(server.valid());
  object.reset();
  ::Sleep(kTimings.idleLingerMs / 3);

  object = install_.Create();
  ASSERT_TRUE(object);
  EXPECT_EQ(ServerProcessIds().size(), 1u);  // served by the lingering server, not a new one
  // Held past the linger: the server stays and answers.
  EXPECT_EQ(::WaitForSingleObject(server.get(), kTimings.idleLingerMs + kTimings.quietMs + 1000),
            WAIT_TIMEOUT);
  EXPECT_EQ(object->EnableDebugLog(VARIANT_TRUE), S_OK);

  object.reset();
  ASSERT_EQ(::WaitForSingleObject(server.get(), kEndDeadlineMs), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCodeOf(server.get()), 0u);
}

// How installers, tests and scripts ask a server to go: WM_QUIT to the process's first thread,
// which is not the one that serves. It ends cleanly even while a client holds an object.
TEST_F(Lifetime, QuitPostedToTheFirstThreadEndsTheServer) {
  win::ComPtr<_QuandrelCom> object = install_.Create();
  ASSERT_TRUE(object);
  UniqueHandle server = TheOneServer();
  ASSERT_TRUE(server.valid());
  ASSERT_TRUE(::PostThreadMessageW(win::MainThreadOf(::GetProcessId(server.get())), WM_QUIT, 0, 0));
  ASSERT_EQ(::WaitForSingleObject(server.get(), kEndDeadlineMs), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCodeOf(server.get()), 0u);
}

// Clients started together, none finding a server running: under Wine each may start a server
// of its own, and every one of them must be served all the same.
class ClientGroup {
 public:
  ClientGroup(int count, const std::wstring& logFolder, int round) {
    const std::wstring tag =
        std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(round);
    const std::wstring ready = L"Local\\KorvaneClientsReady-" + tag,
                       go = L"Local\\KorvaneClientsGo-" + tag;
    ready_.reset(::CreateSemaphoreW(nullptr, 0, count, ready.c_str()));
    go_.reset(::CreateEventW(nullptr, TRUE, FALSE, go.c_str()));
    // Each client holds its object a little longer than the one before, so servers reach zero
    // objects while other clients are still arriving.
    for (int i = 0; i < count; ++i) {
      const std::wstring log = logFolder + L"\\client-" + tag + L"-" + std::to_wstring(i) + L".txt";
      UniqueHandle process =
          StartWithOutputFile(L"\"" + WindowsPathOf(KORVANE_CONCURRENT_CLIENT) + L"\" " + ready +
                                  L" " + go + L" " + std::to_wstring(100 * i),
                              log);
      if (process) clients_.push_back({std::move(process), log});  // started() tells
    }
  }

  // Lets all clients go at once, after each has started and reported ready.
  bool Release(DWORD timeoutMs) {
    for (size_t i = 0; i < clients_.size(); ++i)
      if (::WaitForSingleObject(ready_.get(), timeoutMs) != WAIT_OBJECT_0) return false;
    return ::SetEvent(go_.get()) != FALSE;
  }

  // Exit codes (STILL_ACTIVE for a client that did not end in time) and what each printed.
  std::vector<std::pair<DWORD, std::string>> Finish(DWORD timeoutMs) {
    std::vector<std::pair<DWORD, std::string>> results;
    for (Client& client : clients_) {
      if (::WaitForSingleObject(client.process.get(), timeoutMs) != WAIT_OBJECT_0)
        ::TerminateProcess(client.process.get(), STILL_ACTIVE);
      ::WaitForSingleObject(client.process.get(), 5000);
      results.emplace_back(ExitCodeOf(client.process.get()), ReadFileBytes(client.log));
    }
    return results;
  }

  size_t started() const { return clients_.size(); }

 private:
  struct Client {
    UniqueHandle process;
    std::wstring log;
  };

  UniqueHandle ready_, go_;
  std::vector<Client> clients_;
};

TEST_F(Lifetime, ClientsStartingTogetherWithNoServerRunningAreAllServed) {
  constexpr int kClients = 8;
  constexpr int kRounds = 3;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_TRUE(NoServerWithin(kEndDeadlineMs)) << "a server of the last round is still running";

    ClientGroup clients(kClients, install_.folder(), round);
    ASSERT_EQ(clients.started(), static_cast<size_t>(kClients));
    ASSERT_TRUE(clients.Release(30000)) << "the clients did not all start";
    size_t mostServers = 0;
    const ULONGLONG start = ::GetTickCount64();
    while (::GetTickCount64() - start < 2000) {
      mostServers = std::max(mostServers, ServerProcessIds().size());
      ::Sleep(20);
    }
    auto results = clients.Finish(120000);
    for (size_t i = 0; i < results.size(); ++i)
      EXPECT_EQ(results[i].first, 0u)
          << "client " << i << " (0x" << std::hex << results[i].first << "): " << results[i].second;
    std::printf("round %d: up to %zu server processes for %d clients\n", round, mostServers,
                kClients);
    // Every server that was started, also one that no client ended up using, ends by itself.
    EXPECT_TRUE(NoServerWithin(kEndDeadlineMs));
  }
}

}  // namespace
}  // namespace korvane::test
