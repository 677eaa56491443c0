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
        (void)queue->Post(copy); // a queue that has shut down takes no more
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
    // The copy is a second reference: the object itself goes into the ring.
    return Post(RCPtr<LNotification>(notification));
}

ZTRESULT LNotificationQueue::Post(RCPtr<LNotification>&& notification)
{
    if (!notification || notification->IsPending())
        return E_INVALIDARG;
    RCPtr<LNotificationDistributor> markingDistributor;
    bool wake = false;
    {
        // Posting threads and the round's hand-over hold the lock for a few instructions.
        CMutexLock lock(GetNotificationQueueMutex(), CMutexLock::Spinning::Yes);
        if (!mDistributor)
            return E_FAIL;
        if (mDistributor->HasLatestPostedOnlyClients()) {
            markingDistributor = mDistributor;
        } else {
            wake = mQueue.GetCount() == 0;
            if (notification->GetRefCount() == 1) {
                // The caller handed over the only reference: nobody else can see the object,
                // so the ring takes what it carries and the object stays with this thread.
                mQueue.EnqueueHeld(CPostedNotification(notification->GetID(), std::move(notification->mPayload)));
            } else {
                if (!notification->MarkPendingLocked())
                    return E_INVALIDARG; // posted by another thread just now
                mQueue.EnqueueHeld(CPostedNotification(std::move(notification)));
            }
        }
    }
    if (markingDistributor)
        return PostMarkingLatest(std::move(notification), markingDistributor);
    notification.Reset(); // outside the lock (pooled, or destroyed)
    if (wake)
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
    bool wake = false;
    {
        CMutexLock lock(GetNotificationQueueMutex());
        if (!mDistributor) {
            notification->ClearPending();
            return E_FAIL; // shut down meanwhile
        }
        wake = mQueue.GetCount() == 0;
        mQueue.EnqueueHeld(CPostedNotification(std::move(notification)));
    }
    if (wake)
        CallNotificationWakeHook();
    return S_OK;
}

LNotification* LNotificationQueue::PrepareDelivery(CPostedNotification& entry)
{
    if (entry.mNotification)
        return entry.mNotification.Get(); // pending since it was posted
    if (entry.mID == 0)
        return nullptr;
    // A client that kept the carrier from an earlier delivery owns it now.
    if (!mCarrier || mCarrier->GetRefCount() != 1 || mCarrier->IsPending())
        mCarrier = RCPtr<LNotification>(new LNotification);
    mCarrier->SetID(entry.mID);
    // Moved only when there is one: the entry's slot stays unwritten otherwise.
    if (entry.mPayload)
        mCarrier->mPayload = std::move(entry.mPayload);
    else
        mCarrier->mPayload.Reset();
    mCarrier->mPending.store(true, std::memory_order_relaxed); // as a posted object is until delivered
    return mCarrier.Get();
}

void LNotificationQueue::DeliverPosted()
{
    if (mProcessing.exchange(true, std::memory_order_acq_rel)) {
        // Called from inside one of our own deliveries (a loop nested in a client), which may
        // have used up the wake of what it cannot deliver: the round owes one at its end.
        mWakeOwed.store(true, std::memory_order_relaxed);
        return;
    }
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
            // Posts wake the waiter only when they find the ring empty, which the first post
            // during the round did. Whoever waits for work must also come back for what was put
            // back, and for what waits when a loop nested in a delivery may have used up that
            // wake without being able to deliver.
            const bool wakeOwed = mQueue.mWakeOwed.exchange(false, std::memory_order_relaxed);
            const bool waiting = requeued || (wakeOwed && mQueue.mQueue.GetCount() > 0);
            mQueue.mRoundRemaining.store(0, std::memory_order_release);
            mQueue.mDeliveryList.Clear();
            ReleaseNotifications(mQueue.mRound);
            mQueue.mRoundNext = 0;
            mQueue.mProcessingThread.store(std::thread::id(), std::memory_order_release);
            mQueue.mProcessing.store(false, std::memory_order_release);
            if (waiting)
                CallNotificationWakeHook();
        }
    } scope{*this};

    // Only what is waiting now; what clients post meanwhile waits for the next round.
    RCPtr<LNotificationDistributor> distributor;
    {
        CMutexLock lock(GetNotificationQueueMutex(), CMutexLock::Spinning::Yes);
        mRoundRemaining.store(mQueue.TakeAll(mRound), std::memory_order_release);
        distributor = mDistributor;
    }
    // Consecutive notifications usually share their ID: the pool found for one, and the list of
    // its clients, serve the next (pools are never removed, so a found pool stays the right one;
    // the list is made again when the pool changed).
    RCPtr<LNotificationDistributor::LNotificationClientPool> pool;
    NotificationID poolID = 0;
    while (mRoundNext < mRound.GetCount()) {
        CPostedNotification& entry = mRound[mRoundNext++];
        mRoundRemaining.store(mRound.GetCount() - mRoundNext, std::memory_order_release);
        LNotification* const notification = PrepareDelivery(entry);
        // Delivered or not (a client may throw), it is no longer pending once taken, and a
        // carrier that no client kept lets go of the payload at once (one that a client kept
        // is the client's now, payload and all, and the next entry gets a new carrier).
        struct PendingClearer {
            LNotification* mNotification;
            bool mCarrier;
            ~PendingClearer()
            {
                if (!mNotification)
                    return;
                mNotification->ClearPending();
                if (mCarrier && mNotification->GetRefCount() == 1)
                    mNotification->mPayload.Reset();
            }
        } clearer{notification, notification && !entry.mNotification};
        if (!distributor || !notification)
            continue;
        if (!pool || poolID != notification->GetID()) {
            poolID = notification->GetID();
            pool = distributor->FindPool(poolID);
        }
        if (!pool)
            continue;
        pool->FillDeliveryList(mDeliveryList);
        const RCPtr<LNotification>& delivered = entry.mNotification ? entry.mNotification : mCarrier;
        // The clients report their own failures.
        (void)pool->DistributeFrom(mDeliveryList, distributor.Get(), delivered);
    }
}

void LNotificationQueue::DiscardRestOfRound()
{
    for (; mRoundNext < mRound.GetCount(); ++mRoundNext)
        if (mRound[mRoundNext].mNotification)
            mRound[mRoundNext].mNotification->ClearPending();
    mRoundRemaining.store(0, std::memory_order_release);
}

void LNotificationQueue::SendIdle()
{
    const RCPtr<LNotificationDistributor> distributor = GetDistributor();
    if (distributor)
        (void)distributor->Send(mIdleNotification); // the clients report their own failures
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
        CPostedNotification entry;
        if (!mQueue.TryDequeue(entry))
            break;
        if (entry.mNotification)
            entry.mNotification->ClearPending();
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
    (void)Flush(); // shutting down: what waits is dropped
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
