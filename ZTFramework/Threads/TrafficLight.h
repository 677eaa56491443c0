#pragma once
// A manual-reset event that starts unsignalled ("red"). It is an Event only to its own code: it
// cannot be handed to something that expects an Event of either kind. ZT::Thread uses the
// reference-counted form, LWrapper<TrafficLight, LRefCountedObject>, as its "finished" light, so
// that any number of joiners see the thread's end.

#include "ZTFramework/Threads/Event.h"

namespace ZT {

class TrafficLight : private Event {
public:
    TrafficLight() : Event(false) {}

    using Event::GetWaiterCount;
    using Event::IsSet;
    using Event::Reset;
    using Event::Set;
    using Event::Wait;
};

} // namespace ZT
