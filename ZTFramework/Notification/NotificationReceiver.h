#pragma once
// Anything a distributor can hand notifications to.

#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Notification/NotificationID.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"

namespace ZT {

class LNotification;
class LNotificationDistributor;

class LNotificationReceiver : public virtual LRefCountedObject {
public:
    // Called by source for each notification with an ID this receiver is registered for, on the
    // thread that sends (the user-interface thread for everything posted). No lock is held
    // during the call, so it may send, post, register and unregister, itself included. The
    // distributor ignores the result.
    virtual ZTRESULT HandleNotification(LNotificationDistributor* source, const RCPtr<LNotification>& notification) = 0;
    // The distributor asks the receiver to drop its registration for id (when it detaches all).
    virtual ZTRESULT Unregister(LNotificationDistributor* source, NotificationID id) = 0;
};

} // namespace ZT
