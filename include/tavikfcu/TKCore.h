// TKCore.h — memory pools, the object root, error handles and crash reports.
//
// The fixed-block allocator CTKFixedAlloc hands out blocks of one size, carved
// 64 at a time from chunks, and reuses freed blocks last-in first-out. Four
// static allocators, the scratch pools, back every string body of up to 512
// characters and every short-lived code-page conversion in the library:
//
//     CTKFixedAlloc* pool = _TempDataStr64();   // 144-byte blocks
//     void* block = pool->Alloc();
//     ...
//     pool->Free(block);
//
// Threads: every allocator guards its lists with its own lock, so any thread
// may Alloc and Free on any allocator. The four scratch pools also keep a
// small per-thread cache of free blocks in front of their shared list, so
// the common Alloc/Free pair takes no lock; a block freed on one thread is
// still reused first by that thread. Blocks live until FreeAll or the
// allocator's destruction (the scratch pools: until the library unloads).
//
// Memory that the library hands out as a plain pointer (texts, byte buffers,
// JSON text) is released with tkFreeMem.
#ifndef TAVIKFCU_TKCORE_H
#define TAVIKFCU_TKCORE_H

#include <atomic>
#include <cstdint>

#include "TKTypes.h"

// ---- fixed-block allocator ---------------------------------------------------

// The word behind the allocator's critical section: 0 free, 1 held, 2 held
// with waiters. Only the library's platform layer touches it.
struct TKLockWord {
    std::atomic<std::uint32_t> state{0};
};

// Hands out blocks of GetAllocSize() bytes. A chunk is one heap allocation of
// a link word followed by blocksPerChunk blocks; the free list threads through
// free blocks in their first word, new chunks in ascending address order.
//
// Copying: an allocator owns its chunks and its lock, so it is neither
// copyable nor movable.
class TK_API CTKFixedAlloc {
  public:
    // Sets the block size (raised to at least a pointer) and blocks per chunk;
    // obtains no memory.
    CTKFixedAlloc(unsigned int blockSize, unsigned int blocksPerChunk);
    // Returns every chunk to the heap.
    ~CTKFixedAlloc();

    CTKFixedAlloc(const CTKFixedAlloc&) = delete;
    CTKFixedAlloc& operator=(const CTKFixedAlloc&) = delete;

    // One block; its contents are undefined. Throws std::bad_alloc when the
    // heap cannot supply a new chunk (the lists then stay as they were).
    void* Alloc();
    // Gives a block back (null is ignored). The block is not checked.
    void Free(void* p);
    // Returns every chunk to the heap; every block handed out becomes invalid.
    void FreeAll();
    unsigned int GetAllocSize() const { return m_blockSize; }

  private:
    friend struct CTKFixedAllocBatches;
    // Detaches up to count blocks (obtaining a chunk when the list is empty)
    // as a null-terminated chain in list order.
    void* TakeBatch(unsigned int count);
    // Puts a chain of blocks, first to last, back at the head of the list.
    void GiveBatch(void* first, void* last);

    std::uint32_t m_blockSize;
    std::uint32_t m_blocksPerChunk;
    void* m_chunks;
    void* m_freeList;
    TKLockWord m_lock;
};

// The scratch pools. Names that share a block size return the same object:
// 144 bytes (_TempData64B, _TempData128B, _TempDataStr64), 272 bytes
// (_TempData256B, _TempDataStr128), 528 bytes (_TempData512B, _TempDataStr256)
// and 1040 bytes (_TempData1024B, _TempDataStr512).
TK_API CTKFixedAlloc* _TempData64B();
TK_API CTKFixedAlloc* _TempData128B();
TK_API CTKFixedAlloc* _TempData256B();
TK_API CTKFixedAlloc* _TempData512B();
TK_API CTKFixedAlloc* _TempData1024B();
TK_API CTKFixedAlloc* _TempDataStr64();
TK_API CTKFixedAlloc* _TempDataStr128();
TK_API CTKFixedAlloc* _TempDataStr256();
TK_API CTKFixedAlloc* _TempDataStr512();

// ---- memory handed out by the library ---------------------------------------

extern "C" {
// Frees a text or buffer that the library handed out; null is ignored.
TK_API void tkFreeMem(void* p);
}

#endif  // TAVIKFCU_TKCORE_H
