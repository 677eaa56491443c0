#include "ZTFramework/Threads/Event.h"
#include "ZTFramework/Threads/EventPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace ZT {
namespace {

// Spins (yielding) until the event has the given number of waiters; the waiters block without a
// time-out, so this only orders the test's threads.
void WaitForWaiters(const Event& event, std::int32_t count)
{
    while (event.GetWaiterCount() != count)
        std::this_thread::yield();
}

TEST(Event, AutoResetEventIsConsumedByTheWaitThatSucceeds)
{
    Event event(true);
    EXPECT_EQ(event.Wait(20), kWaitTimeout);
    EXPECT_EQ(event.GetWaiterCount(), 0);
    event.Set();
    EXPECT_EQ(event.Wait(0), kWaitObject0);
    EXPECT_EQ(event.Wait(0), kWaitTimeout);
    event.Set();
    EXPECT_TRUE(event.IsSet());
    EXPECT_FALSE(event.IsSet()) << "IsSet is a wait, so it consumes an auto-reset signal";

    // LEvent is auto-reset whatever it is asked for.
    const RCPtr<LEvent> shared = MakeRC<LEvent>(false);
    EXPECT_TRUE(shared->IsAutoReset());
    shared->Set();
    EXPECT_EQ(shared->Wait(0), kWaitObject0);
    EXPECT_EQ(shared->Wait(0), kWaitTimeout);
}

TEST(Event, OneSetOfAnAutoResetEventReleasesExactlyOneWaiter)
{
    Event event(true);
    Event woke(true);
    std::atomic<int> released{0};
    auto waiter = [&] {
        EXPECT_EQ(event.Wait(kInfinite), kWaitObject0);
        released.fetch_add(1);
        woke.Set();
    };
    std::thread first(waiter);
    std::thread second(waiter);
    WaitForWaiters(event, 2);

    event.Set();
    ASSERT_EQ(woke.Wait(kInfinite), kWaitObject0);
    WaitForWaiters(event, 1);
    EXPECT_EQ(released.load(), 1);

    event.Set();
    ASSERT_EQ(woke.Wait(kInfinite), kWaitObject0);
    first.join();
    second.join();
    EXPECT_EQ(released.load(), 2);
    EXPECT_EQ(event.Wait(0), kWaitTimeout);
}

TEST(Event, OneSetOfAManualResetEventReleasesEveryWaiterAndStaysUntilReset)
{
    Event event(false);
    EXPECT_EQ(event.Wait(20), kWaitTimeout);
    std::atomic<int> released{0};
    std::thread first([&] { EXPECT_EQ(event.Wait(kInfinite), kWaitObject0); released.fetch_add(1); });
    std::thread second([&] { EXPECT_EQ(event.Wait(kInfinite), kWaitObject0); released.fetch_add(1); });
    WaitForWaiters(event, 2);
    event.Set();
    first.join();
    second.join();
    EXPECT_EQ(released.load(), 2);
    EXPECT_TRUE(event.IsSet());
    EXPECT_EQ(event.Wait(5), kWaitObject0);
    event.Reset();
    EXPECT_EQ(event.Wait(0), kWaitTimeout);
}

TEST(EventPool, WaitAnyGivesTheLowestSignalledIndexAndConsumesIt)
{
    EventPool pool(4);
    pool.Get(3)->Set();
    pool.Get(1)->Set();
    EXPECT_EQ(pool.WaitAny(0), 1u);
    EXPECT_EQ(pool.WaitAny(0), 3u);
    EXPECT_EQ(pool.WaitAny(0), kWaitAnyNone);
    EXPECT_EQ(pool.WaitAny(10), kWaitAnyNone);
    EXPECT_FALSE(pool.Get(4));
    EXPECT_EQ(EventPool(0).WaitAny(kInfinite), kWaitAnyNone) << "an empty pool never reports an event";
}

TEST(EventPool, WaitAnyWakesWhenAnotherThreadSetsOneEvent)
{
    EventPool pool(3);
    std::thread setter([&] {
        WaitForWaiters(*pool.Get(2), 1);
        pool.Get(2)->Set();
    });
    EXPECT_EQ(pool.WaitAny(kInfinite), 2u);
    setter.join();
    EXPECT_EQ(pool.Get(2)->GetWaiterCount(), 0);
}

} // namespace
} // namespace ZT
