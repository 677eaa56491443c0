#include "ZTFramework/Notification/Notification.h"

#include "ZTFramework/Utilities/Storage/StringT.h"

#include <atomic>
#include <utility>
#include <vector>

namespace ZT {

namespace {

// Guarded by the notification table mutex. Never destroyed: notifications may be released by
// static destructors after this file's statics would be gone.
struct NotificationPool {
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
            CMutexLock lock(GetNotificationTableMutex());
            if (pool.mOn.load(std::memory_order_relaxed))
                pool.mFree.emplace_back(self);
        }
        mRecycling.store(false, std::memory_order_release);
    }
    return LRefCountedObject::Release();
}

RCPtr<LNotification> CreateNotification(const wchar_t* idText, const RCPtr<LRefCountedObject>& payload)
{
    RCPtr<LNotification> notification;
    NotificationID id = 0;
    {
        CMutexLock lock(GetNotificationTableMutex());
        id = InternNotificationID(idText);
        if (id == 0)
            return nullptr;
        NotificationPool& pool = GetPool();
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

void SetNotificationPooling(bool on)
{
    std::vector<RCPtr<LNotification>> released;
    {
        CMutexLock lock(GetNotificationTableMutex());
        NotificationPool& pool = GetPool();
        pool.mOn.store(on, std::memory_order_release);
        if (!on)
            released.swap(pool.mFree);
    }
    // Destroyed here, outside the lock: with pooling off they do not come back.
}

bool IsNotificationPoolingOn()
{
    CMutexLock lock(GetNotificationTableMutex());
    return GetPool().mOn.load(std::memory_order_acquire);
}

std::size_t GetNotificationPoolSize()
{
    CMutexLock lock(GetNotificationTableMutex());
    return GetPool().mFree.size();
}

} // namespace ZT
