#pragma once
// The payload of "NID_FIRMWARE_FILE_STATE_CHANGE": the engine's firmware-file state before and
// after a change. Read on the user-interface thread, so it does not change after construction.

#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"

namespace ZT {

class LFirmwareFileStateChangeNotificationData : public virtual LRefCountedObject {
public:
    using FirmwareFileState = LUpdateEngineInterface::FirmwareFileState;

    LFirmwareFileStateChangeNotificationData(FirmwareFileState newState, FirmwareFileState oldState) noexcept
        : mNewState(newState), mOldState(oldState)
    {
    }

    [[nodiscard]] FirmwareFileState GetNewState() const noexcept { return mNewState; }
    [[nodiscard]] FirmwareFileState GetOldState() const noexcept { return mOldState; }

    // "NID_FIRMWARE_FILE_STATE_CHANGE NoFileDefined -> FileFoundVersionKnown".
    WString ToString() const override;
    LRefCountedObject* CreateCopy() const override;

private:
    FirmwareFileState mNewState;
    FirmwareFileState mOldState;
};

} // namespace ZT
