#include "server/com/server_lifetime.h"

#include <objbase.h>

#include <atomic>

namespace korvane::server::com {

namespace {

std::atomic<long> g_references{0};
std::atomic<long> g_locks{0};
std::atomic<bool> g_attached{false};
std::atomic<DWORD> g_loopThread{0};
std::atomic<UINT> g_wakeMessage{0};
std::atomic<ULONGLONG> g_lastRelease{0};
std::atomic<bool> g_stopping{false};

void Wake() { ::PostThreadMessageW(g_loopThread.load(), g_wakeMessage.load(), 0, 0); }

void AddReference() {
  if (++g_references == 1 && g_attached.load()) Wake();
}

void ReleaseReference() {
  if (--g_references != 0) return;
  g_lastRelease = ::GetTickCount64();
  if (g_attached.load()) Wake();
}

}  // namespace

void ObjectCreated() { AddReference(); }
void ObjectDestroyed() { ReleaseReference(); }

void LockAcquired() {
  ++g_locks;
  AddReference();
}

bool LockReleased() {
  long locks = g_locks.load();
  do {
    if (locks == 0) return false;
  } while (!g_locks.compare_exchange_weak(locks, locks - 1));
  ReleaseReference();
  return true;
}

long ServerReferences() { return g_references.load(); }

ULONGLONG LastReleaseTick() { return g_lastRelease.load(); }

void AttachServerLoop(DWORD loopThread, UINT wakeMessage) {
  g_loopThread = loopThread;
  g_wakeMessage = wakeMessage;
  g_attached = true;
}

void DetachServerLoop() { g_attached = false; }

void BeginStopping() { g_stopping = true; }
bool IsStopping() { return g_stopping.load(); }

}  // namespace korvane::server::com
