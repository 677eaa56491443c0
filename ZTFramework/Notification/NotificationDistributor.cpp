#include "ZTFramework/Notification/NotificationDistributor.h"

#include "ZTFramework/Notification/Notification.h"

#include <memory>
#include <utility>
#include <vector>

namespace ZT {

using RegisteredClientInfo = LNotificationDistributor::LNotificationRegisteredClientInfo;
using ClientPool = LNotificationDistributor::LNotificationClientPool;

LNotificationDistributor::LNotificationRegisteredClientInfo::LNotificationRegisteredClientInfo(
    LNotificationReceiver* client, std::uint32_t flags)
    : mClient(client), mFlags(flags)
{
}

// ---------------------------------------------------------------------------------------------
// Client pool

LNotificationDistributor::LNotificationClientPool::LNotificationClientPool(NotificationID id) : mID(id) {}

std::uint32_t ClientPool::GetFlagsUnion() const
{
    CMutexLock lock(mMutex);
    return mFlagsUnion;
}

std::size_t ClientPool::GetClientCount() const
{
    CMutexLock lock(mMutex);
    return mEntries.GetCount();
}

void ClientPool::LinkLocked(DeliveryCursor& cursor) noexcept
{
    cursor.mNext = mCursors;
    mCursors = &cursor;
}

void ClientPool::UnlinkLocked(DeliveryCursor& cursor) noexcept
{
    for (DeliveryCursor** link = &mCursors; *link; link = &(*link)->mNext) {
        if (*link == &cursor) {
            *link = cursor.mNext;
            return;
        }
    }
}

void ClientPool::Unlink(DeliveryCursor& cursor) noexcept
{
    CMutexLock lock(mMutex);
    UnlinkLocked(cursor);
}

bool ClientPool::TakesLocked(RegisteredClientInfo& entry, const LNotification* notification)
{
    if (entry.mRemoved)
        return false;
    if (entry.mFlags & kNotifyLatestPostedOnly) {
        if (entry.mLatestPosted.Get() != notification)
            return false;
        // The caller holds the notification, so this never destroys it under the lock.
        entry.mLatestPosted.Reset();
    }
    return true;
}

void ClientPool::FillDeliveryList(CDeliveryList& list) const
{
    if (list.mPool == this && list.mGeneration == mGeneration.load(std::memory_order_acquire))
        return;
    list.Clear();
    CMutexLock lock(mMutex);
    list.mPool = this;
    list.mGeneration = mGeneration.load(std::memory_order_relaxed);
    for (RegisteredClientInfo* entry : mEntries)
        list.mItems.push_back({RCPtr<RegisteredClientInfo>(entry), entry->mFlags});
}

ZTRESULT ClientPool::DistributeFrom(CDeliveryList& list, LNotificationDistributor* distributor,
                                    const RCPtr<LNotification>& notification)
{
    if (list.mItems.empty())
        return S_FALSE;
    for (std::size_t i = list.mItems.size(); i-- > 0;) {
        const CDeliveryList::Item& item = list.mItems[i];
        // Unchanged since the list was made, the entry is still here with the same flags.
        if ((item.mFlags & kNotifyLatestPostedOnly) ||
            mGeneration.load(std::memory_order_acquire) != list.mGeneration) {
            CMutexLock lock(mMutex);
            if (!TakesLocked(*item.mEntry, notification.Get()))
                continue;
        }
        (void)item.mEntry->mClient->HandleNotification(distributor, notification); // a client's result is its own
    }
    return S_OK;
}

namespace {

// One list per delivery in progress on this thread (clients may send from their handlers);
// the lists are kept for reuse, so sends do not allocate once the nesting depth was seen.
std::vector<std::unique_ptr<LNotificationDistributor::CDeliveryList>>& SpareDeliveryLists()
{
    thread_local std::vector<std::unique_ptr<LNotificationDistributor::CDeliveryList>> lists;
    return lists;
}

} // namespace

void PrepareThreadForDeliveries()
{
    (void)SpareDeliveryLists(); // made on first use: this is that use
}

ZTRESULT ClientPool::Distribute(LNotificationDistributor* distributor, const RCPtr<LNotification>& notification)
{
    std::vector<std::unique_ptr<CDeliveryList>>& spareLists = SpareDeliveryLists();
    std::unique_ptr<CDeliveryList> list;
    if (spareLists.empty()) {
        list = std::make_unique<CDeliveryList>();
    } else {
        list = std::move(spareLists.back());
        spareLists.pop_back();
    }
    struct Lease {
        std::unique_ptr<CDeliveryList>& mList;
        std::vector<std::unique_ptr<CDeliveryList>>& mSpares;
        ~Lease()
        {
            mList->Clear();
            mSpares.push_back(std::move(mList));
        }
    } lease{list, spareLists};
    FillDeliveryList(*list);
    return DistributeFrom(*list, distributor, notification);
}

std::ptrdiff_t ClientPool::DeliverAt(LNotificationDistributor* distributor, std::ptrdiff_t index,
                                     const RCPtr<LNotification>& notification)
{
    DeliveryCursor cursor;
    RCPtr<RegisteredClientInfo> entry;
    {
        CMutexLock lock(mMutex);
        const auto count = static_cast<std::ptrdiff_t>(mEntries.GetCount());
        if (index < 0 || index >= count)
            return count;
        RegisteredClientInfo* candidate = mEntries[static_cast<std::size_t>(index)];
        if (!TakesLocked(*candidate, notification.Get()))
            return index;
        entry = candidate;
        cursor.mIndex = index;
        LinkLocked(cursor);
    }
    try {
        (void)entry->mClient->HandleNotification(distributor, notification); // a client's result is its own
    } catch (...) {
        Unlink(cursor);
        throw;
    }
    CMutexLock lock(mMutex);
    UnlinkLocked(cursor);
    return cursor.mIndex;
}

std::ptrdiff_t ClientPool::FindLocked(const LNotificationReceiver* client) const noexcept
{
    for (std::size_t i = mEntries.GetCount(); i-- > 0;)
        if (mEntries[i]->mClient.Get() == client)
            return static_cast<std::ptrdiff_t>(i);
    return -1;
}

bool ClientPool::AddClient(LNotificationReceiver* client, std::uint32_t flags)
{
    CMutexLock lock(mMutex);
    const std::ptrdiff_t found = FindLocked(client);
    if (found >= 0) {
        RegisteredClientInfo* existing = mEntries[static_cast<std::size_t>(found)];
        if (existing->mFlags != flags) {
            existing->mFlags = flags;
            mGeneration.fetch_add(1, std::memory_order_acq_rel);
            mFlagsUnion = 0;
            for (RegisteredClientInfo* info : mEntries)
                mFlagsUnion |= info->mFlags;
        }
        return false;
    }
    mEntries.Append(new RegisteredClientInfo(client, flags));
    mFlagsUnion |= flags;
    mGeneration.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

bool ClientPool::RemoveClient(LNotificationReceiver* client, RCPtr<RegisteredClientInfo>& removed)
{
    CMutexLock lock(mMutex);
    const std::ptrdiff_t found = FindLocked(client);
    if (found < 0)
        return false;
    // Taken out before the array lets go of it, so nothing is destroyed under the lock.
    removed = mEntries[static_cast<std::size_t>(found)];
    removed->mRemoved = true;
    mEntries.RemoveItem(static_cast<std::size_t>(found));
    mGeneration.fetch_add(1, std::memory_order_acq_rel);
    for (DeliveryCursor* cursor = mCursors; cursor; cursor = cursor->mNext)
        if (found < cursor->mIndex)
            --cursor->mIndex;
    return true;
}

bool ClientPool::ContainsClient(LNotificationReceiver* client) const
{
    CMutexLock lock(mMutex);
    return FindLocked(client) >= 0;
}

bool ClientPool::GetClientFlags(LNotificationReceiver* client, std::uint32_t& flags) const
{
    CMutexLock lock(mMutex);
    const std::ptrdiff_t found = FindLocked(client);
    if (found < 0)
        return false;
    flags = mEntries[static_cast<std::size_t>(found)]->mFlags;
    return true;
}

RCPtr<LNotificationReceiver> ClientPool::GetClientAt(std::size_t index) const
{
    CMutexLock lock(mMutex);
    if (index >= mEntries.GetCount())
        return nullptr;
    return mEntries[index]->mClient;
}

void ClientPool::SetLatestPosted(const RCPtr<LNotification>& notification)
{
    CMutexLock lock(mMutex);
    for (std::size_t i = mEntries.GetCount(); i-- > 0;) {
        RegisteredClientInfo* entry = mEntries[i];
        if (entry->mFlags & kNotifyLatestPostedOnly)
            entry->mLatestPosted = notification;
    }
}

// ---------------------------------------------------------------------------------------------
// Distributor

LNotificationDistributor::~LNotificationDistributor() = default;

ClientPool* LNotificationDistributor::FindPoolLocked(NotificationID id) const noexcept
{
    for (std::size_t i = mPools.GetCount(); i-- > 0;)
        if (mPools[i]->GetID() == id)
            return mPools[i];
    return nullptr;
}

RCPtr<ClientPool> LNotificationDistributor::FindPool(NotificationID id) const
{
    CMutexLock lock(mMutex);
    return RCPtr<ClientPool>(FindPoolLocked(id));
}

std::int32_t LNotificationDistributor::GetRegistrationCount() const
{
    CMutexLock lock(mMutex);
    return mRegistrationCount;
}

ZTRESULT LNotificationDistributor::Send(const RCPtr<LNotification>& notification)
{
    if (!notification)
        return E_INVALIDARG;
    const RCPtr<ClientPool> pool = FindPool(notification->GetID());
    if (!pool)
        return S_FALSE;
    return pool->Distribute(this, notification);
}

ZTRESULT LNotificationDistributor::AddClient(LNotificationReceiver* client, NotificationID id, std::uint32_t flags)
{
    if (!client)
        return E_INVALIDARG;
    if (id == 0)
        return S_FALSE;
    CMutexLock lock(mMutex);
    ClientPool* pool = FindPoolLocked(id);
    const bool isNew = !pool || !pool->ContainsClient(client);
    if (isNew) {
        // The registration keeps this distributor alive as long as the client is registered.
        AddRef();
        AddInternalReference();
        ++mRegistrationCount;
    }
    if (!pool) {
        mPools.Append(new ClientPool(id));
        pool = mPools[mPools.GetCount() - 1];
    }
    (void)pool->AddClient(client, flags); // new or not, the flags are set
    if (flags & kNotifyLatestPostedOnly)
        mHasLatestPostedOnly.store(true, std::memory_order_release);
    return isNew ? S_OK : S_FALSE;
}

ZTRESULT LNotificationDistributor::RemoveClient(LNotificationReceiver* client, NotificationID id)
{
    RCPtr<RegisteredClientInfo> removed;
    return RemoveClient(client, id, removed);
}

ZTRESULT LNotificationDistributor::RemoveClient(LNotificationReceiver* client, NotificationID id,
                                                RCPtr<RegisteredClientInfo>& removed)
{
    if (!client || id == 0)
        return E_INVALIDARG;
    {
        CMutexLock lock(mMutex);
        ClientPool* pool = FindPoolLocked(id);
        if (!pool || !pool->RemoveClient(client, removed))
            return S_FALSE;
        --mRegistrationCount;
        DropInternalReference();
    }
    // The registration's reference on this distributor; it may be the last one, so nothing of
    // this object is touched afterwards.
    Release();
    return S_OK;
}

std::int32_t LNotificationDistributor::RemoveClientEverywhere(LNotificationReceiver* client)
{
    std::vector<RCPtr<RegisteredClientInfo>> removedEntries;
    {
        CMutexLock lock(mMutex);
        for (std::size_t i = mPools.GetCount(); i-- > 0;) {
            RCPtr<RegisteredClientInfo> removed;
            if (!mPools[i]->RemoveClient(client, removed))
                continue;
            removedEntries.push_back(std::move(removed));
            --mRegistrationCount;
            DropInternalReference();
        }
    }
    const auto count = static_cast<std::int32_t>(removedEntries.size());
    removedEntries.clear();
    for (std::int32_t i = 0; i < count; ++i)
        Release();
    return count;
}

bool LNotificationDistributor::IsClientRegistered(LNotificationReceiver* client) const
{
    CMutexLock lock(mMutex);
    for (ClientPool* pool : mPools)
        if (pool->ContainsClient(client))
            return true;
    return false;
}

ZTRESULT LNotificationDistributor::GetClientFlags(LNotificationReceiver* client, const wchar_t* idText,
                                                  std::uint32_t& flags) const
{
    const NotificationID id = InternNotificationID(idText);
    if (id == 0)
        return E_FAIL;
    CMutexLock lock(mMutex);
    ClientPool* pool = FindPoolLocked(id);
    if (!pool || !pool->GetClientFlags(client, flags))
        return E_FAIL;
    return S_OK;
}

ZTRESULT LNotificationDistributor::DetachAllClients()
{
    CMutexLock lock(mMutex);
    for (std::size_t p = mPools.GetCount(); p-- > 0;) {
        const RCPtr<ClientPool> pool(mPools[p]);
        for (std::size_t e = pool->GetClientCount(); e-- > 0;) {
            const RCPtr<LNotificationReceiver> client = pool->GetClientAt(e);
            if (client)
                (void)client->Unregister(this, pool->GetID()); // detaching: one already gone is fine
        }
    }
    return S_OK;
}

} // namespace ZT
