// The four runtime class records of the library. They are constant-
// initialised empty (no dynamic initialiser can run after the load step and
// undo it) and named and linked by the load step.
#include "core/class_records.h"

#include <cstring>

#include "core/heap.h"
#include "tavikfcu/TKCollection.h"

CTKObjClass CTKObject::m_class;
CTKObjClass CTKCollection::m_class;
CTKObjClass CTKStringCollection::m_class;
CTKObjClass CTKObjectCollection::m_class;

namespace tk::detail {

namespace {

struct ClassRecordSpec {
    CTKObjClass* record;
    const char* name;
    CTKObjClass* base;
};

// Bases before the classes derived from them.
const ClassRecordSpec kClassRecords[] = {
    {&CTKObject::m_class, "CTKObject", nullptr},
    {&CTKCollection::m_class, "CTKCollection", &CTKObject::m_class},
    {&CTKStringCollection::m_class, "CTKStringCollection", &CTKCollection::m_class},
    {&CTKObjectCollection::m_class, "CTKObjectCollection", &CTKCollection::m_class},
};

}  // namespace

void InitClassRecords() {
    for (const ClassRecordSpec& spec : kClassRecords) {
        spec.record->m_name = HeapCopy(spec.name, std::strlen(spec.name));
        spec.record->m_base = spec.base;
    }
}

bool IsLibraryClassRecord(const CTKObjClass* record) {
    for (const ClassRecordSpec& spec : kClassRecords)
        if (spec.record == record) return true;
    return false;
}

void TeardownClassRecords() {
    for (const ClassRecordSpec& spec : kClassRecords) {
        HeapFree(spec.record->m_name);
        spec.record->m_name = nullptr;
        spec.record->m_base = nullptr;
    }
}

}  // namespace tk::detail
