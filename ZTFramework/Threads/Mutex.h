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
        // Each try writes the lock's cache line, which takes it away from the holder: between
        // tries, wait twice as long as before.
        for (int pauses = 1; pauses <= kMostPauses; pauses *= 2) {
            if (mMutex.try_lock())
                return;
            for (int i = 0; i < pauses; ++i)
                SpinPause();
        }
        mMutex.lock();
    }

    // For std::lock_guard / std::unique_lock / std::scoped_lock.
    void lock() { mMutex.lock(); }
    void unlock() { mMutex.unlock(); }
    bool try_lock() { return mMutex.try_lock(); }

private:
    // About a microsecond of pauses in all before sleeping.
    static constexpr int kMostPauses = 64;

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
