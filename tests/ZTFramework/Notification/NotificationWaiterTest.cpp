#include "ZTFramework/Notification/NotificationWaiter.h"

#include "ZTFramework/Notification/NotificationCenter.h"
#include "ZTFramework/Notification/NotificationWakeHook.h"
#include "NotificationTestSupport.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace NotificationTestSupport;
using std::chrono::milliseconds;

TEST(NotificationWaiter, APostBeforeTheWaitIsNotLostAndOneWaitConsumesIt)
{
    const auto center = ZT::MakeRC<ZT::LNotificationCenter>(ZT::WString(L"waiter test"));
    ZT::CNotificationWaiter waiter;
    EXPECT_FALSE(waiter.WaitForWork(milliseconds(0))) << "nothing posted yet";
    ASSERT_RESULT_EQ(center->Post(Make(L"NID_WAITER")), ZT::S_OK);
    ASSERT_RESULT_EQ(center->Post(Make(L"NID_WAITER")), ZT::S_OK);
    EXPECT_TRUE(waiter.WaitForWork(milliseconds(0)));
    EXPECT_FALSE(waiter.WaitForWork(milliseconds(0))) << "two posts before one wait wake it once";
    // A refused post wakes nobody.
    center->Shutdown();
    EXPECT_RESULT_EQ(center->Post(Make(L"NID_WAITER")), ZT::E_FAIL);
    EXPECT_FALSE(waiter.WaitForWork(milliseconds(0)));
}

TEST(NotificationWaiter, WaitersNestAndGiveTheHookBackWhenDestroyed)
{
    int outerHookCalls = 0;
    const auto previous = ZT::SetNotificationWakeHook([&] { ++outerHookCalls; });
    {
        ZT::CNotificationWaiter waiter;
        ZT::CallNotificationWakeHook();
        EXPECT_EQ(outerHookCalls, 0);
        EXPECT_TRUE(waiter.WaitForWork(milliseconds(0)));
    }
    ZT::CallNotificationWakeHook();
    EXPECT_EQ(outerHookCalls, 1);
    (void)ZT::SetNotificationWakeHook(previous);
}

TEST(NotificationWakeHook, AReplacedHookIsNeverCalledOnceTheSetterReturns)
{
    constexpr int kPosters = 2;
    std::atomic<bool> stop = false;
    std::atomic<int> calls[2] = {0, 0};
    std::vector<std::thread> posters;
    for (int t = 0; t < kPosters; ++t)
        posters.emplace_back([&] {
            while (!stop.load()) {
                ZT::CallNotificationWakeHook();
                std::this_thread::yield(); // leave the cores to the setter now and then
            }
        });
    const auto previous = ZT::SetNotificationWakeHook([&] { ++calls[0]; });
    for (int round = 0; round < 50; ++round) {
        const int current = round % 2;
        const int other = 1 - current;
        const int before = calls[other].load();
        (void)ZT::SetNotificationWakeHook([&calls, other] { ++calls[other]; });
        // The hook counting into `current` is gone: its count must stand still from here on,
        // while the posters go on calling the new one.
        const int frozen = calls[current].load();
        while (calls[other].load() == before)
            std::this_thread::yield();
        EXPECT_EQ(calls[current].load(), frozen) << "round " << round;
    }
    stop = true;
    for (auto& poster : posters)
        poster.join();
    (void)ZT::SetNotificationWakeHook(previous);
}

} // namespace
