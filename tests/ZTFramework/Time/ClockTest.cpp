#include "ZTFramework/Time/Clock.h"
#include "ZTFramework/Time/RealClock.h"
#include "ZTFramework/Time/VirtualClock.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(VirtualClock, SleepsAddUpExactlyAcrossThreadsWithoutBlocking)
{
    ZT::VirtualClock clock(1000);
    constexpr int kThreads = 4;
    constexpr int kSleepsPerThread = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&clock] {
            std::uint64_t previous = clock.NowMs();
            for (int i = 0; i < kSleepsPerThread; ++i) {
                // A fixed wait of the engine: 500 ms each, 1000 s per thread in all.
                clock.SleepMs(500);
                const std::uint64_t now = clock.NowMs();
                EXPECT_GE(now, previous + 500);
                previous = now;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(clock.NowMs(), 1000u + std::uint64_t{kThreads} * kSleepsPerThread * 500);
}

TEST(ProcessClock, IsRealUntilReplacedAndRealAgainAfterReset)
{
    ZT::IClock& initial = ZT::GetClock();
    EXPECT_NE(dynamic_cast<ZT::RealClock*>(&initial), nullptr);

    ZT::VirtualClock virtualClock(42);
    ZT::SetClock(&virtualClock);
    EXPECT_EQ(&ZT::GetClock(), &virtualClock);
    ZT::GetClock().SleepMs(10000); // the engine's 10 s wait costs nothing here
    EXPECT_EQ(virtualClock.NowMs(), 10042u);
    virtualClock.AdvanceMs(0x1'0000'0000ull); // beyond 32 bits
    EXPECT_EQ(ZT::GetClock().NowMs(), 0x1'0000'0000ull + 10042u);

    ZT::SetClock(nullptr);
    EXPECT_EQ(&ZT::GetClock(), &initial);
}

TEST(RealClock, SleepLetsAtLeastThatMuchTimePass)
{
    ZT::RealClock clock;
    const std::uint64_t before = clock.NowMs();
    clock.SleepMs(3);
    EXPECT_GE(clock.NowMs(), before + 3);
}

} // namespace
