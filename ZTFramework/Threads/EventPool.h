#pragma once
// A fixed set of reference-counted auto-reset events that one thread can wait on together.
// Threads: Get and WaitAny may be called from any thread; the set never changes after
// construction.

#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Threads/Event.h"

#include <cstdint>
#include <vector>

namespace ZT {

class EventPool {
public:
    explicit EventPool(std::uint32_t count);
    EventPool(const EventPool&) = delete;
    EventPool& operator=(const EventPool&) = delete;
    virtual ~EventPool() = default;

    // Waits at most timeoutMs (kInfinite: no limit) for any event; returns the index of the
    // signalled one (the lowest when several are; its signal is consumed), or kWaitAnyNone
    // (0xFFFFFFFF) on time-out or for an empty pool.
    [[nodiscard]] std::uint32_t WaitAny(std::uint32_t timeoutMs);
    // The index-th event; null past the end.
    RCPtr<LEvent> Get(std::uint32_t index) const;
    std::uint32_t GetCount() const noexcept { return static_cast<std::uint32_t>(mEvents.size()); }

private:
    std::vector<RCPtr<LEvent>> mEvents;
    std::vector<Event*> mHandles; // the same events, as WaitForAny takes them
};

} // namespace ZT
