#include "ZTFramework/Notification/Notification.h"

#include "ZTFramework/Utilities/Storage/StringT.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace ZT {

namespace {

// A spin lock for the pool: its critical sections are a handful of pointer moves (a whole
// delivered round at most), and a posting thread takes it for every notification it makes, so
// a futex round trip on every brief collision would cost more than the work it protects.
class CPoolLock {
public:
    void lock() noexcept
    {
        for (int spins = 0; mLocked.exchange(true, std::memory_order_acquire);) {
            while (mLocked.load(std::memory_order_relaxed)) {
                if (++spins > 64)
                    std::this_thread::yield();
            }
        }
    }
    void unlock() noexcept { mLocked.store(false, std::memory_order_release); }

private:
    std::atomic<bool> mLocked{false};
};

// Never destroyed: notifications may be released by static destructors after this file's
// statics would be gone.
struct alignas(kCacheLineSize) NotificationPool {
    CPoolLock mLock; // guards mFree
    // Read without the lock on the release path, so that releasing with pooling off costs no lock.
    std::atomic<bool> mOn{false};
    // Takes from and gives back at the end. A vector never shrinks on its own, so once it has
    // grown to the largest number of notifications in flight it no longer allocates.
    std::vector<RCPtr<LNotification>> mFree;
};

NotificationPool& GetPool()
{
    static NotificationPool* const pool = new NotificationPool;
    return *pool;
}

} // namespace

LNotification::LNotification(NotificationID id, RCPtr<LRefCountedObject> payload) noexcept
    : mID(id), mPayload(std::move(payload))
{
}

LNotification::LNotification(const LNotification& other)
    : LRefCountedObject(other), mID(other.mID), mPayload(other.mPayload)
{
}

LNotification::~LNotification() = default;

StringT<wchar_t, char> LNotification::ToString() const
{
    WString text(L"LNotification ");
    text += GetNotificationName(mID);
    return text;
}

LRefCountedObject* LNotification::CreateCopy() const
{
    return new LNotification(*this);
}

std::int32_t LNotification::Release() const
{
    if (!mRecycling.load(std::memory_order_acquire) && GetRefCount() == 1) {
        mRecycling.store(true, std::memory_order_release);
        auto* self = const_cast<LNotification*>(this);
        if (!IsPending())
            self->mPayload.Reset();
        NotificationPool& pool = GetPool();
        if (pool.mOn.load(std::memory_order_acquire)) {
            std::lock_guard lock(pool.mLock);
            if (pool.mOn.load(std::memory_order_relaxed))
                pool.mFree.emplace_back(self);
        }
        mRecycling.store(false, std::memory_order_release);
    }
    return LRefCountedObject::Release();
}

RCPtr<LNotification> CreateNotification(const wchar_t* idText, const RCPtr<LRefCountedObject>& payload)
{
    const NotificationID id = InternNotificationID(idText);
    if (id == 0)
        return nullptr;
    RCPtr<LNotification> notification;
    NotificationPool& pool = GetPool();
    if (pool.mOn.load(std::memory_order_acquire)) {
        std::lock_guard lock(pool.mLock);
        if (pool.mOn.load(std::memory_order_relaxed) && !pool.mFree.empty()) {
            notification = std::move(pool.mFree.back());
            pool.mFree.pop_back();
        }
    }
    if (!notification)
        return RCPtr<LNotification>(new LNotification(id, payload));
    // A notification that is still pending somewhere keeps what it carries.
    if (!notification->IsPending()) {
        notification->SetID(id);
        notification->SetPayload(payload);
    }
    return notification;
}

void ReleaseNotifications(NotificationBatch& notifications)
{
    NotificationPool& pool = GetPool();
    if (!pool.mOn.load(std::memory_order_acquire)) {
        notifications.Clear();
        return;
    }
    // Holders of a notification have a reference, so one whose count is 1 here is ours alone
    // and cannot be taken meanwhile. Its payload goes outside the lock (a payload's destructor
    // may do anything), and our reference passes to the pool as it is. The recycled ones are
    // gathered at the front of the batch.
    const std::size_t count = notifications.GetCount();
    std::size_t recycled = 0;
    for (std::size_t i = 0; i < count; ++i) {
        RCPtr<LNotification>& notification = notifications[i];
        if (notification && notification->GetRefCount() == 1 && !notification->IsPending() &&
            !notification->mRecycling.load(std::memory_order_acquire)) {
            if (notification->mPayload)
                notification->mPayload.Reset();
            if (recycled != i)
                notifications[recycled] = std::move(notification);
            ++recycled;
        } else {
            notification.Reset();
        }
    }
    {
        std::lock_guard lock(pool.mLock);
        if (pool.mOn.load(std::memory_order_relaxed)) {
            pool.mFree.reserve(pool.mFree.size() + recycled);
            for (std::size_t i = 0; i < recycled; ++i)
                pool.mFree.push_back(std::move(notifications[i]));
        }
    }
    notifications.Clear(); // what pooling, turned off meanwhile, did not take
}

void SetNotificationPooling(bool on)
{
    NotificationPool& pool = GetPool();
    std::vector<RCPtr<LNotification>> released;
    {
        std::lock_guard lock(pool.mLock);
        pool.mOn.store(on, std::memory_order_release);
        if (!on)
            released.swap(pool.mFree);
    }
    // Destroyed here, outside the lock: with pooling off they do not come back.
}

bool IsNotificationPoolingOn()
{
    return GetPool().mOn.load(std::memory_order_acquire);
}

std::size_t GetNotificationPoolSize()
{
    NotificationPool& pool = GetPool();
    std::lock_guard lock(pool.mLock);
    return pool.mFree.size();
}

} // namespace ZT
