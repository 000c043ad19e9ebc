// A critical section over one TKLockWord: uncontended entry is one atomic
// exchange; a contended thread spins briefly, then sleeps in the kernel until
// the holder leaves. This is the only lock the library's shared state uses.
#ifndef TAVIKFCU_PLATFORM_LOCK_H
#define TAVIKFCU_PLATFORM_LOCK_H

#include "tavikfcu/TKTypes.h"

namespace tk::platform {

// Slow paths, out of line: wait for the word to change, wake one waiter.
void LockWait(TKLockWord& lock);
void LockWake(TKLockWord& lock);

inline void EnterCriticalSection(TKLockWord& lock) {
    std::uint32_t expected = 0;
    if (lock.state.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                           std::memory_order_relaxed))
        return;
    LockWait(lock);
}

inline void LeaveCriticalSection(TKLockWord& lock) {
    // 2 means a thread may sleep on the word: wake one.
    if (lock.state.exchange(0, std::memory_order_release) == 2) LockWake(lock);
}

// Scoped holder for the lock.
class CriticalSectionGuard {
  public:
    explicit CriticalSectionGuard(TKLockWord& lock) : m_lock(lock) { EnterCriticalSection(lock); }
    ~CriticalSectionGuard() { LeaveCriticalSection(m_lock); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

  private:
    TKLockWord& m_lock;
};

}  // namespace tk::platform

#endif  // TAVIKFCU_PLATFORM_LOCK_H
