#include "ZTFramework/Threads/EventPool.h"

namespace ZT {

EventPool::EventPool(std::uint32_t count)
{
    mEvents.reserve(count);
    mHandles.reserve(count);
    for (std::uint32_t index = 0; index < count; ++index) {
        mEvents.push_back(MakeRC<LEvent>(true));
        mHandles.push_back(mEvents.back().Get());
    }
}

std::uint32_t EventPool::WaitAny(std::uint32_t timeoutMs)
{
    return Event::WaitForAny(mHandles, timeoutMs);
}

RCPtr<LEvent> EventPool::Get(std::uint32_t index) const
{
    if (index >= mEvents.size())
        return nullptr;
    return mEvents[index];
}

} // namespace ZT
