#pragma once
// Events: the signalling primitive of the framework's threads.
//
// An Event is either auto-reset (a successful wait consumes the signal, so one Set releases one
// waiter) or manual-reset (it stays signalled until Reset, and a Set releases every waiter). It is
// created unsignalled. Waits return kWaitObject0 when the event was signalled and kWaitTimeout when
// the time-out passed first; a time-out of kInfinite never passes.
//
// Every operation may be called from any thread. Each event guards its state with its own mutex;
// Set notifies while holding it, so an event may be destroyed by a thread that has just been
// released by it.
//
// LEvent is the reference-counted form, always auto-reset; it is what done events and the
// thread pool's per-slot events are made of.

#include "ZTFramework/ObjectBase/RefCountedObject.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace ZT {

// Results and time-outs of waits, in milliseconds, with the values the rest of the program tests.
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFF;
// WaitForAny: no event was signalled before the time-out.
inline constexpr std::uint32_t kWaitAnyNone = 0xFFFFFFFF;

class Event {
public:
    // autoReset false makes a manual-reset event. Either kind starts unsignalled.
    explicit Event(bool autoReset);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    virtual ~Event();

    // Both return true; they cannot fail on this platform but keep the result callers check.
    bool Set();
    bool Reset();
    // Blocks the calling thread for at most timeoutMs (kInfinite: no limit). Returns kWaitObject0
    // or kWaitTimeout. An auto-reset event is reset by the wait that succeeds.
    [[nodiscard]] std::uint32_t Wait(std::uint32_t timeoutMs);
    // A wait of 0 ms that does not time out. Like any successful wait it consumes the signal of
    // an auto-reset event.
    [[nodiscard]] bool IsSet();
    bool IsAutoReset() const noexcept { return mAutoReset; }
    // Threads currently inside a wait on this event.
    std::int32_t GetWaiterCount() const noexcept { return mWaiters.load(std::memory_order_acquire); }

    // Waits until any of the events is signalled and returns the index of the first signalled one
    // (lowest index first; that event's signal is consumed when it is auto-reset), or
    // kWaitAnyNone when timeoutMs passed first or the list is empty.
    [[nodiscard]] static std::uint32_t WaitForAny(std::span<Event* const> events, std::uint32_t timeoutMs);

private:
    // One thread inside WaitForAny; every event of its list wakes it on Set.
    struct CAnyWaiter {
        std::mutex mMutex;
        std::condition_variable mCondition;
        std::uint64_t mGeneration = 0; // guarded by mMutex; bumped by each Set
    };

    bool TryConsumeLocked();
    void AddAnyWaiter(CAnyWaiter* waiter);
    void RemoveAnyWaiter(CAnyWaiter* waiter);

    const bool mAutoReset;
    std::mutex mMutex;
    std::condition_variable mCondition;
    bool mSignalled = false;                // guarded by mMutex
    std::vector<CAnyWaiter*> mAnyWaiters;   // guarded by mMutex
    std::atomic<std::int32_t> mWaiters{0};
};

// The reference-counted event: always auto-reset, created unsignalled.
class LEvent : public Event, public virtual LRefCountedObject {
public:
    // The argument is accepted for the callers that pass one and ignored: an LEvent is always
    // auto-reset.
    explicit LEvent(bool autoReset = true);
};

} // namespace ZT
