// What the library's collections share: pointers stored as 64-bit items, and
// the copy step of their copy constructors.
#ifndef TAVIKFCU_COLLECTION_COLLECTION_ITEMS_H
#define TAVIKFCU_COLLECTION_COLLECTION_ITEMS_H

#include <cstdint>

#include "tavikfcu/TKCollection.h"

namespace tk::detail {

static_assert(sizeof(std::uintptr_t) <= sizeof(std::uint64_t), "a pointer fits in an item");

// The pointer an item holds (0 is null).
template <class T>
T* ItemAsPointer(std::uint64_t item) {
    return reinterpret_cast<T*>(static_cast<std::uintptr_t>(item));
}

// The item that holds p (null is 0).
inline std::uint64_t PointerAsItem(const void* p) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p));
}

// Appends src's clones to self, a collection under construction. If a clone
// fails half-way, self's own removal hook undoes the clones already made
// (the base constructor cannot reach that hook, and the destructor of an
// object whose constructor throws never runs), then the failure goes on.
inline void AppendOrUndo(CTKCollection& self, const CTKCollection& src) {
    try {
        self.Append(src);
    } catch (...) {
        self.RemoveAll();
        throw;
    }
}

}  // namespace tk::detail

#endif  // TAVIKFCU_COLLECTION_COLLECTION_ITEMS_H
