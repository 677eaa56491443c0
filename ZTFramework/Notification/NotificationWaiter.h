#pragma once
// Sleeps the command-line run's main thread until something is posted.
//
// While it exists, the waiter is the notification wake hook (the previous hook comes back when
// it is destroyed; waiters nest like scopes). Typical loop on the main thread:
//
//     CNotificationWaiter waiter;
//     while (!done) {
//         waiter.WaitForWork(std::chrono::milliseconds(500));
//         manager->ProcessAllQueues(false);
//     }
//
// A post that happens between two waits is not lost: the next wait returns at once.
//
// Threads: Wake may be called from any thread; WaitForWork by one thread at a time.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace ZT {

class CNotificationWaiter {
public:
    CNotificationWaiter();
    ~CNotificationWaiter();
    CNotificationWaiter(const CNotificationWaiter&) = delete;
    CNotificationWaiter& operator=(const CNotificationWaiter&) = delete;

    // True as soon as something was posted (or Wake was called) since the last call that
    // returned true, at once when that already happened; false when timeout passed first.
    bool WaitForWork(std::chrono::milliseconds timeout);

    // Wakes the waiting thread; posts call this through the wake hook. Cheap when the waiter is
    // already signalled: only the first call after a wait takes the lock.
    void Wake();

private:
    std::mutex mMutex;
    std::condition_variable mCondition;
    // Read by posting threads for every notification: kept off the lines the waiter writes.
    alignas(64) std::atomic<bool> mSignalled{false};
    std::function<void()> mPreviousHook;
};

} // namespace ZT
