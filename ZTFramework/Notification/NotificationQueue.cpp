#include "ZTFramework/Notification/NotificationQueue.h"

#include "ZTFramework/Notification/NotificationDistributor.h"
#include "ZTFramework/Notification/NotificationWakeHook.h"

#include <utility>

namespace ZT {

Mutex& GetNotificationQueueMutex()
{
    static Mutex* const mutex = new Mutex;
    return *mutex;
}


// ---------------------------------------------------------------------------------------------
// Posting receiver

ZTRESULT LNotificationQueue::LPostingReceiver::HandleNotification(LNotificationDistributor*,
                                                                  const RCPtr<LNotification>& notification)
{
    LNotificationQueue* queue = mQueue.load(std::memory_order_acquire);
    if (!queue || !notification)
        return S_OK;
    const RCPtr<LNotification> copy = CreateNotification(notification->GetID(), notification->GetPayload());
    if (copy)
        (void)queue->Post(copy);
    return S_OK;
}

ZTRESULT LNotificationQueue::LPostingReceiver::Unregister(LNotificationDistributor*, NotificationID)
{
    return E_FAIL;
}

// ---------------------------------------------------------------------------------------------
// Queue

LNotificationQueue::LNotificationQueue()
    : mQueue(&GetNotificationQueueMutex()), mPostingReceiver(new LPostingReceiver(this)),
      mIdleNotification(new LNotification(InternNotificationID(L"NID_IDLE")))
{
    // The posting receiver's back pointer, counted as a reference to ourselves.
    AddRef();
    AddInternalReference();
}

LNotificationQueue::~LNotificationQueue() = default;

ZTRESULT LNotificationQueue::Post(const RCPtr<LNotification>& notification)
{
    if (!notification || notification->IsPending())
        return E_INVALIDARG;
    RCPtr<LNotificationDistributor> markingDistributor;
    {
        CMutexLock lock(GetNotificationQueueMutex());
        if (!mDistributor)
            return E_FAIL;
        if (mDistributor->HasLatestPostedOnlyClients()) {
            markingDistributor = mDistributor;
        } else {
            if (!notification->MarkPending())
                return E_INVALIDARG; // posted by another thread just now
            mQueue.Enqueue(notification);
        }
    }
    if (markingDistributor)
        return PostMarkingLatest(notification, markingDistributor);
    CallNotificationWakeHook();
    return S_OK;
}

ZTRESULT LNotificationQueue::PostMarkingLatest(const RCPtr<LNotification>& notification,
                                               const RCPtr<LNotificationDistributor>& distributor)
{
    if (!notification->MarkPending())
        return E_INVALIDARG;
    // The distributor's and pools' locks are not taken under the queue mutex: a client that
    // posts from its Unregister (called under the distributor's lock) would otherwise take the
    // two in the other order.
    const RCPtr<LNotificationDistributor::LNotificationClientPool> pool = distributor->FindPool(notification->GetID());
    if (pool && (pool->GetFlagsUnion() & kNotifyLatestPostedOnly))
        pool->SetLatestPosted(notification);
    {
        CMutexLock lock(GetNotificationQueueMutex());
        if (!mDistributor) {
            notification->ClearPending();
            return E_FAIL; // shut down meanwhile
        }
        mQueue.Enqueue(notification);
    }
    CallNotificationWakeHook();
    return S_OK;
}

void LNotificationQueue::DeliverPosted()
{
    if (mProcessing.exchange(true, std::memory_order_acq_rel))
        return; // called from inside one of our own deliveries
    struct ProcessingScope {
        std::atomic<bool>& mFlag;
        ~ProcessingScope() { mFlag.store(false, std::memory_order_release); }
    } scope{mProcessing};

    // Only what is waiting now; what clients post meanwhile waits for the next round.
    for (std::size_t count = mQueue.GetCount(); count > 0; --count) {
        RCPtr<LNotification> notification;
        if (!mQueue.TryDequeue(notification))
            break; // flushed by a client
        // Delivered or not (a client may throw), it is no longer pending once out of the ring.
        struct PendingClearer {
            LNotification* mNotification;
            ~PendingClearer()
            {
                if (mNotification)
                    mNotification->ClearPending();
            }
        } clearer{notification.Get()};
        const RCPtr<LNotificationDistributor> distributor = GetDistributor();
        if (distributor && notification)
            (void)distributor->Send(notification);
    }
}

void LNotificationQueue::SendIdle()
{
    const RCPtr<LNotificationDistributor> distributor = GetDistributor();
    if (distributor)
        (void)distributor->Send(mIdleNotification);
}

bool LNotificationQueue::ProcessQueue(bool idle)
{
    DeliverPosted();
    if (idle)
        SendIdle();
    return GetCount() > 0;
}

bool LNotificationQueue::Flush()
{
    for (std::size_t count = mQueue.GetCount(); count > 0; --count) {
        RCPtr<LNotification> notification;
        if (!mQueue.TryDequeue(notification))
            break;
        if (notification)
            notification->ClearPending();
    }
    return GetCount() > 0;
}

ZTRESULT LNotificationQueue::SetDistributor(LNotificationDistributor* distributor)
{
    CMutexLock lock(GetNotificationQueueMutex());
    if (mDistributor || !mPostingReceiver)
        return E_FAIL;
    if (distributor)
        mDistributor = distributor;
    return S_OK;
}

ZTRESULT LNotificationQueue::SetOwnDistributor(LNotificationDistributor* self)
{
    CMutexLock lock(GetNotificationQueueMutex());
    if (!self || mDistributor || !mPostingReceiver)
        return E_FAIL;
    mDistributor = self;
    mDistributorIsSelf = true;
    AddInternalReference();
    return S_OK;
}

RCPtr<LNotificationDistributor> LNotificationQueue::GetDistributor() const
{
    CMutexLock lock(GetNotificationQueueMutex());
    return mDistributor;
}

RCPtr<LNotificationQueue::LPostingReceiver> LNotificationQueue::GetPostingReceiver() const
{
    CMutexLock lock(GetNotificationQueueMutex());
    return mPostingReceiver;
}

void LNotificationQueue::Shutdown()
{
    (void)Flush();
    RCPtr<LNotificationDistributor> distributor;
    RCPtr<LPostingReceiver> receiver;
    bool distributorIsSelf = false;
    {
        CMutexLock lock(GetNotificationQueueMutex());
        if (!mPostingReceiver)
            return;
        distributor = std::move(mDistributor);
        receiver = std::move(mPostingReceiver);
        distributorIsSelf = std::exchange(mDistributorIsSelf, false);
    }
    receiver->mQueue.store(nullptr, std::memory_order_release);
    receiver.Reset();
    // Each internal count goes before the reference it stands for, so that the releases see
    // how many outside references really remain.
    if (distributorIsSelf)
        DropInternalReference();
    distributor.Reset();
    DropInternalReference();
    Release(); // the posting receiver's reference; nothing of this object is touched afterwards
}

ZTRESULT LNotificationQueue::ReleaseInternalReferences()
{
    Shutdown();
    return LRefCountedObject::ReleaseInternalReferences();
}

} // namespace ZT
