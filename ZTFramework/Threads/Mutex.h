#pragma once
// A re-entrant lock: the thread that holds it may lock it again, and it is free again after as
// many unlocks as locks. The notification classes rely on re-entrancy (a distributor's detach
// calls back into its own removal on the same thread).

#include "ZTFramework/Threads/SpinPause.h"

#include <mutex>

namespace ZT {

class Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    virtual ~Mutex() = default;

    void Lock() { mMutex.lock(); }
    void Unlock() { mMutex.unlock(); }
    bool TryLock() { return mMutex.try_lock(); }
    // Lock for a mutex that is held only for a handful of instructions by threads on other
    // cores: tries for about a microsecond before it sleeps, because being put to sleep and
    // woken again (two system calls) costs far more than the wait.
    void LockSpinning()
    {
        for (int tries = 0; tries < kSpinTries; ++tries) {
            if (mMutex.try_lock())
                return;
            SpinPause();
        }
        mMutex.lock();
    }

    // For std::lock_guard / std::unique_lock / std::scoped_lock.
    void lock() { mMutex.lock(); }
    void unlock() { mMutex.unlock(); }
    bool try_lock() { return mMutex.try_lock(); }

private:
    static constexpr int kSpinTries = 64;

    std::recursive_mutex mMutex;
};

// Holds a Mutex for one scope, and lets it go when an exception passes.
class CMutexLock {
public:
    enum class Spinning { Yes };

    explicit CMutexLock(Mutex& mutex) : mMutex(mutex) { mMutex.Lock(); }
    // With Mutex::LockSpinning.
    CMutexLock(Mutex& mutex, Spinning) : mMutex(mutex) { mMutex.LockSpinning(); }
    ~CMutexLock() { mMutex.Unlock(); }
    CMutexLock(const CMutexLock&) = delete;
    CMutexLock& operator=(const CMutexLock&) = delete;

private:
    Mutex& mMutex;
};

} // namespace ZT
