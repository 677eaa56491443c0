#pragma once
// A publisher of notifications: clients register with it for IDs, and Send hands each
// notification to every client registered for its ID, at once, on the calling thread.
//
// Delivery order is the reverse of registration: the client registered last is called first.
// A client may register or unregister anyone, itself included, while it is being called; every
// remaining client is still called exactly once, clients removed before their turn are not
// called, and clients added during a delivery are not called by it. A client may also send
// again from its handler; each delivery works from its own list of the pool's entries.
//
// Ownership: each registration makes the client pool hold a reference to the client, and the
// distributor holds one reference on itself; both are counted as internal references (see
// LRefCountedObject). Removing a registration drops the internal count before releasing the
// reference, so that an object kept alive only by such cycles gets to break them.
//
// Threads and locks: mMutex guards the pool list and the registration count; each pool's own
// mutex guards its entries, its flags union and its deliveries in progress. mMutex may be held
// while taking a pool's mutex, never the reverse. No lock is held while a client runs.
// DetachAllClients calls the clients' Unregister with mMutex held, which comes back into
// RemoveClient on the same thread: the mutexes are re-entrant for that.

#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Notification/NotificationID.h"
#include "ZTFramework/Notification/NotificationReceiver.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Threads/Mutex.h"
#include "ZTFramework/Utilities/Storage/RCPtrArray.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ZT {

class LNotification;

// Registration flag: the client receives only notifications that came through a queue, and of
// several queued notifications with its ID only the one posted last.
inline constexpr std::uint32_t kNotifyLatestPostedOnly = 1;

class LNotificationDistributor : public virtual LRefCountedObject {
public:
    // One registration of one client in one pool.
    class LNotificationRegisteredClientInfo : public LRefCountedObject {
    public:
        LNotificationRegisteredClientInfo(LNotificationReceiver* client, std::uint32_t flags);

        const RCPtr<LNotificationReceiver> mClient;
        // With kNotifyLatestPostedOnly: the notification posted last for this ID and not yet
        // delivered to this client. Guarded by the pool's mutex, as are the two below.
        RCPtr<LNotification> mLatestPosted;
        std::uint32_t mFlags;
        // Set when the entry leaves its pool, so that deliveries already under way skip it.
        bool mRemoved = false;
    };

    class LNotificationClientPool;

    // The entries of one pool as they were at one moment: a delivery works from this list and
    // takes the pool's lock only when the pool changed meanwhile (or for latest-posted-only
    // entries), so a client may change the registrations while it is called. The list holds
    // references to the entries (and through them to the clients) until it is cleared; a queue
    // keeps one for a whole round of notifications with the same ID and clears it at the end.
    class CDeliveryList {
    public:
        CDeliveryList() = default;
        CDeliveryList(const CDeliveryList&) = delete;
        CDeliveryList& operator=(const CDeliveryList&) = delete;

        // Drops the references; keeps the storage for the next use.
        void Clear() noexcept
        {
            mItems.clear();
            mPool = nullptr;
        }

    private:
        friend class LNotificationClientPool;
        struct Item {
            RCPtr<LNotificationRegisteredClientInfo> mEntry;
            std::uint32_t mFlags;
        };
        const LNotificationClientPool* mPool = nullptr;
        std::uint64_t mGeneration = 0;
        std::vector<Item> mItems;
    };

    // The clients of one ID, in registration order. Pools are never removed from their
    // distributor, even when they become empty.
    class LNotificationClientPool : public LRefCountedObject {
    public:
        explicit LNotificationClientPool(NotificationID id);

        NotificationID GetID() const noexcept { return mID; }
        // OR of the flags clients were added with (not recomputed when one is removed).
        std::uint32_t GetFlagsUnion() const;
        std::size_t GetClientCount() const;

        // Calls every client, latest registered first. S_FALSE when the pool is empty, else S_OK;
        // the clients' results are not passed on, their exceptions are.
        ZTRESULT Distribute(LNotificationDistributor* distributor, const RCPtr<LNotification>& notification);
        // Makes list hold this pool's entries as they are now; keeps it as it is when it already
        // does (same pool, no entry added, removed or changed since).
        void FillDeliveryList(CDeliveryList& list) const;
        // Distribute, working from a list this pool filled.
        ZTRESULT DistributeFrom(CDeliveryList& list, LNotificationDistributor* distributor,
                                const RCPtr<LNotification>& notification);
        // Delivers to the one client at index (skipping it, as Distribute would, when it only
        // wants another latest-posted notification) and returns the index that client has
        // afterwards; lower when clients before it were removed during the call, and the client
        // count when index was past the end.
        std::ptrdiff_t DeliverAt(LNotificationDistributor* distributor, std::ptrdiff_t index,
                                 const RCPtr<LNotification>& notification);

