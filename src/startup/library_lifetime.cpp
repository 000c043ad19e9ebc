// The one place that sets up and tears down the library's shared state, in
// a fixed order. Nothing depends on the order of static initialisation
// across files: the steps below run before any other constructor of this
// library and any exported function.
#include "startup/lifetime.h"
#include "core/class_records.h"
#include "core/crash_report.h"
#include "geo/ellipsoids.h"
#include "json/json_blocks.h"
#include "memory/scratch_pools.h"
#include "net/handle_map.h"
#include "platform/library_load.h"
#include "string/kept_body.h"
#include "text/codepage_table_codec.h"

namespace tk::detail {

void LibraryLoad() {
    // 1. Formatting needs no mode switch: the library formats with its own
    //    UTF-16 printf engine, whose %s is wide.
    // 2. The scratch pools and their locks.
    InitScratchPools();
    //    The block kept for the next large string body.
    OpenKeptBody();
    //    The JSON value and object pools, beside the scratch pools.
    InitJsonPools();
    // 3. The four predefined ellipsoids (plain values: nothing to tear down).
    InitEllipsoids();
    // 4. The runtime class records get their names and base links.
    InitClassRecords();
    // 5. The internet handle map and its lock.
    InitHandleMap();
    // 6. The crash reports' folder beside the library, the local-time offset.
    InitCrashReports();
}

void LibraryUnload() {
    TeardownHandleMap();
    tk::platform::detail::ReleaseCodePageTables();
    TeardownClassRecords();
    TeardownJsonPools();
    CloseKeptBody();
    TeardownScratchPools();
}

}  // namespace tk::detail

TK_LIBRARY_LOAD_STEPS(tk::detail::LibraryLoad, tk::detail::LibraryUnload)
