#include "FirmwareUpdater/Panel/Engine/FirmwareFileStateChangeNotificationData.h"

namespace ZT {

WString LFirmwareFileStateChangeNotificationData::ToString() const
{
    WString text;
    // Debug text: a failed format leaves it empty.
    (void)text.Format(L"%ls %s -> %s", LUpdateEngineInterface::kNidFirmwareFileStateChange, ::ToString(mOldState),
                      ::ToString(mNewState));
    return text;
}

LRefCountedObject* LFirmwareFileStateChangeNotificationData::CreateCopy() const
{
    return new LFirmwareFileStateChangeNotificationData(mNewState, mOldState);
}

} // namespace ZT
