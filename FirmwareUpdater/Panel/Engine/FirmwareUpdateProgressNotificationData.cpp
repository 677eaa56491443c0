#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateProgressNotificationData.h"

#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"

namespace ZT {

WString LFirmwareUpdateProgressNotificationData::ToString() const
{
    WString text;
    // Debug text: a failed format leaves it empty.
    (void)text.Format(L"%ls %.4f", LUpdateEngineInterface::kNidFirmwareUpdateProgress, mFractionComplete);
    return text;
}

LRefCountedObject* LFirmwareUpdateProgressNotificationData::CreateCopy() const
{
    return new LFirmwareUpdateProgressNotificationData(mStage, mFractionComplete, mSecondsRemaining, mTimeUnknown,
                                                       mFlag2, mMessage);
}

} // namespace ZT
