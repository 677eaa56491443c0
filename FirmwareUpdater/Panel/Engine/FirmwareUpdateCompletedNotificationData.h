#pragma once
// The payload of "NID_FIRMWARE_UPDATE_COMPLETED", posted by the update worker after its update
// step: whether the step ended with a non-negative result, and for a failure where it broke.
// Immutable, as it crosses threads.

#include "FirmwareUpdater/Panel/Engine/UpdateFailure.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

namespace ZT {

class LFirmwareUpdateCompletedNotificationData : public virtual LRefCountedObject {
public:
    explicit LFirmwareUpdateCompletedNotificationData(bool succeeded, CUpdateFailure failure = {})
        : mSucceeded(succeeded), mFailure(std::move(failure))
    {
    }

    [[nodiscard]] bool GetSucceeded() const noexcept { return mSucceeded; }
    // Where a failed step broke; empty for a success, and for a failure the step did not place.
    [[nodiscard]] const CUpdateFailure& GetFailure() const noexcept { return mFailure; }

    // "NID_FIRMWARE_UPDATE_COMPLETED succeeded", "... failed" or "... failed: <the failure's line>".
    WString ToString() const override;
    LRefCountedObject* CreateCopy() const override;

private:
    bool mSucceeded;
    CUpdateFailure mFailure;
};

} // namespace ZT
