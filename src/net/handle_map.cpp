#include "net/handle_map.h"

#include <cstdint>
#include <map>
#include <new>

#include "platform/lock.h"

namespace tk::detail {

namespace {

using HandleMap = std::map<std::uintptr_t, CTKInternetSession*>;

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
    if (g_map) (*g_map)[reinterpret_cast<std::uintptr_t>(handle)] = session;
}

void UnmapHandle(void* handle) {
    platform::CriticalSectionGuard guard(g_mapLock);
    if (g_map) g_map->erase(reinterpret_cast<std::uintptr_t>(handle));
}

CTKInternetSession* FindHandleSession(void* handle) {
    platform::CriticalSectionGuard guard(g_mapLock);
    if (!g_map) return nullptr;
    auto it = g_map->find(reinterpret_cast<std::uintptr_t>(handle));
    return it == g_map->end() ? nullptr : it->second;
}

}  // namespace tk::detail
