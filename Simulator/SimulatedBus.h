#pragma once
// What the simulated devices share: the time they run on and the USB addresses they get.
//
// Time factor 0 runs the simulation in virtual time: every delay is measured on the given clock,
// or on the process clock (ZT::GetClock, a ZT::VirtualClock in tests) when none is given, so a
// bootloader that appears "after 1.5 s" is there as soon as the engine's waits on that clock have
// added up to 1.5 s. A factor above 0 runs in real time on a real clock, each delay multiplied by
// the factor (1 as the hardware does it, 0.1 ten times faster for a demonstration). No delay is
// ever waited out by a thread of the simulator: devices compare the clock with the time an event
// falls due whenever they are asked something.
//
// Every member may be called from any thread.

#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Time/Clock.h"
#include "ZTFramework/Time/RealClock.h"

#include <cstdint>
#include <mutex>
#include <set>
#include <string>

class LSimulatedBus : public virtual ZT::LRefCountedObject {
public:
    // Throws an invalid-argument error for a negative or non-finite time factor.
    explicit LSimulatedBus(double timeFactor = 0.0, ZT::IClock* clock = nullptr);

    [[nodiscard]] double GetTimeFactor() const noexcept { return mTimeFactor; }
    [[nodiscard]] std::uint64_t NowMs() const;
    // Waits on the simulation's clock: real time in real time, no time at all in virtual time.
    void SleepMs(std::uint32_t ms);
    void SleepUntilMs(std::uint64_t timeMs);
    // A device's nominal delay as it passes on the simulation's clock.
    [[nodiscard]] std::uint64_t DurationMs(std::uint32_t nominalMs) const;

    // The device node of the next device to enumerate: "/dev/bus/usb/001/002", then 003, ...
    // (after 127 the addresses start again at 2, as the kernel's do).
    [[nodiscard]] std::string NextDevicePath();
    // Whether path was ever handed out by NextDevicePath.
    [[nodiscard]] bool WasIssued(const std::string& path) const;

private:
    ZT::IClock& Clock() const;

    const double mTimeFactor;
    ZT::IClock* const mClock;
    mutable ZT::RealClock mRealClock;
    mutable std::mutex mMutex;
    std::uint32_t mNextAddress = 2;    // guarded by mMutex
    std::set<std::string> mIssuedPaths; // guarded by mMutex
};
