// LUpdateEngineInterface's worker and notifications: the download handed to the worker thread,
// the wait for its end, and every post into the "application" center.

#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"

#include "FirmwareUpdater/Panel/Engine/DeviceStateChangeNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareFileStateChangeNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateCompletedNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateProgressNotificationData.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Notification/Notification.h"
#include "ZTFramework/Notification/NotificationCenterManager.h"
#include "ZTFramework/Threads/Holder.h"

#include <exception>

using Interface = LUpdateEngineInterface;
using ZT::E_FAIL;
using ZT::E_INVALIDARG;
using ZT::S_OK;
using ZT::ZTRESULT;

namespace {

void PostToApplicationCenter(const wchar_t* id, const ZT::RCPtr<ZT::LRefCountedObject>& payload)
{
    const ZT::RCPtr<ZT::LNotificationCenter> center =
        ZT::LNotificationCenterManager::GetInstance()->GetCenter(ZT::WString(Interface::kApplicationCenterName));
    const ZT::RCPtr<ZT::LNotification> notification = ZT::CreateNotification(id, payload);
    if (!center || !notification)
        return;
    // A center that has shut down (the program is ending) drops the notification: nobody is
    // left to show it.
    (void)center->Post(notification);
}

} // namespace

ZTRESULT Interface::StartUpdate()
{
    const FirmwareFileState fileState = GetFirmwareFileState();
    if (fileState != FirmwareFileState::FileFoundVersionUnknown && fileState != FirmwareFileState::FileFoundVersionKnown)
        return E_FAIL;
    if (GetDeviceState() != DeviceState::DeviceInUpdateMode)
        return E_FAIL;

    mCancelRequested.store(false);
    SetDeviceState(DeviceState::Updating);
    const auto task = ZT::MakeRC<ZT::LHolder<ThreadWorkerTask>>(ThreadWorkerTask::UpdateFirmwareTask);
    return mThreader.Trigger(ZT::RCPtr<ZT::LThreadWorker>(static_cast<ZT::LThreadWorker*>(this)), task,
                             mUpdateDoneEvent, ZT::kThreadPriorityNormal);
}

ZTRESULT Interface::StartUpdateModeSwitch()
{
    if (GetDeviceState() != DeviceState::DeviceNotInUpdateMode || mThreader.IsBusy())
        return E_FAIL;
    mCancelRequested.store(false);
    const auto task = ZT::MakeRC<ZT::LHolder<ThreadWorkerTask>>(ThreadWorkerTask::EnterUpdateModeTask);
    return mThreader.Trigger(ZT::RCPtr<ZT::LThreadWorker>(static_cast<ZT::LThreadWorker*>(this)), task,
                             mUpdateDoneEvent, ZT::kThreadPriorityNormal);
}

ZTRESULT Interface::StartWorkerJob(const ZT::RCPtr<IWorkerJob>& job)
{
    if (!job || mThreader.IsBusy())
        return E_FAIL;
    return mThreader.Trigger(ZT::RCPtr<ZT::LThreadWorker>(static_cast<ZT::LThreadWorker*>(this)),
                             ZT::RCPtr<ZT::LRefCountedObject>(job), mUpdateDoneEvent, ZT::kThreadPriorityNormal);
}

ZTRESULT Interface::WaitForUpdate(std::uint32_t timeoutMs)
{
    // The threader is busy from the moment StartUpdate handed it the task until the task has
    // ended and its completion has been posted, so this also covers the moment before the
    // worker has set Running. A run state of Running without a busy worker has nobody left to
    // signal the event.
    if (!mThreader.IsBusy())
        return S_OK;
    return mUpdateDoneEvent->Wait(timeoutMs) == ZT::kWaitObject0 ? S_OK : E_FAIL;
}

void Interface::PostUpdateProgress(std::uint32_t stage, double fractionComplete, bool timeUnknown,
                                   std::uint32_t secondsRemaining, bool flag2, const ZT::WString& message)
{
    PostToApplicationCenter(kNidFirmwareUpdateProgress,
                            ZT::MakeRC<ZT::LFirmwareUpdateProgressNotificationData>(
                                stage, fractionComplete, secondsRemaining, timeUnknown, flag2, message));
}

