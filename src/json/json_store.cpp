// The document store's chunks and fixed string bodies.
#include "json/json_store.h"

#include "memory/heap.h"
#include "platform/large_buffer.h"

namespace tk::detail {

namespace {

// A CTKString body header: count, length, capacity. A fixed body has the
// count of a locked body and the capacity of the empty record.
struct FixedHeader {
    std::int32_t refs;
    std::int32_t length;
    std::int32_t capacity;
};
static_assert(sizeof(FixedHeader) == 12, "a string body header is three 32-bit fields");

// Chunks grow from one page to this many (8 MB), so that a small document
// takes little and a large one few allocations.
constexpr int kLargestChunkPages = 2048;
// Chunks of 4 MB and more take huge pages where the kernel has them.
constexpr int kHugePageChunkPages = 1024;

}  // namespace

DocumentStore* DocumentStore::Create() {
    return new DocumentStore;
}

void DocumentStore::NextPage() {
    if (m_pagesLeft > 0) {
        --m_pagesLeft;
        m_cursor = m_limit;  // the page right behind the full one
    } else {
        int pages = m_pagesMade / 2;
        if (pages < 1) pages = 1;
        if (pages > kLargestChunkPages) pages = kLargestChunkPages;
        m_pagesMade += pages;
        PageHeader* first =
            static_cast<PageHeader*>(HeapAllocAligned(kPageBytes, pages * kPageBytes));
        // A large document is written once through and read in text order:
        // huge pages spare it most page faults and TLB misses.
        if (pages >= kHugePageChunkPages) platform::AdviseHugePages(first, pages * kPageBytes);
        m_cursor = reinterpret_cast<char*>(first);
        first->nextChunk = m_chunks;
        m_chunks = first;
        m_pagesLeft = pages - 1;
    }
    reinterpret_cast<PageHeader*>(m_cursor)->store = this;
    m_limit = m_cursor + kPageBytes;
    m_cursor += sizeof(PageHeader);
}

void* DocumentStore::AllocateLarge(std::size_t bytes) {
    const std::size_t pages = (sizeof(PageHeader) + bytes + kPageBytes - 1) / kPageBytes;
    PageHeader* first = static_cast<PageHeader*>(HeapAllocAligned(kPageBytes, pages * kPageBytes));
    first->store = this;
    // Behind the newest chunk, so the page being carved stays the current one.
    if (m_chunks) {
        first->nextChunk = m_chunks->nextChunk;
        m_chunks->nextChunk = first;
    } else {
        first->nextChunk = nullptr;
        m_chunks = first;
    }
    return first + 1;
}

void DocumentStore::Destroy() {
    for (PageHeader* chunk = m_chunks; chunk;) {
        PageHeader* next = chunk->nextChunk;
        HeapFreeAligned(chunk);
        chunk = next;
    }
    delete this;
}

TKWCHAR* DocumentStore::NewFixedText(int n) {
    auto* header = static_cast<FixedHeader*>(
        Allocate(sizeof(FixedHeader) + (static_cast<std::size_t>(n) + 1) * sizeof(TKWCHAR)));
    header->refs = -1;
    header->length = n;
    header->capacity = 0;
    auto* chars = reinterpret_cast<TKWCHAR*>(header + 1);
    chars[n] = 0;
    return chars;
}

void DocumentStore::SetFixedLength(TKWCHAR* chars, int n) {
    reinterpret_cast<FixedHeader*>(chars)[-1].length = n;
    chars[n] = 0;
}

}  // namespace tk::detail
