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

// Takes the first block of a per-thread cache slot (a chain and its length),
// first filling an empty slot with the chain refill() hands over.
template <typename Slot, typename Refill>
inline void* PopRefilling(Slot& slot, Refill refill) {
    if (!slot.head) {
        slot.head = refill();
        slot.count = 0;
        for (void* b = slot.head; b; b = NextOf(b)) ++slot.count;
    }
    void* block = slot.head;
    slot.head = NextOf(block);
    --slot.count;
    return block;
}

}  // namespace tk::detail::block_chain
