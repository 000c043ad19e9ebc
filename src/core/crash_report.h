// Crash dumps and the system log: what the library prepares at load.
#ifndef TAVIKFCU_CORE_CRASH_REPORT_H
#define TAVIKFCU_CORE_CRASH_REPORT_H

namespace tk::detail {
// Records the report folder beside the library, the local-time offset and
// what the dump writer reads about the machine.
void InitCrashReports();
}  // namespace tk::detail

#endif  // TAVIKFCU_CORE_CRASH_REPORT_H
