#include "server_lifetime.h"

#include <atomic>

namespace korvane::server {

namespace {
std::atomic<long> g_objects{0};
}

void ObjectCreated() { ++g_objects; }
void ObjectDestroyed() { --g_objects; }

}  // namespace korvane::server
