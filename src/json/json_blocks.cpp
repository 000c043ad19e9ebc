// The block pools of JSON values and objects, and the handle classes'
// allocation functions.
#include "json/json_blocks.h"

#include "json/json_records.h"

namespace tk::detail {

namespace {

using ValueLayout = BlockLayout<CMyJsonValue, CMyJsonValueImp>;
using ObjectLayout = BlockLayout<CMyJsonObj, CMyJsonObjImp>;

static_assert(ValueLayout::kBlockSize <= 56, "a value block stays within 56 bytes");
static_assert(ObjectLayout::kBlockSize <= 40, "an object block stays within 40 bytes");

// Blocks per chunk: a chunk of about 14 KB of values, 10 KB of objects.
constexpr unsigned int kBlocksPerChunk = 256;

alignas(CTKFixedAlloc) unsigned char g_valuePool[sizeof(CTKFixedAlloc)];
alignas(CTKFixedAlloc) unsigned char g_objectPool[sizeof(CTKFixedAlloc)];

thread_local PendingBlocks t_pending;

void* Allocate(CTKFixedAlloc& pool, void*& pending) {
    void* block = pool.Alloc();
    pending = block;
    return block;
}

void Release(CTKFixedAlloc& pool, void*& pending, void* block) {
    // A constructor that threw never claimed its block.
    if (pending == block) pending = nullptr;
    pool.Free(block);
}

}  // namespace

CTKFixedAlloc& JsonValuePool() {
    return *std::launder(reinterpret_cast<CTKFixedAlloc*>(g_valuePool));
}
CTKFixedAlloc& JsonObjectPool() {
    return *std::launder(reinterpret_cast<CTKFixedAlloc*>(g_objectPool));
}

void InitJsonPools() {
    new (g_valuePool) CTKFixedAlloc(ValueLayout::kBlockSize, kBlocksPerChunk);
    new (g_objectPool) CTKFixedAlloc(ObjectLayout::kBlockSize, kBlocksPerChunk);
}

void TeardownJsonPools() {
    JsonValuePool().~CTKFixedAlloc();
    JsonObjectPool().~CTKFixedAlloc();
}

PendingBlocks& Pending() {
    return t_pending;
}

}  // namespace tk::detail

using tk::detail::Pending;

// A derived class (of another size) gets ordinary heap memory and, through
// the constructor's check, a heap record.
void* CMyJsonValue::operator new(std::size_t size) {
    if (size != sizeof(CMyJsonValue)) return ::operator new(size);
    return tk::detail::Allocate(tk::detail::JsonValuePool(), Pending().value);
}

void CMyJsonValue::operator delete(void* p, std::size_t size) {
    if (!p) return;
    if (size != sizeof(CMyJsonValue)) return ::operator delete(p);
    tk::detail::Release(tk::detail::JsonValuePool(), Pending().value, p);
}

void* CMyJsonObj::operator new(std::size_t size) {
    if (size != sizeof(CMyJsonObj)) return ::operator new(size);
    return tk::detail::Allocate(tk::detail::JsonObjectPool(), Pending().object);
}

void CMyJsonObj::operator delete(void* p, std::size_t size) {
    if (!p) return;
    if (size != sizeof(CMyJsonObj)) return ::operator delete(p);
    tk::detail::Release(tk::detail::JsonObjectPool(), Pending().object, p);
}