void Interface::PostDeviceStateChange(DeviceState newState, DeviceState oldState)
{
    PostToApplicationCenter(kNidDeviceStateChange,
                            ZT::MakeRC<ZT::LDeviceStateChangeNotificationData>(newState, oldState));
}

void Interface::PostFirmwareFileStateChange(FirmwareFileState newState, FirmwareFileState oldState)
{
    PostToApplicationCenter(kNidFirmwareFileStateChange,
                            ZT::MakeRC<ZT::LFirmwareFileStateChangeNotificationData>(newState, oldState));
}

void Interface::PostFoundDeviceListChange()
{
    PostToApplicationCenter(kNidFoundDeviceListChange, nullptr);
}

void Interface::PostUpdateCompleted(bool succeeded)
{
    PostToApplicationCenter(kNidFirmwareUpdateCompleted, ZT::MakeRC<ZT::LFirmwareUpdateCompletedNotificationData>(
                                                             succeeded, succeeded ? CUpdateFailure() : GetLastFailure()));
}

void Interface::SetLastFailure(CUpdateFailure failure)
{
    std::lock_guard lock(mFailureMutex);
    mLastFailure = std::move(failure);
}

CUpdateFailure Interface::GetLastFailure() const
{
    std::lock_guard lock(mFailureMutex);
    return mLastFailure;
}

ZTRESULT Interface::DoWork(const ZT::RCPtr<ZT::LRefCountedObject>& parameter)
{
    if (const ZT::RCPtr<IWorkerJob> job = parameter) {
        // Whoever waits for the job's completion waits for this post: it comes whatever Run did.
        ZTRESULT result = S_OK;
        try {
            job->Run(*this);
        } catch (const std::exception& error) {
            ZT::CDebugLine() << "Engine: a job on the worker ended with an error: " << error.what();
            result = E_FAIL;
        }
        PostToApplicationCenter(kNidWorkerJobCompleted, ZT::RCPtr<ZT::LRefCountedObject>(job));
        return result;
    }
    const ZT::RCPtr<ZT::LHolder<ThreadWorkerTask>> task = parameter;
    if (!task)
        return E_FAIL;
    SetLastFailure({}); // each task tells only of its own failure
    switch (task->Get()) {
    case ThreadWorkerTask::EnterUpdateModeTask:
        return EnterUpdateMode();
    case ThreadWorkerTask::UpdateFirmwareTask: {
        const ZTRESULT result = RunUpdateTask();
        PostUpdateCompleted(ZT::Succeeded(result));
        return result;
    }
    }
    return E_FAIL;
}

ZTRESULT Interface::RunUpdateTask()
{
    // The file may have been replaced since it was chosen; nothing made for simulated devices
    // ever reaches real hardware.
    ZT::WString path;
    (void)GetFirmwareFilePath(path); // an empty path is the download's to reject
    if (RefusesSimulationImage(path)) {
        CUpdateFailure failure;
        failure.At(CUpdateFailure::Phase::File);
        failure.Detail = "an image for simulated devices";
        SetLastFailure(std::move(failure));
        SetFirmwareFileState(FirmwareFileState::FileInvalid);
        SetUpdateRunState(UpdateRunState::Failed);
        SetSelectedDeviceErrorReason(DeviceErrorReason::FileAccessFailure);
        SetDeviceState(DeviceState::DeviceCannotBeUpdated);
        return E_FAIL;
    }
    try {
        return PerformUpdate();
    } catch (const std::exception& error) {
        // The file reader throws when the system cannot read the file. Without this the run
        // would stay Running and the device Updating, and the window could never leave them.
        ZT::CDebugLine() << "Engine: the update ended with an error: " << error.what();
        CUpdateFailure failure;
        failure.At(CUpdateFailure::Phase::File);
        failure.Detail = error.what();
        SetLastFailure(std::move(failure));
        SetUpdateRunState(UpdateRunState::Failed);
        SetSelectedDeviceErrorReason(DeviceErrorReason::FileAccessFailure);
        SetDeviceState(DeviceState::DeviceCannotBeUpdated);
        return E_FAIL;
    }
}
