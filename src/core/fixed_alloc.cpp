// CTKFixedAlloc: blocks of one size carved from chunks, reused LIFO.
#include <cstdlib>
#include <new>

#include "platform/lock.h"
#include "tavikfcu/TKCore.h"

using tk::platform::CriticalSectionGuard;

namespace {

// A chunk starts with the link to the previously obtained chunk.
struct ChunkHeader {
    ChunkHeader* previous;
};
static_assert(sizeof(ChunkHeader) == 8, "a chunk's link word is 8 bytes");

}  // namespace

CTKFixedAlloc::CTKFixedAlloc(unsigned int blockSize, unsigned int blocksPerChunk)
    : m_blockSize(blockSize < sizeof(void*) ? sizeof(void*) : blockSize),
      m_blocksPerChunk(blocksPerChunk ? blocksPerChunk : 1),
      m_chunks(nullptr),
      m_freeList(nullptr) {}

CTKFixedAlloc::~CTKFixedAlloc() { FreeAll(); }

void* CTKFixedAlloc::Alloc() {
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
            *static_cast<void**>(block) = m_freeList;
            m_freeList = block;
        }
    }
    void* block = m_freeList;
    m_freeList = *static_cast<void**>(block);
    return block;
}

void CTKFixedAlloc::Free(void* p) {
    if (!p) return;
    CriticalSectionGuard guard(m_lock);
    *static_cast<void**>(p) = m_freeList;
    m_freeList = p;
}

void CTKFixedAlloc::FreeAll() {
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
