#include "ZTFramework/Notification/NotificationCenterManager.h"

namespace ZT {

RCPtr<LNotificationCenterManager> LNotificationCenterManager::GetInstance()
{
    static const RCPtr<LNotificationCenterManager> manager(new LNotificationCenterManager);
    return manager;
}

RCPtr<LNotificationCenter> LNotificationCenterManager::GetCenter(const WString& name)
{
    if (name.IsEmpty())
        return nullptr;
    CMutexLock lock(mMutex);
    for (LNotificationCenter* center : mCenters)
        if (&center->GetName() == &name || center->GetName() == name)
            return RCPtr<LNotificationCenter>(center);
    RCPtr<LNotificationCenter> center(new LNotificationCenter(name));
    mCenters.Append(center);
    return center;
}

RCPtr<LNotificationCenter> LNotificationCenterManager::CenterAt(std::size_t index) const
{
    CMutexLock lock(mMutex);
    return index < mCenters.GetCount() ? RCPtr<LNotificationCenter>(mCenters[index]) : nullptr;
}

bool LNotificationCenterManager::ProcessAllQueues(bool idle)
{
    bool remaining = false;
    // Centers are only ever appended, so walking down by index meets each one once even when a
    // client makes a new center meanwhile.
    for (std::size_t i = GetCenterCount(); i-- > 0;) {
        const RCPtr<LNotificationCenter> center = CenterAt(i);
        if (!center)
            continue;
        center->DeliverPosted();
        if (idle)
            center->SendIdle();
        remaining = remaining || center->GetCount() > 0;
    }
    return remaining;
}

std::size_t LNotificationCenterManager::GetCenterCount() const
{
    CMutexLock lock(mMutex);
    return mCenters.GetCount();
}

} // namespace ZT
