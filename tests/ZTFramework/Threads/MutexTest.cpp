#include "ZTFramework/Threads/LightLock.h"
#include "ZTFramework/Threads/Mutex.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

namespace ZT {
namespace {

bool OtherThreadCanLock(Mutex& mutex)
{
    bool locked = false;
    std::thread other([&] {
        locked = mutex.TryLock();
        if (locked)
            mutex.Unlock();
    });
    other.join();
    return locked;
}

TEST(Mutex, HolderMayLockAgainAndOthersWaitUntilEveryLockIsUndone)
{
    Mutex mutex;
    mutex.Lock();
    {
        CMutexLock again(mutex);
        EXPECT_FALSE(OtherThreadCanLock(mutex));
    }
    EXPECT_FALSE(OtherThreadCanLock(mutex)) << "one unlock of two locks must not free it";
    mutex.Unlock();
    EXPECT_TRUE(OtherThreadCanLock(mutex));
}

// Both locks guard a plain counter; a lost update (or a race report under the thread sanitizer)
// means the lock did not exclude.
template <class Lock>
void CountUnderContention(Lock& lock)
{
    constexpr int kThreads = 4;
    constexpr int kIncrements = 20000;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int index = 0; index < kThreads; ++index) {
        threads.emplace_back([&] {
            for (int step = 0; step < kIncrements; ++step) {
                std::lock_guard guard(lock);
                ++counter;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(counter, static_cast<long>(kThreads) * kIncrements);
}

TEST(Mutex, ItAndTheLightLockExcludeOtherThreads)
{
    Mutex mutex;
    CountUnderContention(mutex);
    LightLock lock;
    CountUnderContention(lock);
}

} // namespace
} // namespace ZT
