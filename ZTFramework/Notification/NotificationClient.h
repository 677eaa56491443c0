#pragma once
// The usual receiver: registers itself with distributors and keeps track of where it is
// registered, so that it can drop everything when it goes away.
//
// Each registration makes the distributor hold a counted reference to the client; the client
// counts it as an internal reference. When the last outside reference to the client is
// released, ReleaseInternalReferences removes all its registrations, which lets the client be
// destroyed: a client never has to unregister by hand before it is dropped.
//
// Threads: registrations are normally made on the user-interface thread. The registration
// count is atomic and the distributor list has its own lock (never held while calling a
// distributor), so the final release may also happen on another thread.

#include "ZTFramework/Notification/NotificationReceiver.h"
#include "ZTFramework/Threads/Mutex.h"
#include "ZTFramework/Utilities/Storage/ArrayUtils.h"

#include <atomic>
#include <cstdint>

namespace ZT {

class LNotificationClient : public LNotificationReceiver {
public:
    LNotificationClient() = default;
    LNotificationClient(const LNotificationClient&) = delete;
    LNotificationClient& operator=(const LNotificationClient&) = delete;
    ~LNotificationClient() override = default;

    // Does nothing; returns S_OK.
    ZTRESULT HandleNotification(LNotificationDistributor* source, const RCPtr<LNotification>& notification) override;

    // Registers with source for the ID text (or an ID through NotificationIDText) with flags
    // (kNotifyLatestPostedOnly or 0). Registering again for the same ID only replaces the flags.
    // Returns the ID, or 0 when source is null or the text gives no ID.
    NotificationID Register(LNotificationDistributor* source, const wchar_t* idText, std::uint32_t flags = 0);
    // S_OK when the registration was removed; S_FALSE when there was none (or this client holds
    // no registration at all); E_INVALIDARG for a null source or ID 0.
    ZTRESULT Unregister(LNotificationDistributor* source, NotificationID id) override;

    // Drops every registration. Called by Release when the last outside reference goes.
    ZTRESULT ReleaseInternalReferences() override;

    // How many (distributor, ID) registrations this client holds.
    std::int32_t GetRegistrationCount() const noexcept { return mRegistrationCount.load(std::memory_order_acquire); }

private:
    void ForgetDistributorIfUnused(LNotificationDistributor* source);

    std::atomic<std::int32_t> mRegistrationCount{0};
    Mutex mListMutex; // guards mDistributors
    // Plain pointers: every listed distributor holds a reference on itself per registration of
    // this client, so it outlives its place in this list.
    Array<LNotificationDistributor*> mDistributors;
};

} // namespace ZT
