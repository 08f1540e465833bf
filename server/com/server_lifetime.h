// How long the server process lives: it ends once no client holds an object or a lock.
//
// Every object counts from its construction to its destruction, every IClassFactory::LockServer
// lock from TRUE to FALSE. In any process this only counts; the server's main loop attaches
// itself, and from then on every change to or from zero wakes the loop, which decides when to
// end (host/lifetime_policy.h, which also says why the platform's process count is not used).
#pragma once

#include <windows.h>

namespace korvane::server::com {

void ObjectCreated();
void ObjectDestroyed();

void LockAcquired();
// False, and nothing counted, for an unlock without a lock: an unbalanced client must not end
// the server under other clients' objects.
bool LockReleased();

// Objects plus locks.
long ServerReferences();

// GetTickCount64() when the count last fell to zero; 0 before it ever did.
ULONGLONG LastReleaseTick();

// Wakes `loopThread` (which must have a message queue) with `wakeMessage` whenever the count
// reaches zero or leaves it. Attach before the class object is registered, detach after it is
// revoked.
void AttachServerLoop(DWORD loopThread, UINT wakeMessage);
void DetachServerLoop();

// Once the loop has decided to end: the class factory answers CO_E_SERVER_STOPPING from then
// on (activation tries another server), so no object is handed out and disconnected moments
// later.
void BeginStopping();
bool IsStopping();

}  // namespace korvane::server::com
