#include "ZTFramework/Notification/Notification.h"

#include "ZTFramework/Notification/NotificationDistributor.h"

#include "ZTFramework/Utilities/Storage/StringT.h"

#include <algorithm>
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
    // Takes from and gives back at the end. A vector never shrinks on its own, so once it has
    // grown to the largest number of notifications in flight it no longer allocates.
    std::vector<RCPtr<LNotification>> mFree;
    // Read without the lock for every notification made or released, written only when pooling
    // is turned on or off: on a line of their own, away from the lock that the threads write.
    // Releasing with pooling off costs no lock.
    alignas(kCacheLineSize) std::atomic<bool> mOn{false};
};

NotificationPool& GetPool()
{
    static NotificationPool* const pool = new NotificationPool;
    return *pool;
}

// Set when this thread's cache has been destroyed (the thread is ending): releases after that go
// to the shared pool. Trivially destructible, so it can be read to the very end of the thread.
thread_local bool tThreadCacheGone = false;

// The notifications a thread keeps at hand while pooling is on: those whose last reference
// went on this thread (up to kKeep), and those it took from the shared pool, kRefill at a time.
// A thread that makes a stream of notifications thus reuses the same few objects, still in its
// processor's cache, and takes the pool's lock once per kRefill of them at most; it does not
// meet the user-interface thread on that lock, which gives whole delivered rounds back.
// What a thread holds when it ends goes back to the pool (or is destroyed, pooling being off).
// Turning pooling off destroys the calling thread's cache; other threads' caches go when those
// threads end.
struct ThreadCache {
    static constexpr std::size_t kRefill = 32;
    static constexpr std::size_t kKeep = 64;

    ~ThreadCache()
    {
        tThreadCacheGone = true;
        NotificationPool& pool = GetPool();
        {
            std::lock_guard lock(pool.mLock);
            if (pool.mOn.load(std::memory_order_relaxed))
                for (RCPtr<LNotification>& item : mItems)
                    pool.mFree.push_back(std::move(item));
        }
        mItems.clear(); // destroys what the pool did not take, outside its lock
    }
    // Keeps a notification whose last reference goes on this thread (the reference passes to
    // the cache). False when the cache is full: it then goes to the shared pool.
    bool Keep(LNotification* notification)
    {
        if (mItems.size() >= kKeep)
            return false;
        if (mItems.capacity() == 0)
            mItems.reserve(kKeep);
        mItems.emplace_back(notification);
        return true;
    }
    // Pops a notification, refilling from the pool when empty. Null when the pool is empty too
    // (or pooling is off).
    RCPtr<LNotification> Take(NotificationPool& pool)
    {
        if (mItems.empty()) {
            std::lock_guard lock(pool.mLock);
            if (!pool.mOn.load(std::memory_order_relaxed))
                return nullptr;
            const std::size_t count = std::min(kRefill, pool.mFree.size());
            for (std::size_t i = 0; i < count; ++i) {
                mItems.push_back(std::move(pool.mFree.back()));
                pool.mFree.pop_back();
            }
            if (mItems.empty())
                return nullptr;
        }
        RCPtr<LNotification> item = std::move(mItems.back());
        mItems.pop_back();
        return item;
    }

    std::vector<RCPtr<LNotification>> mItems;
};

// Null once the thread's cache is gone.
ThreadCache* GetThreadCache()
{
    if (tThreadCacheGone)
        return nullptr;
    thread_local ThreadCache cache;
    return &cache;
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
            // The releasing thread is usually the one that makes the next notification: it keeps
            // a few for that, still in its processor's cache; the rest go to the shared pool.
            ThreadCache* const cache = GetThreadCache();
            if (!cache || !cache->Keep(self)) {
                std::lock_guard lock(pool.mLock);
                if (pool.mOn.load(std::memory_order_relaxed))
                    pool.mFree.emplace_back(self);
            }
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
    if (pool.mOn.load(std::memory_order_acquire))
        if (ThreadCache* const cache = GetThreadCache())
            notification = cache->Take(pool);
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
    const std::size_t count = notifications.GetCount();
    // Holders of a notification have a reference, so one whose count is 1 here is ours alone
    // and cannot be taken meanwhile. Its payload goes outside the lock (a payload's destructor
    // may do anything), and our reference passes to the pool as it is. The recycled ones are
    // gathered at the front of the batch; entries that carried only contents just drop them.
    const bool pooling = pool.mOn.load(std::memory_order_acquire);
    std::size_t recycled = 0;
    for (std::size_t i = 0; i < count; ++i) {
        CPostedNotification& entry = notifications[i];
        if (entry.mPayload)
            entry.mPayload.Reset();
        RCPtr<LNotification>& notification = entry.mNotification;
        if (pooling && notification && notification->GetRefCount() == 1 && !notification->IsPending() &&
            !notification->mRecycling.load(std::memory_order_acquire)) {
            if (notification->mPayload)
                notification->mPayload.Reset();
            if (recycled != i)
                notifications[recycled].mNotification = std::move(notification);
            ++recycled;
        } else if (notification) {
            notification.Reset();
        }
    }
    if (recycled > 0) {
        std::lock_guard lock(pool.mLock);
        if (pool.mOn.load(std::memory_order_relaxed)) {
            pool.mFree.reserve(pool.mFree.size() + recycled);
            for (std::size_t i = 0; i < recycled; ++i)
                pool.mFree.push_back(std::move(notifications[i].mNotification));
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
    // Destroyed here, outside the lock: with pooling off they do not come back. Other threads'
    // caches go when those threads end.
    if (!on)
        if (ThreadCache* const cache = GetThreadCache())
            cache->mItems.clear();
}

void PrepareThreadForNotifications()
{
    (void)GetThreadCache(); // made on first use: this is that use
    PrepareThreadForDeliveries();
}

bool IsNotificationPoolingOn()
{
    return GetPool().mOn.load(std::memory_order_acquire);
}

std::size_t GetNotificationPoolSize()
{
    NotificationPool& pool = GetPool();
    const ThreadCache* const cache = GetThreadCache();
    std::lock_guard lock(pool.mLock);
    return pool.mFree.size() + (cache ? cache->mItems.size() : 0);
}

} // namespace ZT
