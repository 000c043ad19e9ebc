// Free blocks chained through their first word: the shape of every free list
// in the memory floor (the allocators' shared lists and the per-thread caches).
#pragma once

namespace tk::detail::block_chain {

inline void*& NextOf(void* block) {
    return *static_cast<void**>(block);
}

inline void* LastOf(void* head) {
    while (NextOf(head)) head = NextOf(head);
    return head;
}

// Keeps the first `keep` blocks of a chain of more than `keep` and cuts off the
// rest, which it returns: a cache that overflows keeps its most recently freed
// (cache-warm) blocks and hands the older ones back.
inline void* DetachAfter(void* head, unsigned int keep) {
    void* keepLast = head;
    for (unsigned int i = 1; i < keep; ++i) keepLast = NextOf(keepLast);
    void* rest = NextOf(keepLast);
    NextOf(keepLast) = nullptr;
    return rest;
}

}  // namespace tk::detail::block_chain