        // Adds the client, or replaces its flags when it is already here. True when it was new.
        bool AddClient(LNotificationReceiver* client, std::uint32_t flags);
        // Removes the client's entry and hands it out in removed. False when it was not here.
        bool RemoveClient(LNotificationReceiver* client, RCPtr<LNotificationRegisteredClientInfo>& removed);
        bool ContainsClient(LNotificationReceiver* client) const;
        bool GetClientFlags(LNotificationReceiver* client, std::uint32_t& flags) const;
        // The client at index, or null past the end.
        RCPtr<LNotificationReceiver> GetClientAt(std::size_t index) const;
        // Makes notification the latest posted one of every latest-posted-only entry.
        void SetLatestPosted(const RCPtr<LNotification>& notification);

    private:
        // A DeliverAt in progress, with the index of its client; removals move every cursor past
        // the removed entry down by one.
        struct DeliveryCursor {
            std::ptrdiff_t mIndex = -1;
            DeliveryCursor* mNext = nullptr;
        };

        // Under mMutex: whether entry takes notification (it is still here, and when it only
        // wants the latest posted notification, this is that one, which it then forgets).
        static bool TakesLocked(LNotificationRegisteredClientInfo& entry, const LNotification* notification);
        void LinkLocked(DeliveryCursor& cursor) noexcept;
        void UnlinkLocked(DeliveryCursor& cursor) noexcept;
        void Unlink(DeliveryCursor& cursor) noexcept;
        std::ptrdiff_t FindLocked(const LNotificationReceiver* client) const noexcept;

        mutable Mutex mMutex;
        std::uint32_t mFlagsUnion = 0;
        const NotificationID mID;
        RCPtrArray<LNotificationRegisteredClientInfo> mEntries;
        DeliveryCursor* mCursors = nullptr;
        // Changed under mMutex whenever an entry is added, removed or gets new flags.
        std::atomic<std::uint64_t> mGeneration{1};
    };

    LNotificationDistributor() = default;
    LNotificationDistributor(const LNotificationDistributor&) = delete;
    LNotificationDistributor& operator=(const LNotificationDistributor&) = delete;
    ~LNotificationDistributor() override;

    // Calls the clients registered for the notification's ID, on this thread, before returning.
    // E_INVALIDARG for a null notification; S_FALSE when nobody is registered for its ID;
    // otherwise S_OK.
    ZTRESULT Send(const RCPtr<LNotification>& notification);

    // E_INVALIDARG for a null client; S_FALSE for ID 0 or when the client was already
    // registered for the ID (its flags are then replaced); S_OK for a new registration.
    // Clients normally call this through LNotificationClient::Register.
    [[nodiscard]] ZTRESULT AddClient(LNotificationReceiver* client, NotificationID id, std::uint32_t flags);
    // E_INVALIDARG for a null client or ID 0; S_FALSE when it was not registered; S_OK when
    // removed. Clients normally call this through their Unregister, which keeps their own
    // count in step.
    ZTRESULT RemoveClient(LNotificationReceiver* client, NotificationID id);
    // As above, but hands the removed entry (and with it the entry's reference to the client)
    // to the caller, who releases it after updating its own internal reference count.
    ZTRESULT RemoveClient(LNotificationReceiver* client, NotificationID id,
                          RCPtr<LNotificationRegisteredClientInfo>& removed);
    // Removes the client from every pool; returns how many registrations went.
    std::int32_t RemoveClientEverywhere(LNotificationReceiver* client);
    [[nodiscard]] bool IsClientRegistered(LNotificationReceiver* client) const;
    // S_OK and the flags; E_FAIL when the text gives no ID or the client is not registered for it.
    [[nodiscard]] ZTRESULT GetClientFlags(LNotificationReceiver* client, const wchar_t* idText,
                                          std::uint32_t& flags) const;
    // Asks every registered client to unregister, latest pool and latest client first. S_OK.
    ZTRESULT DetachAllClients();

    // The pool of clients for id, or null when nobody ever registered for it.
    [[nodiscard]] RCPtr<LNotificationClientPool> FindPool(NotificationID id) const;
    // How many (client, ID) registrations are held.
    [[nodiscard]] std::int32_t GetRegistrationCount() const;
    // Whether any client ever registered here with kNotifyLatestPostedOnly (queues skip the
    // latest-posted bookkeeping when none did).
    [[nodiscard]] bool HasLatestPostedOnlyClients() const noexcept
    {
        return mHasLatestPostedOnly.load(std::memory_order_acquire);
    }

private:
    LNotificationClientPool* FindPoolLocked(NotificationID id) const noexcept;

    mutable Mutex mMutex;
    RCPtrArray<LNotificationClientPool> mPools;
    std::int32_t mRegistrationCount = 0;
    std::atomic<bool> mHasLatestPostedOnly{false};
};

// Makes the calling thread's spare delivery lists now rather than at its first send (see
// PrepareThreadForNotifications, which calls it).
void PrepareThreadForDeliveries();

} // namespace ZT
