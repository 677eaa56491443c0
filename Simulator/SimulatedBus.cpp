#include "Simulator/SimulatedBus.h"

#include "ZTFramework/Errors/Exception.h"

#include <cmath>
#include <cstdio>

LSimulatedBus::LSimulatedBus(double timeFactor, ZT::IClock* clock) : mTimeFactor(timeFactor), mClock(clock)
{
    if (!std::isfinite(timeFactor) || timeFactor < 0.0)
        ZT_THROW(InvalidArgument, "time factor must be 0 (virtual time) or above", "LSimulatedBus::LSimulatedBus");
}

ZT::IClock& LSimulatedBus::Clock() const
{
    if (mTimeFactor > 0.0)
        return mRealClock;
    return mClock ? *mClock : ZT::GetClock();
}

std::uint64_t LSimulatedBus::NowMs() const
{
    return Clock().NowMs();
}

void LSimulatedBus::SleepMs(std::uint32_t ms)
{
    Clock().SleepMs(ms);
}

void LSimulatedBus::SleepUntilMs(std::uint64_t timeMs)
{
    ZT::IClock& clock = Clock();
    for (std::uint64_t now = clock.NowMs(); now < timeMs; now = clock.NowMs()) {
        const std::uint64_t remaining = timeMs - now;
        clock.SleepMs(remaining > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(remaining));
    }
}

std::uint64_t LSimulatedBus::DurationMs(std::uint32_t nominalMs) const
{
    if (mTimeFactor <= 0.0)
        return nominalMs;
    return static_cast<std::uint64_t>(std::llround(nominalMs * mTimeFactor));
}

std::string LSimulatedBus::NextDevicePath()
{
    std::lock_guard lock(mMutex);
    char path[32];
    std::snprintf(path, sizeof path, "/dev/bus/usb/001/%03u", static_cast<unsigned>(mNextAddress));
    mNextAddress = mNextAddress >= 127 ? 2 : mNextAddress + 1;
    mIssuedPaths.insert(path);
    return path;
}

bool LSimulatedBus::WasIssued(const std::string& path) const
{
    std::lock_guard lock(mMutex);
    return mIssuedPaths.count(path) != 0;
}
