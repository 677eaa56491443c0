#pragma once
// A notification: an ID and an optional payload, sent at once through a distributor or posted
// into a queue for later delivery on the user-interface thread.
//
// Lifecycle: free (in the pool, or just made) -> held (sent any number of times) -> pending
// (posted: in exactly one queue, cannot be posted again) -> delivered (pending cleared) -> free
// again when its last reference goes: the payload is dropped and, while pooling is on, the
// object goes back to the process-wide pool instead of being destroyed, so a stream of
// notifications from a worker does not allocate once the pool is warm.
//
// Threads: a notification is made and posted by one thread and delivered by the user-interface
// thread; the queue's mutex orders the two. The pending and recycling flags are atomic so that
// a mistaken double post from two threads is refused rather than racing.

#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Notification/NotificationID.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Threads/Mutex.h"
#include "ZTFramework/Utilities/Storage/RCPtrQueue.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace ZT {

// The unit of cache coherence on the machines we run on. Objects written by a posting thread
// and by the user-interface thread in turn are aligned to it, so that writing one never
// disturbs the other thread's work on its neighbour.
inline constexpr std::size_t kCacheLineSize = 64;

class CPostedNotification;

// Aligned to a cache line: a worker fills one notification while the user-interface thread
// delivers the one allocated next to it.
class alignas(kCacheLineSize) LNotification : public virtual LRefCountedObject {
public:
    explicit LNotification(NotificationID id = 0, RCPtr<LRefCountedObject> payload = nullptr) noexcept;
    // A copy shares the payload; it is neither pending nor recycling.
    LNotification(const LNotification& other);
    LNotification& operator=(const LNotification&) = delete;
    ~LNotification() override;

    NotificationID GetID() const noexcept { return mID; }
    void SetID(NotificationID id) noexcept { mID = id; }
    const RCPtr<LRefCountedObject>& GetPayload() const noexcept { return mPayload; }
    void SetPayload(RCPtr<LRefCountedObject> payload) noexcept { mPayload = std::move(payload); }
    // The payload as a P, or null when there is none or it is not a P.
    template <class P>
    RCPtr<P> GetPayloadAs() const
    {
        return RCPtr<P>(mPayload);
    }

    // True from the moment it is posted until its queue has delivered or discarded it.
    bool IsPending() const noexcept { return mPending.load(std::memory_order_acquire); }

    // "LNotification NID_..." (the interned name of the ID).
    StringT<wchar_t, char> ToString() const override;
    LRefCountedObject* CreateCopy() const override;
    // The last release drops the payload (unless pending) and, while pooling is on, puts the
    // object into the pool instead of destroying it.
    std::int32_t Release() const override;

private:
    friend class LNotificationQueue;
    friend void ReleaseNotifications(RCPtrQueue<LNotification, 256, Mutex, CPostedNotification>::Batch& notifications);
    // Sets the pending flag; false when it was already set. Called only under the queue mutex,
    // which makes the test and the set one step for every posting thread; the flag is cleared
    // without the lock, but only once the notification is out of its queue.
    bool MarkPendingLocked() noexcept
    {
        if (mPending.load(std::memory_order_relaxed))
            return false;
        mPending.store(true, std::memory_order_relaxed);
        return true;
    }
    void ClearPending() noexcept { mPending.store(false, std::memory_order_release); }

    NotificationID mID = 0;
    RCPtr<LRefCountedObject> mPayload;
    std::atomic<bool> mPending{false};
    mutable std::atomic<bool> mRecycling{false};
};

// A notification for the ID text (or an ID passed through NotificationIDText) with the
// payload; null when the text gives ID 0. While pooling is on, a pooled object is reused.
[[nodiscard]] RCPtr<LNotification> CreateNotification(const wchar_t* idText,
                                                      const RCPtr<LRefCountedObject>& payload = nullptr);
[[nodiscard]] inline RCPtr<LNotification> CreateNotification(NotificationID id,
                                                             const RCPtr<LRefCountedObject>& payload = nullptr)
{
    return CreateNotification(NotificationIDText(id), payload);
}

// One entry of a queue's ring: the posted notification itself, or, when the poster handed over
// the only reference to it, just its ID and payload. Then nobody can tell the object from
// another with the same contents, so it stays with the posting thread, which makes its next
// notification from it while it is still in that thread's cache, and the queue delivers the
// contents in an object of its own. Move-only; a default entry holds nothing.
class CPostedNotification {
public:
    CPostedNotification() = default;
    explicit CPostedNotification(RCPtr<LNotification>&& notification) noexcept : mNotification(std::move(notification)) {}
    CPostedNotification(NotificationID id, RCPtr<LRefCountedObject>&& payload) noexcept
        : mID(id), mPayload(std::move(payload))
    {
    }
    CPostedNotification(CPostedNotification&&) noexcept = default;
    CPostedNotification& operator=(CPostedNotification&&) noexcept = default;
    CPostedNotification(const CPostedNotification&) = delete;
    CPostedNotification& operator=(const CPostedNotification&) = delete;

    // Lets go of the references; writes nothing when there are none (the entry's slot is read by
    // the delivering thread and written again by posting threads).
    void Reset() noexcept
    {
        if (mNotification)
            mNotification.Reset();
        if (mPayload)
            mPayload.Reset();
    }

    // The posted object, or null when the entry holds its contents.
    RCPtr<LNotification> mNotification;
    NotificationID mID = 0;
    RCPtr<LRefCountedObject> mPayload;
};

// A round of notifications taken out of a queue's ring.
using NotificationBatch = RCPtrQueue<LNotification, 256, Mutex, CPostedNotification>::Batch;

// Drops every reference in notifications and empties the batch (keeping its storage).
// Payloads go first, outside any lock.
// Notifications whose last reference goes are recycled as a single release would recycle them,
// but returned to the pool under one hold of its lock: the queues release a whole delivered
// round this way, so that the user-interface thread does not contend with posting workers
// for the pool once per notification.
void ReleaseNotifications(NotificationBatch& notifications);

// Pooling is off at start. Turning it off empties the pool (the pooled objects are destroyed;
// the few another thread keeps at hand go when that thread ends).
void SetNotificationPooling(bool on);
[[nodiscard]] bool IsNotificationPoolingOn();
// How many notifications wait in the pool, the few the calling thread took ahead included
// (a thread making notifications takes them from the pool some at a time).
[[nodiscard]] std::size_t GetNotificationPoolSize();

// Makes the calling thread's notification caches (its share of the pool and its spare delivery
// lists) now instead of at its first notification. Their destructors are registered with the C
// runtime on first use, and that registration waits as long as another thread is loading a
// shared library (the loader keeps its lock for the whole load): a thread that goes on with
// notifications while a library loads beside it calls this before the load starts.
void PrepareThreadForNotifications();

} // namespace ZT
