#pragma once
// Sleeps the command-line run's main thread until something is posted.
//
// While it exists, the waiter is the notification wake hook (the previous hook comes back when
// it is destroyed; waiters nest like scopes). Typical loop on the main thread:
//
//     CNotificationWaiter waiter;
//     while (!done) {
//         manager->ProcessAllQueues(false);   // first of all what waited before the waiter
//         waiter.WaitForWork(std::chrono::milliseconds(500));
//     }
//
// A post that happens between two waits is not lost: the next wait returns at once. A wait looks
// for work for a few microseconds before it sleeps, so that a stream of posts from a worker is
// taken round after round without the two threads waking each other through the kernel. Work
// found while looking is part of such a stream: the wait then lets the stream run on for
// kGatherTime before it returns, so that the round takes more of it at once.
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

    // Wakes the waiting thread; posts call this through the wake hook. Cheap unless the waiter
    // sleeps: only the first call after the waiter went to sleep takes the lock.
    void Wake();

private:
    // How long a wait looks for work before it sleeps: pauses, then yields.
    static constexpr int kSpinRounds = 2000;
    static constexpr int kYieldRounds = 4;
    // What a round costs is the cache lines that move between the poster's core and ours (the
    // queue's lock, its indices, the wake flag, the slots), a few hundred nanoseconds each on a
    // virtual machine, whether the round carries one notification or a hundred. Five
    // microseconds of a stream make rounds of some eighty notifications instead of about
    // fifteen; beside a display's frame of 16.7 ms, five microseconds more for the first of
    // them go unseen.
    static constexpr std::chrono::microseconds kGatherTime{5};
    // Pauses between two readings of the clock while gathering (a pause takes 10 to 40 ns).
    static constexpr int kGatherPauses = 8;

    // Clears the signal and returns true when it was set.
    bool TakeSignal() noexcept;
    // Lets a stream of posts that has just been found run on for kGatherTime.
    static void GatherStream() noexcept;

    std::mutex mMutex;
    std::condition_variable mCondition;
    // Read by posting threads for every notification: kept off the lines the waiter writes.
    alignas(64) std::atomic<bool> mSignalled{false};
    // Set while the waiter sleeps on the condition (or is about to): only then does Wake lock.
    std::atomic<bool> mSleeping{false};
    std::function<void()> mPreviousHook;
};

} // namespace ZT
