#include "ZTFramework/Time/RealClock.h"

#include <chrono>
#include <thread>

namespace ZT {

std::uint64_t RealClock::NowMs() const
{
    const auto sinceOrigin = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceOrigin).count());
}

void RealClock::SleepMs(std::uint32_t ms)
{
    if (ms == 0)
        return;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace ZT
