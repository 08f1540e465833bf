// How long the server process lives: it ends once no client holds an object or a lock.
#pragma once

namespace korvane::server {

// Every object counts from its construction to its destruction.
void ObjectCreated();
void ObjectDestroyed();

}  // namespace korvane::server
