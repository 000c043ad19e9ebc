// The four scratch pools and the scratch buffers that hold one temporary
// code-page conversion each.
//
//     CTempAnsiString ansi(wideText);      // pool block or heap, by size
//     fputs(ansi, file);                   // released when it leaves scope
#ifndef TAVIKFCU_CORE_SCRATCH_POOLS_H
#define TAVIKFCU_CORE_SCRATCH_POOLS_H

#include "tavikfcu/TKCore.h"

namespace tk::detail {

inline constexpr int kScratchPoolCount = 4;
// Block sizes: a string body header (12 bytes) plus 65, 129, 257 or 513
// UTF-16 units, rounded up to a multiple of 4.
inline constexpr unsigned int kScratchBlockSizes[kScratchPoolCount] = {144, 272, 528, 1040};
inline constexpr unsigned int kScratchBlocksPerChunk = 64;

// Pool i (0..3). Valid between library load and unload.
CTKFixedAlloc& ScratchPool(int index);

// The pool for a scratch buffer of n bytes, or null for the heap (n >= 1024).
CTKFixedAlloc* ScratchPoolForBytes(int bytes);

// The scratch pool index of an allocator, or -1 for any other allocator.
int ScratchPoolIndex(const CTKFixedAlloc* alloc);

// The per-thread caches in front of the scratch pools' shared lists.
void* CachedAlloc(int pool);
void CachedFree(int pool, void* block);
// Makes every thread drop its cached blocks of a pool (after FreeAll).
void InvalidateCaches(int pool);

// Batch access to an allocator's shared list, for the caches.
void* TakeBatch(CTKFixedAlloc& alloc, unsigned int count);
void GiveBatch(CTKFixedAlloc& alloc, void* first, void* last);

// Load and unload steps (called from the library's lifetime code only).
void InitScratchPools();
void TeardownScratchPools();

// One scratch buffer: where its block came from, the block, its size.
struct CTempData {
    CTKFixedAlloc* pool = nullptr;  // null: the block is from the heap
    void* block = nullptr;
    int size = 0;
};

// Takes a block of n bytes by the pool rule; throws std::bad_alloc.
void* ObtainScratch(CTempData& data, int bytes);
void ReleaseScratch(CTempData& data);

}  // namespace tk::detail

// Holds src converted to the ANSI code page; null src gives a null text.
class CTempAnsiString {
  public:
    explicit CTempAnsiString(const TKWCHAR* src);
    ~CTempAnsiString() { tk::detail::ReleaseScratch(m_data); }
    CTempAnsiString(const CTempAnsiString&) = delete;
    CTempAnsiString& operator=(const CTempAnsiString&) = delete;

    const char* Text() const { return m_text; }
    operator const char*() const { return m_text; }
    // Bytes in the buffer, terminator included (0 for a null text).
    int Size() const { return m_data.size; }

  private:
    tk::detail::CTempData m_data;
    char* m_text = nullptr;
};

// Holds src converted from the ANSI code page (CTempWideString) or from
// UTF-8 (CTempUtf8WideString); null src gives a null text.
class CTempWideString {
  public:
    explicit CTempWideString(const char* src) : CTempWideString(src, false) {}
    ~CTempWideString() { tk::detail::ReleaseScratch(m_data); }
    CTempWideString(const CTempWideString&) = delete;
    CTempWideString& operator=(const CTempWideString&) = delete;

    const TKWCHAR* Text() const { return m_text; }
    operator const TKWCHAR*() const { return m_text; }

  protected:
    CTempWideString(const char* src, bool utf8);

  private:
    tk::detail::CTempData m_data;
    TKWCHAR* m_text = nullptr;
};

class CTempUtf8WideString : public CTempWideString {
  public:
    explicit CTempUtf8WideString(const char* src) : CTempWideString(src, true) {}
};

#endif  // TAVIKFCU_CORE_SCRATCH_POOLS_H
