#include "net/handle_map.h"

#include <new>

#include "net/pointer_table.h"
#include "platform/lock.h"

namespace tk::detail {

namespace {

using HandleMap = PointerTable<CTKInternetSession*>;

// Built in place at load and destroyed at unload, so that its lifetime is
// the library's and not that of static construction order.
alignas(HandleMap) unsigned char g_mapStorage[sizeof(HandleMap)];
HandleMap* g_map = nullptr;
TKLockWord g_mapLock;

}  // namespace

void InitHandleMap() {
    g_map = new (g_mapStorage) HandleMap();
}

void TeardownHandleMap() {
    if (!g_map) return;
    g_map->~HandleMap();
    g_map = nullptr;
}

void MapHandle(void* handle, CTKInternetSession* session) {
    platform::CriticalSectionGuard guard(g_mapLock);
    if (g_map) g_map->Set(handle, session);
}

void UnmapHandle(void* handle) {
    platform::CriticalSectionGuard guard(g_mapLock);
    if (g_map) g_map->Remove(handle);
}

CTKInternetSession* FindHandleSession(void* handle) {
    platform::CriticalSectionGuard guard(g_mapLock);
    if (!g_map) return nullptr;
    CTKInternetSession* const* session = g_map->Get(handle);
    return session ? *session : nullptr;
}

}  // namespace tk::detail
