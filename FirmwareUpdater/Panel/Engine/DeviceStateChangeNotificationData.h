#pragma once
// The payload of "NID_DEVICE_STATE_CHANGE": the engine's device state before and after a change.
// Made by the engine on whichever thread changed the state and read on the user-interface
// thread, so it does not change after construction.

#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"

namespace ZT {

class LDeviceStateChangeNotificationData : public virtual LRefCountedObject {
public:
    using DeviceState = LUpdateEngineInterface::DeviceState;

    LDeviceStateChangeNotificationData(DeviceState newState, DeviceState oldState) noexcept
        : mNewState(newState), mOldState(oldState)
    {
    }

    [[nodiscard]] DeviceState GetNewState() const noexcept { return mNewState; }
    [[nodiscard]] DeviceState GetOldState() const noexcept { return mOldState; }

    // "NID_DEVICE_STATE_CHANGE NoDeviceFound -> DeviceNotInUpdateMode".
    WString ToString() const override;
    LRefCountedObject* CreateCopy() const override;

private:
    DeviceState mNewState;
    DeviceState mOldState;
};

} // namespace ZT
