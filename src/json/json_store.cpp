// The document store's chunks and fixed string bodies.
#include "json/json_store.h"

#include <atomic>
#include <thread>

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
// A new chunk has the pages of all the chunks before it divided by this.
constexpr int kGrowthDivisor = 16;
// Chunks of 4 MB and more take huge pages where the kernel has them.
constexpr int kHugePageChunkPages = 1024;

// Chunks of stores that have gone, kept for the next documents.
//
// A fresh chunk costs the kernel clearing every page of it on first touch,
// which was most of the time of reading a large document; a chunk that a
// store used before is already mapped and cleared by the reader that
// fills it. Stores ask for the same sequence of chunk sizes, so a store
// that goes leaves chunks of exactly the sizes the next one asks for.
//
// The rule that bounds what is kept: after a store goes, the cache holds no
// more than that store held (and never above kCacheCapBytes). So a program
// keeps at most one document's memory beyond what it uses, and that amount
// follows what it reads: reading smaller documents shrinks it again. What is
// cut goes back to the heap, the largest chunks first.
constexpr std::size_t kCacheCapBytes = std::size_t(1) << 30;
// Kept chunks of huge pages are left for the kernel to take back when it
// is short of memory (a kept chunk is written before it is read), so what
// the cache holds of large documents weighs nothing on a machine that needs
// the memory. The smaller chunks add up to a few megabytes.
constexpr std::uintptr_t kHugePageBytes = std::uintptr_t(2) << 20;

class ChunkCache {
  public:
    // A kept chunk of exactly pages pages, or null.
    void* Take(int pages) {
        Lock lock(m_busy);
        for (int i = 0; i < m_kinds; ++i) {
            Kind& kind = m_kind[i];
            if (kind.pages != pages || !kind.first) continue;
            Kept* chunk = kind.first;
            kind.first = chunk->next;
            m_bytes -= Bytes(pages);
            return chunk;
        }
        return nullptr;
    }

    // Keeps chunk (pages pages) if the cache is open and has a kind for
    // its size; false: the caller frees it.
    bool Keep(void* chunk, int pages) {
        Lock lock(m_busy);
        if (!m_open) return false;
        Kind* kind = KindOf(pages);
        if (!kind) return false;
        auto* kept = static_cast<Kept*>(chunk);
        kept->next = kind->first;
        kind->first = kept;
        m_bytes += Bytes(pages);
        return true;
    }

    // Cuts the cache down to limit bytes.
    void TrimTo(std::size_t limit) {
        for (;;) {
            void* freed = nullptr;
            {
                Lock lock(m_busy);
                if (m_bytes <= limit) return;
                for (int i = m_kinds - 1; i >= 0 && !freed; --i) {
                    Kind& kind = m_kind[i];
                    if (!kind.first) continue;
                    freed = kind.first;
                    kind.first = kind.first->next;
                    m_bytes -= Bytes(kind.pages);
                }
            }
            if (!freed) return;
            HeapFreeAligned(freed);
        }
    }

    void Open() {
        Lock lock(m_busy);
        m_open = true;
    }
    // Frees every kept chunk; stores that go later free their own.
    void Close() {
        {
            Lock lock(m_busy);
            m_open = false;
        }
        TrimTo(0);
    }

