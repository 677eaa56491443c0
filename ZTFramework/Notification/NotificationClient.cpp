#include "ZTFramework/Notification/NotificationClient.h"

#include "ZTFramework/Notification/Notification.h"
#include "ZTFramework/Notification/NotificationDistributor.h"

namespace ZT {

ZTRESULT LNotificationClient::HandleNotification(LNotificationDistributor*, const RCPtr<LNotification>&)
{
    return S_OK;
}

NotificationID LNotificationClient::Register(LNotificationDistributor* source, const wchar_t* idText, std::uint32_t flags)
{
    if (!source)
        return 0;
    const NotificationID id = InternNotificationID(idText);
    if (id == 0)
        return 0;
    const ZTRESULT result = source->AddClient(this, id, flags);
    if (result == S_OK) {
        // The pool's reference to this client is one of our own cycles.
        AddInternalReference();
        mRegistrationCount.fetch_add(1, std::memory_order_acq_rel);
    }
    if (result == S_OK || result == S_FALSE) {
        CMutexLock lock(mListMutex);
        if (mDistributors.Find(source) < 0)
            mDistributors.Append(source);
    }
    return id;
}

ZTRESULT LNotificationClient::Unregister(LNotificationDistributor* source, NotificationID id)
{
    if (GetRegistrationCount() < 1)
        return S_FALSE;
    if (!source || id == 0)
        return E_INVALIDARG;
    // The source's reference for this registration goes during RemoveClient; this one keeps it
    // alive until we are done with it.
    const RCPtr<LNotificationDistributor> keepSource(source);
    RCPtr<LNotificationDistributor::LNotificationRegisteredClientInfo> removed;
    const ZTRESULT result = source->RemoveClient(this, id, removed);
    if (result == S_OK) {
        // Drop the internal count before the entry lets go of its reference to us, so that the
        // release sees how many outside references really remain.
        DropInternalReference();
        mRegistrationCount.fetch_sub(1, std::memory_order_acq_rel);
        ForgetDistributorIfUnused(source);
    }
    removed.Reset();
    return result;
}

void LNotificationClient::ForgetDistributorIfUnused(LNotificationDistributor* source)
{
    if (source->IsClientRegistered(this))
        return;
    CMutexLock lock(mListMutex);
    const std::ptrdiff_t index = mDistributors.Find(source);
    if (index >= 0)
        mDistributors.RemoveItem(static_cast<std::size_t>(index));
}

ZTRESULT LNotificationClient::ReleaseInternalReferences()
{
    const std::int32_t registrations = GetRegistrationCount();
    if (registrations < 1)
        return LNotificationReceiver::ReleaseInternalReferences();
    for (std::int32_t i = 0; i < registrations; ++i)
        DropInternalReference();
    for (;;) {
        LNotificationDistributor* distributor = nullptr;
        {
            CMutexLock lock(mListMutex);
            if (mDistributors.IsEmpty())
                break;
            distributor = mDistributors[mDistributors.GetCount() - 1];
            mDistributors.RemoveItem(mDistributors.GetCount() - 1);
        }
        // May release the distributor's last reference; it is not touched afterwards.
        (void)distributor->RemoveClientEverywhere(this);
    }
    mRegistrationCount.store(0, std::memory_order_release);
    return LNotificationReceiver::ReleaseInternalReferences();
}

} // namespace ZT
