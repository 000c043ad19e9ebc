// Where JSON values and objects live. `new CMyJsonValue` (or CMyJsonObj)
// takes one block from a fixed-block pool that holds the handle and, right
// behind it, the handle's private record, so a document element costs one
// pool block instead of two heap allocations.
//
// How the constructor finds the room: the class's operator new remembers the
// block it just handed out in a thread-local slot; a constructor whose
// `this` is that block builds its record in place and clears the slot. A
// handle made any other way (on the stack, inside another object, nested
// `new` in constructor arguments) finds no match and gets a heap record.
// The record says which it is, so the destructor frees it the right way.
//
// Handles read from text live in a document store (json_store.h), most of
// them compact: a handle and one word, no record (json_records.h). Their
// destructor tells the class's operator delete, which runs right after it,
// to leave that block alone.
#ifndef TAVIKFCU_JSON_JSON_BLOCKS_H
#define TAVIKFCU_JSON_JSON_BLOCKS_H

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "json/json_records.h"
#include "tavikfcu/TKCore.h"

namespace tk::detail {

// The two pools (values, objects). Valid between library load and unload;
// blocks still in use at unload become invalid, like the scratch pools'.
CTKFixedAlloc& JsonValuePool();
CTKFixedAlloc& JsonObjectPool();
void InitJsonPools();
void TeardownJsonPools();

// The block most recently handed out by a handle class's operator new on
// this thread and not yet claimed by a constructor, per class.
struct PendingBlocks {
    void* value = nullptr;
    void* object = nullptr;
    // The handle just destroyed whose block belongs to a store: its
    // operator delete frees nothing.
    const void* stored = nullptr;
};
PendingBlocks& Pending();

// Where a handle's record sits in its block.
template <typename Handle, typename Record>
struct BlockLayout {
    static constexpr std::size_t kRecordOffset =
        (sizeof(Handle) + alignof(Record) - 1) / alignof(Record) * alignof(Record);
    static constexpr std::size_t kBlockSize = kRecordOffset + sizeof(Record);

    static void* RecordRoom(const Handle* handle) {
        return const_cast<char*>(reinterpret_cast<const char*>(handle)) + kRecordOffset;
    }
};

// A record for handle: in its block when the block is the pending one of
// slot, else from the heap. Record has a Placement `where`.
template <typename Handle, typename Record>
Record* NewRecord(const Handle* handle, void*& slot) {
    if (slot == handle) {
        slot = nullptr;
        Record* record = new (BlockLayout<Handle, Record>::RecordRoom(handle)) Record;
        record->where = Placement::kBlock;
        return record;
    }
    return new Record;
}

// Destroys handle's record, the last step of the handle's destructor.
template <typename Record>
void DeleteRecord(Record* record, const void* handle) {
    switch (record->where) {
        case Placement::kHeap:
            delete record;
            return;
        case Placement::kBlock:
            record->~Record();
            return;
        case Placement::kStored:
            record->~Record();
            Pending().stored = handle;
            return;
        case Placement::kEscaped: {
            DocumentStore* store = DocumentStore::Of(record);
            if (!store->IsUntouched()) record->~Record();
            Pending().stored = handle;
            store->Release();  // may free the handle's block: nothing reads it after
            return;
        }
        case Placement::kPromoted:
            delete record;
            Pending().stored = handle;
            return;
        case Placement::kPromotedEscaped:
            delete record;
            Pending().stored = handle;
            DocumentStore::Of(handle)->Release();
            return;
    }
}

// The last step of a compact handle's destructor, once what it holds is
// gone: its block stays with the store.
inline void LetGoCompact(std::uintptr_t word, const void* handle) {
    Pending().stored = handle;
    if (word & CompactWord::kEscaped) DocumentStore::Of(handle)->Release();
}

// A handle and its record carved from a document store, read from text.
template <typename Handle, typename Record>
Handle* NewStoredHandle(DocumentStore& store, void*& slot) {
    void* block = store.Allocate(BlockLayout<Handle, Record>::kBlockSize);
    slot = block;
    auto* handle = new (block) Handle;
    TKJsonAccess::Of(*handle).where = Placement::kStored;
    return handle;
}

// A compact handle carved from a document store, holding word (a tag of
// CompactWord) and, behind it, a zero word for the caller to set. A handle
// is its one word (no base, no virtual functions), so the handle is made
// by writing that word: the reader makes one per value, and a constructor
// call through the library's exported symbol would cost more than the rest
// of making it.
template <typename Handle>
Handle* NewCompactHandle(DocumentStore& store, std::uintptr_t word) {
    static_assert(sizeof(Handle) == sizeof(void*) && std::is_standard_layout<Handle>::value,
                  "a handle is one word");
    auto* block = static_cast<std::uintptr_t*>(store.Allocate(2 * sizeof(void*)));
    block[0] = word;
    block[1] = 0;
    return std::launder(reinterpret_cast<Handle*>(block));
}

}  // namespace tk::detail

#endif  // TAVIKFCU_JSON_JSON_BLOCKS_H
