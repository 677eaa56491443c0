#include "ZTFramework/Notification/NotificationQueue.h"

#include "ZTFramework/Notification/NotificationDistributor.h"
#include "ZTFramework/Notification/NotificationWakeHook.h"

#include <utility>

namespace ZT {

Mutex& GetNotificationQueueMutex()
{
    // On a cache line of its own: posting threads take it for every notification they post.
    struct alignas(kCacheLineSize) PaddedMutex {
        Mutex mMutex;
    };
    static PaddedMutex* const mutex = new PaddedMutex;
    return mutex->mMutex;
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
    return Post(RCPtr<LNotification>(notification));
}

ZTRESULT LNotificationQueue::Post(RCPtr<LNotification>&& notification)
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
            if (!notification->MarkPendingLocked())
                return E_INVALIDARG; // posted by another thread just now
            mQueue.EnqueueHeld(std::move(notification));
        }
    }
    if (markingDistributor)
        return PostMarkingLatest(std::move(notification), markingDistributor);
    CallNotificationWakeHook();
    return S_OK;
}

ZTRESULT LNotificationQueue::PostMarkingLatest(RCPtr<LNotification>&& notification,
                                               const RCPtr<LNotificationDistributor>& distributor)
{
    {
        CMutexLock lock(GetNotificationQueueMutex());
        if (!notification->MarkPendingLocked())
            return E_INVALIDARG;
    }
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
        mQueue.EnqueueHeld(std::move(notification));
    }
    CallNotificationWakeHook();
    return S_OK;
}

void LNotificationQueue::DeliverPosted()
{
    if (mProcessing.exchange(true, std::memory_order_acq_rel))
        return; // called from inside one of our own deliveries
    mProcessingThread.store(std::this_thread::get_id(), std::memory_order_release);
    // Ends the round also when a client throws: what was not delivered goes back to the front
    // of the ring, still pending, and the delivered notifications are released in one batch.
    struct RoundScope {
        LNotificationQueue& mQueue;
        ~RoundScope()
        {
            const bool requeued = mQueue.mRoundNext < mQueue.mRound.GetCount();
            if (requeued)
                mQueue.mQueue.RequeueFront(mQueue.mRound, mQueue.mRoundNext);
            mQueue.mRoundRemaining.store(0, std::memory_order_release);
            mQueue.mDeliveryList.Clear();
            ReleaseNotifications(mQueue.mRound);
            mQueue.mRoundNext = 0;
            mQueue.mProcessingThread.store(std::thread::id(), std::memory_order_release);
            mQueue.mProcessing.store(false, std::memory_order_release);
            // Whoever waits for work must come back for what was put back.
            if (requeued)
                CallNotificationWakeHook();
        }
    } scope{*this};

    // Only what is waiting now; what clients post meanwhile waits for the next round.
    RCPtr<LNotificationDistributor> distributor;
    {
        CMutexLock lock(GetNotificationQueueMutex());
        mRoundRemaining.store(mQueue.TakeAll(mRound), std::memory_order_release);
        distributor = mDistributor;
    }
    // Consecutive notifications usually share their ID: the pool found for one, and the list of
    // its clients, serve the next (pools are never removed, so a found pool stays the right one;
    // the list is made again when the pool changed).
    RCPtr<LNotificationDistributor::LNotificationClientPool> pool;
    NotificationID poolID = 0;
    while (mRoundNext < mRound.GetCount()) {
        const RCPtr<LNotification>& notification = mRound[mRoundNext++];
        mRoundRemaining.store(mRound.GetCount() - mRoundNext, std::memory_order_release);
        // Delivered or not (a client may throw), it is no longer pending once taken.
        struct PendingClearer {
            LNotification* mNotification;
            ~PendingClearer()
            {
                if (mNotification)
                    mNotification->ClearPending();
            }
        } clearer{notification.Get()};
        if (!distributor || !notification)
            continue;
        if (!pool || poolID != notification->GetID()) {
            poolID = notification->GetID();
            pool = distributor->FindPool(poolID);
        }
        if (!pool)
            continue;
        pool->FillDeliveryList(mDeliveryList);
        (void)pool->DistributeFrom(mDeliveryList, distributor.Get(), notification);
    }
}

void LNotificationQueue::DiscardRestOfRound()
{
    for (; mRoundNext < mRound.GetCount(); ++mRoundNext)
        if (mRound[mRoundNext])
            mRound[mRoundNext]->ClearPending();
    mRoundRemaining.store(0, std::memory_order_release);
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
    if (mProcessing.load(std::memory_order_acquire) &&
        mProcessingThread.load(std::memory_order_acquire) == std::this_thread::get_id())
        DiscardRestOfRound();
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
