// Running the library's own set-up when the OS loads it, and its tear-down
// when the OS unloads it, ahead of every other static constructor of the
// library and after every static destructor.
//
//     TK_LIBRARY_LOAD_STEPS(tk::detail::LibraryLoad, tk::detail::LibraryUnload)
//
// used once, in the start-up layer, defines the hooks in that file. A macro
// rather than a call, because the OS layer sits beneath the code it starts.
#ifndef TAVIKFCU_PLATFORM_LIBRARY_LOAD_H
#define TAVIKFCU_PLATFORM_LIBRARY_LOAD_H

#include "platform/features.h"

#if defined(__ELF__) && TK_COMPILER_GNU_LIKE
// ELF: a constructor and destructor of priority 101, the first one open to
// programs (0-100 belong to the C++ runtime). Default-priority constructors
// of this library (65535) therefore run after the load step, and its
// destructors before the unload step.
#define TK_LIBRARY_LOAD_STEPS(load, unload)                          \
    namespace {                                                      \
    __attribute__((constructor(101))) void TkRunLibraryLoadStep() {  \
        load();                                                      \
    }                                                                \
    __attribute__((destructor(101))) void TkRunLibraryUnloadStep() { \
        unload();                                                    \
    }                                                                \
    }
#else
#error "no load hook for this platform: add one here (DllMain on Windows)"
#endif

#endif  // TAVIKFCU_PLATFORM_LIBRARY_LOAD_H
