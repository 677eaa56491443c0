#pragma once
// The lock word that guards a ZT::Thread's start flags: a 32-bit word plus an auto-reset event.
// The word is 0 when free, 1 when held and 2 when held with (possible) waiters; only a release
// that finds 2 pays for setting the event. It is not re-entrant, and its holder must not wait for
// anything that needs the lock.

#include "ZTFramework/Threads/Event.h"

#include <atomic>
#include <cstdint>

namespace ZT {

class LightLock {
public:
    LightLock() = default;
    LightLock(const LightLock&) = delete;
    LightLock& operator=(const LightLock&) = delete;

    void Acquire();
    void Release();

    // For std::lock_guard.
    void lock() { Acquire(); }
    void unlock() { Release(); }

private:
    std::atomic<std::uint32_t> mWord{0};
    Event mWake{true};
};

} // namespace ZT
