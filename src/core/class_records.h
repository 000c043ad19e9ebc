// The library's runtime class records: filled at load (step 4 of the load
// order), their names freed at unload.
#ifndef TAVIKFCU_CORE_CLASS_RECORDS_H
#define TAVIKFCU_CORE_CLASS_RECORDS_H

#include "tavikfcu/TKCore.h"

namespace tk::detail {

// Names the four records and links each to its base. Throws std::bad_alloc.
void InitClassRecords();
// Frees the names; the records become empty again.
void TeardownClassRecords();

// Whether record is one of the four static records. Their names belong to the
// unload step, not to their C++ destructors: at process exit those run before
// the unload step, and a name must be freed exactly once whichever runs first.
bool IsLibraryClassRecord(const CTKObjClass* record);

}  // namespace tk::detail

#endif  // TAVIKFCU_CORE_CLASS_RECORDS_H