  private:
    struct Kept {
        Kept* next;
    };
    struct Kind {
        int pages;
        Kept* first;
    };
    // A spin lock: held for a few dozen instructions, and trivially
    // destructible, so it outlives every static that frees a document.
    class Lock {
      public:
        explicit Lock(std::atomic_flag& busy) : m_busy(busy) {
            while (m_busy.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
        }
        ~Lock() { m_busy.clear(std::memory_order_release); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        std::atomic_flag& m_busy;
    };

    static std::size_t Bytes(int pages) {
        return static_cast<std::size_t>(pages) * DocumentStore::kPageBytes;
    }
    Kind* KindOf(int pages) {
        for (int i = 0; i < m_kinds; ++i)
            if (m_kind[i].pages == pages) return &m_kind[i];
        if (m_kinds == kKinds) return nullptr;
        m_kind[m_kinds] = Kind{pages, nullptr};
        return &m_kind[m_kinds++];
    }

    // The chunk sizes of the growth rule are about a hundred; the kinds are
    // listed in the order first seen, so smaller ones come first.
    static constexpr int kKinds = 128;
    std::atomic_flag m_busy = ATOMIC_FLAG_INIT;
    bool m_open = false;
    int m_kinds = 0;
    std::size_t m_bytes = 0;
    Kind m_kind[kKinds] = {};
};

ChunkCache g_chunks;

static_assert(kLargestChunkPages < int(DocumentStore::kPageBytes), "pages fit a link's low bits");

}  // namespace

std::uintptr_t DocumentStore::ChunkLink(PageHeader* next, int pages) {
    return reinterpret_cast<std::uintptr_t>(next) | static_cast<std::uintptr_t>(pages);
}

DocumentStore::PageHeader* DocumentStore::NextChunk(const PageHeader* chunk) {
    return reinterpret_cast<PageHeader*>(chunk->nextChunk & ~std::uintptr_t(kPageBytes - 1));
}

int DocumentStore::ChunkPages(const PageHeader* chunk) {
    return static_cast<int>(chunk->nextChunk & (kPageBytes - 1));
}

void DocumentStore::OpenChunkCache() {
    g_chunks.Open();
}

void DocumentStore::CloseChunkCache() {
    g_chunks.Close();
}

DocumentStore* DocumentStore::Create() {
    return new DocumentStore;
}

void DocumentStore::NextPage() {
    if (m_pagesLeft > 0) {
        --m_pagesLeft;
        m_cursor = m_limit;  // the page right behind the full one
    } else {
        int pages = m_pagesMade / kGrowthDivisor;
        if (pages < 1) pages = 1;
        if (pages > kLargestChunkPages) pages = kLargestChunkPages;
        m_pagesMade += pages;
        auto* first = static_cast<PageHeader*>(g_chunks.Take(pages));
        if (!first) {
            first = static_cast<PageHeader*>(HeapAllocAligned(kPageBytes, pages * kPageBytes));
            // A large document is written once through and read in text
            // order: huge pages spare it most page faults and TLB misses.
            if (pages >= kHugePageChunkPages) platform::AdviseHugePages(first, pages * kPageBytes);
        }
        m_cursor = reinterpret_cast<char*>(first);
        first->nextChunk = ChunkLink(m_chunks, pages);
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
    // Behind the newest chunk, so the page being carved stays the current
    // one; 0 pages: never kept, its size is its own.
    if (m_chunks) {
        first->nextChunk = ChunkLink(NextChunk(m_chunks), 0);
        m_chunks->nextChunk = ChunkLink(first, ChunkPages(m_chunks));
    } else {
        first->nextChunk = ChunkLink(nullptr, 0);
        m_chunks = first;
    }
    return first + 1;
}

void DocumentStore::Destroy() {
    std::size_t bytes = 0;
    for (PageHeader* chunk = m_chunks; chunk;) {
        PageHeader* next = NextChunk(chunk);
        const int pages = ChunkPages(chunk);
        bytes += static_cast<std::size_t>(pages) * kPageBytes;
        if (pages == 0 || !g_chunks.Keep(chunk, pages)) {
            HeapFreeAligned(chunk);
        } else if (pages >= kHugePageChunkPages) {
            // Every page but the first, which holds the cache's link, is
            // written before it is read again: the kernel may take them.
            // Whole huge pages only, so that none has to be split.
            const auto from =
                (reinterpret_cast<std::uintptr_t>(chunk) + kPageBytes + kHugePageBytes - 1) &
                ~(kHugePageBytes - 1);
            const auto to = (reinterpret_cast<std::uintptr_t>(chunk) +
                             static_cast<std::size_t>(pages) * kPageBytes) &
                            ~(kHugePageBytes - 1);
            if (to > from) platform::LetKernelReclaim(reinterpret_cast<void*>(from), to - from);
        }
        chunk = next;
    }
    g_chunks.TrimTo(bytes < kCacheCapBytes ? bytes : kCacheCapBytes);
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
