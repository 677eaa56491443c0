#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateCompletedNotificationData.h"

#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"

namespace ZT {

WString LFirmwareUpdateCompletedNotificationData::ToString() const
{
    WString text;
    const std::string where = mFailure.Format();
    // Debug text: a failed format leaves it empty.
    (void)text.Format(L"%ls %s%s%s", LUpdateEngineInterface::kNidFirmwareUpdateCompleted,
                      mSucceeded ? "succeeded" : "failed", where.empty() ? "" : ": ", where.c_str());
    return text;
}

LRefCountedObject* LFirmwareUpdateCompletedNotificationData::CreateCopy() const
{
    return new LFirmwareUpdateCompletedNotificationData(mSucceeded, mFailure);
}

} // namespace ZT
