// CTKFixedAlloc: blocks of one size carved from chunks, reused LIFO.
//
// The scratch pools put a per-thread cache in front of the shared list (see
// scratch_pools.cpp); every other allocator goes straight to its list.
#include <cstdlib>
#include <new>

#include "memory/scratch_pools.h"
#include "platform/lock.h"
#include "tavikfcu/TKCore.h"

using tk::platform::CriticalSectionGuard;

namespace {

// A chunk starts with the link to the previously obtained chunk.
struct ChunkHeader {
    ChunkHeader* previous;
};
static_assert(sizeof(ChunkHeader) == 8, "a chunk's link word is 8 bytes");

inline void*& NextOf(void* block) {
    return *static_cast<void**>(block);
}

}  // namespace

CTKFixedAlloc::CTKFixedAlloc(unsigned int blockSize, unsigned int blocksPerChunk)
    : m_blockSize(blockSize < sizeof(void*) ? sizeof(void*) : blockSize),
      m_blocksPerChunk(blocksPerChunk ? blocksPerChunk : 1),
      m_chunks(nullptr),
      m_freeList(nullptr) {}

CTKFixedAlloc::~CTKFixedAlloc() {
    FreeAll();
}

void* CTKFixedAlloc::TakeBatch(unsigned int count) {
    CriticalSectionGuard guard(m_lock);
    if (!m_freeList) {
        // The chunk size is a 32-bit product, as the layout defines it.
        std::uint32_t blockBytes = m_blocksPerChunk * m_blockSize;
        auto* chunk = static_cast<ChunkHeader*>(std::malloc(blockBytes + sizeof(ChunkHeader)));
        if (!chunk) throw std::bad_alloc();
        chunk->previous = static_cast<ChunkHeader*>(m_chunks);
        m_chunks = chunk;
        // Push from the last block down so the list ascends from the first.
        char* first = reinterpret_cast<char*>(chunk + 1);
        for (std::uint32_t i = m_blocksPerChunk; i-- > 0;) {
            void* block = first + static_cast<std::size_t>(i) * m_blockSize;
            NextOf(block) = m_freeList;
            m_freeList = block;
        }
    }
    void* head = m_freeList;
    void* last = head;
    for (unsigned int taken = 1; taken < count && NextOf(last); ++taken) last = NextOf(last);
    m_freeList = NextOf(last);
    NextOf(last) = nullptr;
    return head;
}

void CTKFixedAlloc::GiveBatch(void* first, void* last) {
    CriticalSectionGuard guard(m_lock);
    NextOf(last) = m_freeList;
    m_freeList = first;
}

void* CTKFixedAlloc::Alloc() {
    int pool = tk::detail::ScratchPoolIndex(this);
    if (pool >= 0) return tk::detail::CachedAlloc(pool);
    return TakeBatch(1);
}

void CTKFixedAlloc::Free(void* p) {
    if (!p) return;
    int pool = tk::detail::ScratchPoolIndex(this);
    if (pool >= 0) return tk::detail::CachedFree(pool, p);
    GiveBatch(p, p);
}

void CTKFixedAlloc::FreeAll() {
    int pool = tk::detail::ScratchPoolIndex(this);
    if (pool >= 0) tk::detail::InvalidateCaches(pool);
    CriticalSectionGuard guard(m_lock);
    auto* chunk = static_cast<ChunkHeader*>(m_chunks);
    while (chunk) {
        ChunkHeader* previous = chunk->previous;
        std::free(chunk);
        chunk = previous;
    }
    m_chunks = nullptr;
    m_freeList = nullptr;
}

// Gives the scratch pools' caches access to the batch operations.
struct CTKFixedAllocBatches {
    static void* Take(CTKFixedAlloc& a, unsigned int n) { return a.TakeBatch(n); }
    static void Give(CTKFixedAlloc& a, void* first, void* last) { a.GiveBatch(first, last); }
};

namespace tk::detail {
void* TakeBatch(CTKFixedAlloc& a, unsigned int n) {
    return CTKFixedAllocBatches::Take(a, n);
}
void GiveBatch(CTKFixedAlloc& a, void* first, void* last) {
    CTKFixedAllocBatches::Give(a, first, last);
}
}  // namespace tk::detail
