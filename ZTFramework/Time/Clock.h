#pragma once
// The clock behind every fixed wait of the program.
//
// The engine waits 10 ms between status polls, 500 ms and 1000 ms while a device re-enumerates,
// 10 s for a MIDI completion and up to 600 s for a run; it never calls a sleep of the platform
// directly but goes through GetClock(). The product runs on the real clock; tests install a
// VirtualClock so that these waits cost no time and the order of events stays exact.

#include <cstdint>

namespace ZT {

class IClock {
public:
    virtual ~IClock() = default;

    // Milliseconds since a fixed but arbitrary origin; never goes backwards.
    // Any thread; never blocks.
    [[nodiscard]] virtual std::uint64_t NowMs() const = 0;

    // Lets ms milliseconds of this clock's time pass on the calling thread. The real clock blocks
    // the thread for that long; a virtual clock advances its time and returns at once.
    // Any thread; 0 returns at once.
    virtual void SleepMs(std::uint32_t ms) = 0;

    // True when the time moves on by itself (the real clock), false when it moves only while
    // someone sleeps on it or advances it (a virtual clock): a loop that waits for a timer of
    // this clock then sleeps on the clock instead of on the thread. Any thread; never blocks.
    [[nodiscard]] virtual bool AdvancesByItself() const { return true; }
};

// The clock of the process: the real clock unless SetClock installed another one.
// Any thread; never blocks.
[[nodiscard]] IClock& GetClock();

// Installs clock as the clock of the process; nullptr goes back to the real clock. The caller
// keeps the clock alive until it has been replaced and no thread can still be inside one of its
// calls. Any thread.
void SetClock(IClock* clock);

} // namespace ZT
