#include "FirmwareUpdater/Panel/Engine/DeviceStateChangeNotificationData.h"

namespace ZT {

WString LDeviceStateChangeNotificationData::ToString() const
{
    WString text;
    // Debug text: a failed format leaves it empty.
    (void)text.Format(L"%ls %s -> %s", LUpdateEngineInterface::kNidDeviceStateChange, ::ToString(mOldState),
                      ::ToString(mNewState));
    return text;
}

LRefCountedObject* LDeviceStateChangeNotificationData::CreateCopy() const
{
    return new LDeviceStateChangeNotificationData(mNewState, mOldState);
}

} // namespace ZT
