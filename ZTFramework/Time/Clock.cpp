#include "ZTFramework/Time/Clock.h"

#include "ZTFramework/Time/RealClock.h"

#include <atomic>

namespace ZT {

namespace {

IClock& ProcessRealClock()
{
    static RealClock clock;
    return clock;
}

std::atomic<IClock*> gInstalledClock{nullptr};

} // namespace

IClock& GetClock()
{
    if (IClock* installed = gInstalledClock.load(std::memory_order_acquire))
        return *installed;
    return ProcessRealClock();
}

void SetClock(IClock* clock)
{
    gInstalledClock.store(clock, std::memory_order_release);
}

} // namespace ZT
