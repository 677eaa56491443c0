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

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace ZT {

class LNotification : public virtual LRefCountedObject {
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
    // Sets the pending flag; false when it was already set.
    bool MarkPending() noexcept { return !mPending.exchange(true, std::memory_order_acq_rel); }
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

// Pooling is off at start. Turning it off empties the pool (the pooled objects are destroyed).
void SetNotificationPooling(bool on);
[[nodiscard]] bool IsNotificationPoolingOn();
// How many notifications wait in the pool.
[[nodiscard]] std::size_t GetNotificationPoolSize();

} // namespace ZT
