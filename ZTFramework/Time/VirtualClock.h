#pragma once
// A clock whose time moves only when someone sleeps on it or advances it.
//
// SleepMs adds to the time and returns at once, so a test that drives the engine through its
// 500 ms and 1000 ms waits takes no real time, and timed events of the device simulator fall due
// exactly when the waits add up to their time. The time is one atomic counter: every member may
// be called from any thread, and sleeps on several threads each add their own span.

#include "ZTFramework/Time/Clock.h"

#include <atomic>

namespace ZT {

class VirtualClock final : public IClock {
public:
    explicit VirtualClock(std::uint64_t startMs = 0) : mNowMs(startMs) {}

    [[nodiscard]] std::uint64_t NowMs() const override { return mNowMs.load(std::memory_order_acquire); }
    // Advances the time by ms; never blocks.
    void SleepMs(std::uint32_t ms) override { AdvanceMs(ms); }
    [[nodiscard]] bool AdvancesByItself() const override { return false; }
    // Advances the time by ms without anyone waiting: what a test does to let time pass.
    void AdvanceMs(std::uint64_t ms) { mNowMs.fetch_add(ms, std::memory_order_acq_rel); }

private:
    std::atomic<std::uint64_t> mNowMs;
};

} // namespace ZT
