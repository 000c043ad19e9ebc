// The four runtime class records of the library. They are constant-
// initialised empty (no dynamic initialiser can run after the load step and
// undo it) and named and linked by the load step.
#include "core/class_records.h"

#include <cstring>

#include "memory/heap.h"
#include "tavikfcu/TKCollection.h"

CTKObjClass CTKObject::m_class;
CTKObjClass CTKCollection::m_class;
CTKObjClass CTKStringCollection::m_class;
CTKObjClass CTKObjectCollection::m_class;

namespace tk::detail {

namespace {

struct ClassRecordEntry {
    CTKObjClass* record;
    const char* name;
    CTKObjClass* base;
};

// Bases before the classes derived from them.
const ClassRecordEntry kClassRecords[] = {
    {&CTKObject::m_class, "CTKObject", nullptr},
    {&CTKCollection::m_class, "CTKCollection", &CTKObject::m_class},
    {&CTKStringCollection::m_class, "CTKStringCollection", &CTKCollection::m_class},
    {&CTKObjectCollection::m_class, "CTKObjectCollection", &CTKCollection::m_class},
};

}  // namespace

void InitClassRecords() {
    for (const ClassRecordEntry& entry : kClassRecords) {
        entry.record->m_name = HeapCopy(entry.name, std::strlen(entry.name));
        entry.record->m_base = entry.base;
    }
}

bool IsLibraryClassRecord(const CTKObjClass* record) {
    for (const ClassRecordEntry& entry : kClassRecords)
        if (entry.record == record) return true;
    return false;
}

void TeardownClassRecords() {
    for (const ClassRecordEntry& entry : kClassRecords) {
        HeapFree(entry.record->m_name);
        entry.record->m_name = nullptr;
        entry.record->m_base = nullptr;
    }
}

}  // namespace tk::detail
