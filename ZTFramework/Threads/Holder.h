#pragma once
// A reference-counted holder of one plain value, to pass it as a threader task's parameter:
//
//     threader.Trigger(engine, MakeRC<LHolder<ThreadWorkerTask>>(task), doneEvent);
//     ...
//     RCPtr<LHolder<ThreadWorkerTask>> holder = parameter; // null when it is something else

#include "ZTFramework/ObjectBase/RefCountedObject.h"

#include <utility>

namespace ZT {

template <class T>
class LHolder : public virtual LRefCountedObject {
public:
    LHolder() = default;
    explicit LHolder(T value) : mValue(std::move(value)) {}

    const T& Get() const noexcept { return mValue; }
    T& Get() noexcept { return mValue; }
    void Set(T value) { mValue = std::move(value); }

    LRefCountedObject* CreateCopy() const override { return new LHolder(mValue); }

private:
    T mValue{};
};

} // namespace ZT
