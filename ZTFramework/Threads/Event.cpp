#include "ZTFramework/Threads/Event.h"

#include <algorithm>
#include <chrono>

namespace ZT {

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point DeadlineAfter(std::uint32_t timeoutMs)
{
    return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

// Counts the calling thread as a waiter of each event for one scope.
class CWaiterCount {
public:
    explicit CWaiterCount(std::atomic<std::int32_t>& count) : mCount(count) { mCount.fetch_add(1); }
    ~CWaiterCount() { mCount.fetch_sub(1); }
    CWaiterCount(const CWaiterCount&) = delete;
    CWaiterCount& operator=(const CWaiterCount&) = delete;

private:
    std::atomic<std::int32_t>& mCount;
};

} // namespace

Event::Event(bool autoReset) : mAutoReset(autoReset) {}

Event::~Event() = default;

bool Event::Set()
{
    std::lock_guard lock(mMutex);
    mSignalled = true;
    for (CAnyWaiter* waiter : mAnyWaiters) {
        std::lock_guard waiterLock(waiter->mMutex);
        ++waiter->mGeneration;
        waiter->mCondition.notify_all();
    }
    // Notifying under the lock keeps the event alive until the woken waiter can run.
    if (mAutoReset)
        mCondition.notify_one();
    else
        mCondition.notify_all();
    return true;
}

bool Event::Reset()
{
    std::lock_guard lock(mMutex);
    mSignalled = false;
    return true;
}

bool Event::TryConsumeLocked()
{
    if (!mSignalled)
        return false;
    if (mAutoReset)
        mSignalled = false;
    return true;
}

std::uint32_t Event::Wait(std::uint32_t timeoutMs)
{
    CWaiterCount counted(mWaiters);
    std::unique_lock lock(mMutex);
    if (timeoutMs == kInfinite) {
        mCondition.wait(lock, [this] { return mSignalled; });
    } else if (!mCondition.wait_until(lock, DeadlineAfter(timeoutMs), [this] { return mSignalled; })) {
        return kWaitTimeout;
    }
    TryConsumeLocked();
    return kWaitObject0;
}

bool Event::IsSet()
{
    return Wait(0) != kWaitTimeout;
}

void Event::AddAnyWaiter(CAnyWaiter* waiter)
{
    std::lock_guard lock(mMutex);
    mAnyWaiters.push_back(waiter);
}

void Event::RemoveAnyWaiter(CAnyWaiter* waiter)
{
    std::lock_guard lock(mMutex);
    mAnyWaiters.erase(std::remove(mAnyWaiters.begin(), mAnyWaiters.end(), waiter), mAnyWaiters.end());
}

std::uint32_t Event::WaitForAny(std::span<Event* const> events, std::uint32_t timeoutMs)
{
    if (events.empty())
        return kWaitAnyNone;

    const Clock::time_point deadline = DeadlineAfter(timeoutMs == kInfinite ? 0 : timeoutMs);
    CAnyWaiter waiter;
    for (Event* event : events) {
        event->mWaiters.fetch_add(1);
        event->AddAnyWaiter(&waiter);
    }

    std::uint32_t result = kWaitAnyNone;
    for (;;) {
        // Read the generation before looking at the events: a Set that lands after the look
        // bumps it, so the wait below cannot miss it.
        std::uint64_t generation = 0;
        {
            std::lock_guard lock(waiter.mMutex);
            generation = waiter.mGeneration;
        }
        for (std::size_t index = 0; index < events.size() && result == kWaitAnyNone; ++index) {
            std::lock_guard lock(events[index]->mMutex);
            if (events[index]->TryConsumeLocked())
                result = static_cast<std::uint32_t>(index);
        }
        if (result != kWaitAnyNone)
            break;

        std::unique_lock lock(waiter.mMutex);
        const auto changed = [&] { return waiter.mGeneration != generation; };
        if (timeoutMs == kInfinite) {
            waiter.mCondition.wait(lock, changed);
        } else if (!waiter.mCondition.wait_until(lock, deadline, changed)) {
            break;
        }
    }

    for (Event* event : events) {
        event->RemoveAnyWaiter(&waiter);
        event->mWaiters.fetch_sub(1);
    }
    return result;
}

LEvent::LEvent(bool /*autoReset*/) : Event(true) {}

} // namespace ZT
