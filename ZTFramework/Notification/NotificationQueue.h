#pragma once
// Deferred delivery: notifications posted here (from any thread) are sent through the queue's
// distributor later, when the user-interface thread runs ProcessQueue in its idle step.
//
// Each ProcessQueue round delivers the notifications that were waiting when it started, in the
// order they were posted; notifications posted during the round wait for the next one. A round
// takes its notifications out of the ring at once but counts them as waiting until each is
// delivered, so a client that asks, flushes or shuts the queue down from its handler sees the
// rest of the round as still queued; if a client throws, the rest goes back to the front. The
// queue has no upper bound and never drops a notification. Every queue owns an idle
// notification, "NID_IDLE", which ProcessQueue(true) sends through the distributor each round.
//
// The posting receiver is a receiver that reposts what it is handed into this queue:
// registering it with a distributor turns that distributor's sends of an ID into deferred
// deliveries through the queue.
//
// Ownership: the posting receiver holds the queue by a plain pointer, and the queue holds one
// reference on itself for it (an internal reference). When the last outside reference goes,
// ReleaseInternalReferences shuts the queue down, which breaks that cycle.
//
// Threads: Post may be called on any thread; ProcessQueue, Flush, SetDistributor and Shutdown
// belong to the user-interface thread. Every queue's ring, its distributor and its posting
// receiver are guarded by one process-wide mutex (GetNotificationQueueMutex). No lock is held
// while a notification is sent. A post that finds the ring empty calls the wake hook
// (NotificationWakeHook.h) after enqueuing; posts that join notifications already waiting do
// not, since whoever waits for work has been woken for the first of them and takes them all at
// once. A round that puts notifications back, or during which a nested delivery was refused,
// calls it at its end when notifications wait.

#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Notification/Notification.h"
#include "ZTFramework/Notification/NotificationDistributor.h"
#include "ZTFramework/Notification/NotificationReceiver.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Threads/Mutex.h"
#include "ZTFramework/Utilities/Storage/RCPtrQueue.h"

#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace ZT {

// The mutex shared by every notification queue of the process. Never destroyed.
Mutex& GetNotificationQueueMutex();

class LNotificationQueue : public virtual LRefCountedObject {
public:
    class LPostingReceiver : public LNotificationReceiver {
    public:
        explicit LPostingReceiver(LNotificationQueue* queue) noexcept : mQueue(queue) {}

        // Posts a new notification with the same ID and payload into the queue; does nothing
        // once the queue has shut down. Always S_OK.
        ZTRESULT HandleNotification(LNotificationDistributor* source, const RCPtr<LNotification>& notification) override;
        // A posting receiver is unregistered by whoever registered it: E_FAIL.
        ZTRESULT Unregister(LNotificationDistributor* source, NotificationID id) override;

    private:
        friend class LNotificationQueue;
        std::atomic<LNotificationQueue*> mQueue;
    };

    LNotificationQueue();
    LNotificationQueue(const LNotificationQueue&) = delete;
    LNotificationQueue& operator=(const LNotificationQueue&) = delete;
    ~LNotificationQueue() override;

    // E_INVALIDARG for a null notification or one already pending in a queue; E_FAIL when the
    // queue has no distributor (never set, or shut down); S_OK when queued.
    [[nodiscard]] ZTRESULT Post(const RCPtr<LNotification>& notification);
    // The same, handing the caller's reference over to the queue (Post(CreateNotification(...))):
    // the notification's count is not touched on the way in. On failure it stays with the caller.
    [[nodiscard]] ZTRESULT Post(RCPtr<LNotification>&& notification);

    // Delivers what was waiting when it started (nothing when called from inside a delivery of
    // this queue), then, when idle, sends the idle notification. True when notifications
    // remain afterwards.
    bool ProcessQueue(bool idle);
    // Discards what is waiting without delivering it. True when notifications remain.
    bool Flush();

    // E_FAIL when a distributor is already set or the queue has shut down; S_OK otherwise (a
    // null distributor changes nothing).
    [[nodiscard]] ZTRESULT SetDistributor(LNotificationDistributor* distributor);
    // Discards what is waiting, lets go of the distributor and the posting receiver. Posts fail
    // afterwards. A second call does nothing.
    void Shutdown();

    [[nodiscard]] RCPtr<LNotificationDistributor> GetDistributor() const;
    // Null once the queue has shut down.
    [[nodiscard]] RCPtr<LPostingReceiver> GetPostingReceiver() const;
    [[nodiscard]] const RCPtr<LNotification>& GetIdleNotification() const noexcept { return mIdleNotification; }
    // How many notifications wait, those of a round in progress included.
    [[nodiscard]] std::size_t GetCount() const
    {
        return mQueue.GetCount() + mRoundRemaining.load(std::memory_order_acquire);
    }

    // Shuts the queue down when its last outside reference goes.
    ZTRESULT ReleaseInternalReferences() override;

    // The two halves of ProcessQueue, for the center manager, which runs them per center.
    void DeliverPosted();
    void SendIdle();

protected:
    // Makes the queue deliver through the object it is part of (a notification center): the
    // reference the queue then holds on it is counted as internal.
    [[nodiscard]] ZTRESULT SetOwnDistributor(LNotificationDistributor* self);

private:
    // The notification to deliver for entry: the posted object, or the carrier filled with the
    // entry's contents. Marks it pending; null for an empty entry.
    LNotification* PrepareDelivery(CPostedNotification& entry);
    // Posts the slow way, marking latest-posted-only clients first.
    ZTRESULT PostMarkingLatest(RCPtr<LNotification>&& notification, const RCPtr<LNotificationDistributor>& distributor);

    // Discards what is left of the round in progress (a client flushing from its handler).
    void DiscardRestOfRound();

    // Posting threads write the ring and the user-interface thread the round, both for every
    // notification: they sit on cache lines of their own, so the two threads do not slow each
    // other down by writing to one line.
    alignas(kCacheLineSize) RCPtrQueue<LNotification, 256, Mutex, CPostedNotification> mQueue;
    alignas(kCacheLineSize) std::atomic<bool> mProcessing{false};
    // The round in progress: DeliverPosted takes everything waiting out of the ring at once
    // and delivers from here. Touched only by the processing thread (while mProcessing is set);
    // a new round reuses the storage, so rounds do not allocate.
    NotificationBatch mRound;
    // Delivers the entries that carry only contents (see CPostedNotification); replaced when a
    // client kept a reference to it.
    RCPtr<LNotification> mCarrier;
    std::size_t mRoundNext = 0;
    std::atomic<std::size_t> mRoundRemaining{0};
    std::atomic<std::thread::id> mProcessingThread{};
    // Set when a delivery of this queue was refused because a round was in progress.
    std::atomic<bool> mWakeOwed{false};
    // The clients of the round's current ID, kept while consecutive notifications share it.
    LNotificationDistributor::CDeliveryList mDeliveryList;
    // Guarded by the queue mutex.
    alignas(kCacheLineSize) RCPtr<LNotificationDistributor> mDistributor;
    RCPtr<LPostingReceiver> mPostingReceiver;
    bool mDistributorIsSelf = false;
    const RCPtr<LNotification> mIdleNotification;
};

} // namespace ZT
