// Kernel waiting for the critical section: a futex on the lock word
// (the classic three-state mutex: 0 free, 1 held, 2 held with waiters).
#include "platform/lock.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/features.h"

#if TK_ARCH_X86
#include <immintrin.h>
#define TK_CPU_RELAX() _mm_pause()
#else
#define TK_CPU_RELAX() ((void)0)
#endif

namespace tk::platform {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t),
              "the futex word must be a plain 32-bit integer");

static long Futex(TKLockWord& lock, int op, std::uint32_t value) {
    return syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&lock.state),
                   op | FUTEX_PRIVATE_FLAG, value, nullptr, nullptr, 0);
}

void LockWait(TKLockWord& lock) {
    // Pool sections hold the lock for a few instructions: spinning a little
    // usually wins it without a system call.
    for (int spin = 0; spin < 100; ++spin) {
        TK_CPU_RELAX();
        std::uint32_t expected = 0;
        if (lock.state.load(std::memory_order_relaxed) == 0 &&
            lock.state.compare_exchange_weak(expected, 1, std::memory_order_acquire,
                                             std::memory_order_relaxed))
            return;
    }
    // Announce a waiter (2) and sleep until the holder wakes us.
    while (lock.state.exchange(2, std::memory_order_acquire) != 0) Futex(lock, FUTEX_WAIT, 2);
}

void LockWake(TKLockWord& lock) {
    Futex(lock, FUTEX_WAKE, 1);
}

}  // namespace tk::platform
