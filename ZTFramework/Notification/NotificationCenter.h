#pragma once
// A named distributor and queue in one object: what is posted into its queue is delivered
// through the center itself. Centers are made and kept by LNotificationCenterManager; workers
// post into the "application" center, and the user-interface thread delivers in its idle step.
//
// Ownership: the queue holds the center as its distributor (one more internal reference).
// When the last outside reference goes, ReleaseInternalReferences detaches every client and
// shuts the queue down.

#include "ZTFramework/Notification/NotificationDistributor.h"
#include "ZTFramework/Notification/NotificationQueue.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

namespace ZT {

class LNotificationCenter : public LNotificationDistributor, public LNotificationQueue {
public:
    explicit LNotificationCenter(const WString& name);
    ~LNotificationCenter() override;

    const WString& GetName() const noexcept { return mName; }
    // "LNotificationCenter <name>".
    WString ToString() const override;
    ZTRESULT ReleaseInternalReferences() override;

private:
    const WString mName;
};

} // namespace ZT
