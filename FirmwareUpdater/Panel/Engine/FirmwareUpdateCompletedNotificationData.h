#pragma once
// The payload of "NID_FIRMWARE_UPDATE_COMPLETED", posted by the update worker after its update
// step: whether the step ended with a non-negative result. Immutable, as it crosses threads.

#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

namespace ZT {

class LFirmwareUpdateCompletedNotificationData : public virtual LRefCountedObject {
public:
    explicit LFirmwareUpdateCompletedNotificationData(bool succeeded) noexcept : mSucceeded(succeeded) {}

    [[nodiscard]] bool GetSucceeded() const noexcept { return mSucceeded; }

    // "NID_FIRMWARE_UPDATE_COMPLETED succeeded" or "... failed".
    WString ToString() const override;
    LRefCountedObject* CreateCopy() const override;

private:
    bool mSucceeded;
};

} // namespace ZT
