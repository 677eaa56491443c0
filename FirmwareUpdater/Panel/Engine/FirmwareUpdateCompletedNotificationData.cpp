#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateCompletedNotificationData.h"

#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"

namespace ZT {

WString LFirmwareUpdateCompletedNotificationData::ToString() const
{
    WString text;
    (void)text.Format(L"%ls %s", LUpdateEngineInterface::kNidFirmwareUpdateCompleted,
                      mSucceeded ? "succeeded" : "failed");
    return text;
}

LRefCountedObject* LFirmwareUpdateCompletedNotificationData::CreateCopy() const
{
    return new LFirmwareUpdateCompletedNotificationData(mSucceeded);
}

} // namespace ZT
