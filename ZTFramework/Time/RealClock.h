#pragma once
// The wall-independent real clock: a monotonic time source and real sleeps of the calling thread.

#include "ZTFramework/Time/Clock.h"

namespace ZT {

class RealClock final : public IClock {
public:
    // Milliseconds of the system's monotonic clock; unaffected by changes of the wall clock.
    [[nodiscard]] std::uint64_t NowMs() const override;
    // Blocks the calling thread for at least ms milliseconds.
    void SleepMs(std::uint32_t ms) override;
};

} // namespace ZT
