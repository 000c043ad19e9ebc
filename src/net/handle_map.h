// The library-wide map from every open internet handle made through the
// client classes to the session it belongs to, under one lock. The status
// dispatcher uses it to route a notification about any handle to its
// session's OnStatusCallback.
#ifndef TAVIKFCU_NET_HANDLE_MAP_H
#define TAVIKFCU_NET_HANDLE_MAP_H

class CTKInternetSession;

namespace tk::detail {

// Set up and torn down with the library (core/library_lifetime.cpp).
void InitHandleMap();
void TeardownHandleMap();

// Adding a handle that is present replaces its session.
void MapHandle(void* handle, CTKInternetSession* session);
void UnmapHandle(void* handle);
// The session of the handle, or null. The lock is held only for the lookup.
CTKInternetSession* FindHandleSession(void* handle);

}  // namespace tk::detail

#endif  // TAVIKFCU_NET_HANDLE_MAP_H
