#include "ZTFramework/Notification/NotificationWaiter.h"

#include "ZTFramework/Notification/NotificationWakeHook.h"
#include "ZTFramework/Threads/SpinPause.h"

#include <thread>

namespace ZT {

CNotificationWaiter::CNotificationWaiter()
{
    mPreviousHook = SetNotificationWakeHook([this] { Wake(); });
}

CNotificationWaiter::~CNotificationWaiter()
{
    (void)SetNotificationWakeHook(std::move(mPreviousHook)); // the hook it replaces is this waiter's
}

void CNotificationWaiter::Wake()
{
    // An earlier wake has notified, or will: the waiter sees the flag either way. The plain load
    // first keeps a stream of posts from writing the flag's cache line while it is set.
    if (mSignalled.load(std::memory_order_acquire) || mSignalled.exchange(true, std::memory_order_seq_cst))
        return;
    // A waiter that is not asleep sees the flag before it would sleep (both sides use
    // sequentially consistent operations on the two flags): no lock, no system call.
    if (!mSleeping.load(std::memory_order_seq_cst))
        return;
    // Taking the lock orders this with a waiter between its check of the flag and its sleep.
    std::lock_guard lock(mMutex);
    mCondition.notify_one();
}

bool CNotificationWaiter::TakeSignal() noexcept
{
    if (!mSignalled.load(std::memory_order_acquire))
        return false;
    mSignalled.store(false, std::memory_order_release);
    return true;
}

void CNotificationWaiter::GatherStream() noexcept
{
    const auto end = std::chrono::steady_clock::now() + kGatherTime;
    do {
        for (int pause = 0; pause < kGatherPauses; ++pause)
            SpinPause();
    } while (std::chrono::steady_clock::now() < end);
}

bool CNotificationWaiter::WaitForWork(std::chrono::milliseconds timeout)
{
    // A worker that posts a stream usually posts again within microseconds: looking for a
    // while before going to sleep saves both threads a system call per round. Bounded by
    // kSpinRounds pauses (a few microseconds), then a few yields, which hand the processor to
    // the poster when both share it.
    for (int round = 0; round < kSpinRounds; ++round) {
        if (TakeSignal()) {
            // Posts into a ring that already holds work do not signal again: what the stream
            // adds meanwhile goes to the round that follows this wait.
            GatherStream();
            return true;
        }
        SpinPause();
    }
    for (int round = 0; round < kYieldRounds; ++round) {
        if (TakeSignal())
            return true;
        std::this_thread::yield();
    }

    std::unique_lock lock(mMutex);
    mSleeping.store(true, std::memory_order_seq_cst);
    const bool signalled =
        mCondition.wait_for(lock, timeout, [this] { return mSignalled.load(std::memory_order_seq_cst); });
    mSleeping.store(false, std::memory_order_relaxed);
    if (signalled)
        mSignalled.store(false, std::memory_order_release);
    return signalled;
}

} // namespace ZT
