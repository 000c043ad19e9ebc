// Document-owned storage: the memory a document read from text lives in.
//
// The reader carves the values, objects, element and item lists and
// strings of one document from large chunks (bump allocation) instead of
// one pool block or heap block each, so that reading allocates almost
// nothing per value, the document lies in memory in text order, and the
// whole of it goes back in a few frees.
//
// A chunk is a run of 4 KB pages; each page starts with a pointer to its
// store, so any block in a store finds its store from its address. Each
// chunk is a sixteenth as large as all before it together (so at most a
// seventeenth of a store is room not yet used: a document is measured by
// the memory it holds, and a hundred more chunks cost nothing next to the
// values they hold), from one page up to 8 MB; those of 4 MB
// and more take huge pages where the kernel has them. When a store goes,
// its chunks are kept for the next documents, within a bound (the size of
// the store that went), so reading document after document does not have
// the kernel clear fresh pages for each.
//
// Lifetime. A store is counted: the reader holds it while it builds, and
// every handle that lives in the store but hangs from something outside it
// (the values that the top of a document holds, a value that RemoveFromArr
// handed to the caller, an element that MoveToArr spliced into another
// array) holds one reference, as an escaped handle (json_records.h).
// Handles inside the store are only ever reached through one of those, so
// the store goes when the last of them is destroyed.
//
// Untouched stores. As long as no value or object of a store has been
// changed since it was read, everything below them lives in the store too
// (lists and strings of any size), so destroying them needs no walk: they
// are simply let go with the store. The first change to any of them marks
// the store edited, and from then on they are destroyed one by one.
//
// Strings. A string body carved from a store is fixed: its count says
// locked and its capacity is 0, so CTKString never counts it, frees it or
// writes into it, and a copy of such a string gets a body of its own. What a
// caller takes out of a document is therefore always a body of its own,
// with the capacity any fresh copy of that text has.
#ifndef TAVIKFCU_JSON_JSON_STORE_H
#define TAVIKFCU_JSON_JSON_STORE_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tavikfcu/TKString.h"

namespace tk::detail {

class DocumentStore {
  public:
    static constexpr std::size_t kPageBytes = 4096;
    static constexpr std::size_t kLargestPageBlock = 512;

    // A new store, held once by its creator.
    static DocumentStore* Create();

    void AddRef() { m_refs.fetch_add(1, std::memory_order_relaxed); }
    // Lets go of one reference; the last frees every chunk.
    void Release() {
        if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1) Destroy();
    }

    // bytes of 8-byte aligned room. Blocks above kLargestPageBlock get
    // pages of their own, and only the first of those pages knows the
    // store: Of() works on small blocks only.
    void* Allocate(std::size_t bytes) {
        bytes = (bytes + 7) & ~std::size_t(7);
        if (static_cast<std::size_t>(m_limit - m_cursor) < bytes) {
            if (bytes > kLargestPageBlock) return AllocateLarge(bytes);
            NextPage();
        }
        void* p = m_cursor;
        m_cursor += bytes;
        return p;
    }

    // Whether no record of the store has changed since it was read.
    bool IsUntouched() const { return !m_edited.load(std::memory_order_relaxed); }
    void MarkEdited() { m_edited.store(true, std::memory_order_relaxed); }

    // Chunks of stores that have gone are kept for the next ones
    // (json_store.cpp says how many) between these two calls, made when the
    // library loads and unloads.
    static void OpenChunkCache();
    static void CloseChunkCache();

    // The store a carved block lives in.
    static DocumentStore* Of(const void* block) {
        auto page = reinterpret_cast<std::uintptr_t>(block) & ~std::uintptr_t(kPageBytes - 1);
        return reinterpret_cast<const PageHeader*>(page)->store;
    }

    // Room for a fixed body of up to n units, to be filled and then cut to
    // its length with SetFixedLength.
    TKWCHAR* NewFixedText(int n);
    static void SetFixedLength(TKWCHAR* chars, int n);
    // Points an empty string at a fixed body (no count to change).
    static void ShowFixed(CTKString& empty, TKWCHAR* chars) {
        std::memcpy(static_cast<void*>(&empty), &chars, sizeof chars);
    }

  private:
    struct PageHeader {
        DocumentStore* store;
        // In a chunk's first page: the chunk made before it (page-aligned)
        // with, in the low bits, the chunk's pages (0 for a large block's).
        std::uintptr_t nextChunk;
    };

    DocumentStore() = default;
    static std::uintptr_t ChunkLink(PageHeader* next, int pages);
    static PageHeader* NextChunk(const PageHeader* chunk);
    static int ChunkPages(const PageHeader* chunk);
    void NextPage();
    void* AllocateLarge(std::size_t bytes);
    void Destroy();

    std::atomic<std::int32_t> m_refs{1};
    std::atomic<bool> m_edited{false};
    char* m_cursor = nullptr;
    char* m_limit = nullptr;
    PageHeader* m_chunks = nullptr;  // the newest chunk's first page
    int m_pagesLeft = 0;             // whole pages after the current one in its chunk
    int m_pagesMade = 0;             // in all chunks of pages so far
};

}  // namespace tk::detail

#endif  // TAVIKFCU_JSON_JSON_STORE_H
