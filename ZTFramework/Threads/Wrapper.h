#pragma once
// Gives a plain class a second base, usually the reference-counted object:
// LWrapper<TrafficLight, LRefCountedObject> is a TrafficLight that RCPtr can hold.

#include <utility>

namespace ZT {

template <class T, class Base>
class LWrapper : public T, public virtual Base {
public:
    template <class... Args>
    explicit LWrapper(Args&&... args) : T(std::forward<Args>(args)...)
    {
    }
};

} // namespace ZT
