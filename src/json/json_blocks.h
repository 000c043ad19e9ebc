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
#ifndef TAVIKFCU_JSON_JSON_BLOCKS_H
#define TAVIKFCU_JSON_JSON_BLOCKS_H

#include <cstddef>
#include <new>

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
// slot, else from the heap. Record has a bool `embedded`.
template <typename Handle, typename Record>
Record* NewRecord(const Handle* handle, void*& slot) {
    if (slot == handle) {
        slot = nullptr;
        Record* record = new (BlockLayout<Handle, Record>::RecordRoom(handle)) Record;
        record->embedded = true;
        return record;
    }
    return new Record;
}

template <typename Record>
void DeleteRecord(Record* record) {
    if (record->embedded)
        record->~Record();
    else
        delete record;
}

}  // namespace tk::detail

#endif  // TAVIKFCU_JSON_JSON_BLOCKS_H
