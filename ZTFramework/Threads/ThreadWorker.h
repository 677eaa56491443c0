#pragma once
// Work that a RetriggerableThreader runs on its thread: the update engine's firmware download,
// the thread pool's dispatch. DoWork runs on the threader's thread, one call at a time per
// threader; its result becomes the threader's last result.

#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"

namespace ZT {

class LThreadWorker : public virtual LRefCountedObject {
public:
    // parameter is the one given to Trigger, possibly null; workers recover their own parameter
    // type by a checked cast (RCPtr<LHolder<T>> holder = parameter; null when it is not one).
    virtual ZTRESULT DoWork(const RCPtr<LRefCountedObject>& parameter) = 0;
};

} // namespace ZT
