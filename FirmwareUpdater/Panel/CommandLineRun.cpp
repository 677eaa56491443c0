#include "FirmwareUpdater/Panel/CommandLineRun.h"

#include "FirmwareUpdater/Panel/Engine/DeviceStateChangeNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateCompletedNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateProgressNotificationData.h"
#include "FirmwareUpdater/Panel/ProgressPrinter.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/Notification/NotificationCenterManager.h"
#include "ZTFramework/Notification/NotificationWaiter.h"
#include "ZTFramework/Time/Clock.h"

#include <algorithm>
#include <chrono>

using ZT::ZTRESULT;
using DeviceState = LUpdateEngineInterface::DeviceState;
using FirmwareFileState = LUpdateEngineInterface::FirmwareFileState;

LCommandLineRun::LCommandLineRun(ZT::RCPtr<LUpdateEngineInterface> engine, CProgressPrinter* printer)
    : mEngine(std::move(engine)), mPrinter(printer)
{
}

LCommandLineRun::~LCommandLineRun()
{
    Detach();
}

void LCommandLineRun::Attach()
{
    if (mAttached)
        return;
    const ZT::RCPtr<ZT::LNotificationCenter> center = ZT::LNotificationCenterManager::GetInstance()->GetCenter(
        ZT::WString(LUpdateEngineInterface::kApplicationCenterName));
    mHandler = ZT::MakeRC<ZT::LNotificationHandler<LCommandLineRun>>(this);
    ZT_THROW_IF_FAILED(mHandler->AddHandler(&LCommandLineRun::OnDeviceStateChange, 0, center.Get(),
                                            LUpdateEngineInterface::kNidDeviceStateChange),
                       "LCommandLineRun::Attach");
    ZT_THROW_IF_FAILED(mHandler->AddHandler(&LCommandLineRun::OnProgress, 0, center.Get(),
                                            LUpdateEngineInterface::kNidFirmwareUpdateProgress),
                       "LCommandLineRun::Attach");
    ZT_THROW_IF_FAILED(mHandler->AddHandler(&LCommandLineRun::OnCompleted, 0, center.Get(),
                                            LUpdateEngineInterface::kNidFirmwareUpdateCompleted),
                       "LCommandLineRun::Attach");
    LDualUpdater::SetHost(this);
    mAttached = true;
}

void LCommandLineRun::Detach()
{
    if (!mAttached)
        return;
    mAttached = false;
    LDualUpdater::SetHost(nullptr);
    (void)ReleaseInternalReferences(); // drops the registrations, and with them the center's references
    mHandler = nullptr;
}

ZTRESULT LCommandLineRun::HandleNotification(ZT::LNotificationDistributor* source,
                                             const ZT::RCPtr<ZT::LNotification>& notification)
{
    return mHandler ? mHandler->Dispatch(source, notification) : ZT::S_OK;
}

void LCommandLineRun::DeliverNotifications()
{
    (void)ZT::LNotificationCenterManager::GetInstance()->ProcessAllQueues(false);
}

// ---- The processor's host ------------------------------------------------------------------------

void LCommandLineRun::OnEnteringUpdateMode()
{
    // Whatever the engine posted so far describes what led here; show it before the long call.
    DeliverNotifications();
    mShownState = DeviceState::EnteringUpdateMode;
    Say(TargetName() + ": switching to update mode...");
}

ZTRESULT LCommandLineRun::WaitForUpdate(LUpdateEngineInterface& engine, std::uint32_t timeoutMs)
{
    ZT::IClock& clock = ZT::GetClock();
    mDeadlineMs = clock.NowMs() + timeoutMs;
    ZT::CNotificationWaiter waiter; // posts wake this thread from here on
    ZTRESULT result = ZT::S_OK;
    for (;;) {
        DeliverNotifications();
        if (engine.WaitForUpdate(0) == ZT::S_OK) {
            // The download has ended and its completion was posted before: delivering it runs
            // the main control's part, which may start the other device's download.
            DeliverNotifications();
            if (engine.WaitForUpdate(0) == ZT::S_OK)
                break;
            continue;
        }
        const std::uint64_t now = clock.NowMs();
        if (now >= *mDeadlineMs) {
            result = ZT::E_FAIL;
            break;
        }
        const std::uint64_t left = std::min<std::uint64_t>(*mDeadlineMs - now, kWakeIntervalMs);
        (void)waiter.WaitForWork(std::chrono::milliseconds(left));
    }
    mDeadlineMs.reset();
    if (mPrinter)
        mPrinter->EndProgress();
    if (ZT::Failed(result))
        Say("The update did not end within " + std::to_string(timeoutMs / 1000) + " s; giving up waiting.");
    return result;
}

bool LCommandLineRun::IsPastDeadline() const
{
    return mDeadlineMs && ZT::GetClock().NowMs() >= *mDeadlineMs;
}

// ---- The dual updater's host ---------------------------------------------------------------------

void LCommandLineRun::ContinueUpdateProcess()
{
    if (mEngine->GetFirmwareFileState() != FirmwareFileState::FileFoundVersionKnown)
        return;
    if (IsPastDeadline()) {
        Say(TargetName() + ": not started, the time for the update is up.");
        return;
    }
    if (mEngine->GetDeviceState() == DeviceState::DeviceNotInUpdateMode) {
        OnEnteringUpdateMode();
        (void)mEngine->RequestUpdateMode(); // the outcome shows in the device state
        if (mEngine->GetDeviceState() != DeviceState::DeviceInUpdateMode) {
            mShownState = mEngine->GetDeviceState();
            std::uint32_t reason = 0;
            (void)mEngine->GetDeviceErrorReason(reason);
            Say(TargetName() + ": did not enter update mode (" + ::ToString(*mShownState) + ", " +
                ::ToString(static_cast<LUpdateEngineInterface::DeviceErrorReason>(reason)) + ").");
            return;
        }
    }
    if (mEngine->GetDeviceState() == DeviceState::DeviceInUpdateMode)
        StartDownload();
    DeliverNotifications();
}

void LCommandLineRun::StartDownload()
{
    // Posting the completion is the worker's last act in a download; a main thread quick to
    // deliver it can get here, on to the other device, before that task has ended, and a busy
    // worker refuses the new one. So wait for it to end (it is about to); a worker still busy
    // after that refuses, and the state tells.
    (void)mEngine->WaitForUpdate(kPreviousTaskEndMs);
    (void)mEngine->StartUpdate();
}

bool LCommandLineRun::HasLabel(const ZT::WString& /*labelName*/)
{
    return false;
}

bool LCommandLineRun::GetLabelString(const ZT::WString& /*labelName*/, const ZT::WString& /*stringId*/,
                                     ZT::WString& /*text*/)
{
    return false;
}

void LCommandLineRun::SetLabelText(const ZT::WString& /*labelName*/, const ZT::WString& /*text*/) {}

void LCommandLineRun::HideButton(const ZT::WString& /*buttonName*/) {}

// ---- Notifications -------------------------------------------------------------------------------

ZTRESULT LCommandLineRun::OnDeviceStateChange(ZT::LNotificationDistributor* /*source*/,
                                              const ZT::RCPtr<ZT::LNotification>& /*notification*/)
{
    // The dual updater's probe engine posts into the same center, so the payload may not be the
    // main engine's: what counts is the main engine's state now.
    const DeviceState state = mEngine->GetDeviceState();
    if (mShownState && *mShownState == state)
        return 1;
    // At the end of a download the device is off the bus for a while (it restarts, or it is
    // gone); the completion handler tells how the download and the restart ended.
    const LUpdateEngineInterface::UpdateRunState run = mEngine->GetUpdateRunState(false);
    if (state == DeviceState::DeviceCannotBeUpdated && (run == LUpdateEngineInterface::UpdateRunState::Running ||
                                                        run == LUpdateEngineInterface::UpdateRunState::Succeeded))
        return 1;
    mShownState = state;
    ShowState(state);
    return 1;
}

ZTRESULT LCommandLineRun::OnProgress(ZT::LNotificationDistributor* /*source*/,
                                     const ZT::RCPtr<ZT::LNotification>& notification)
{
    const auto payload = notification->GetPayloadAs<ZT::LFirmwareUpdateProgressNotificationData>();
    if (!payload)
        return 1;
    const double fraction = payload->GetFractionComplete();
    if (mPrinter) {
        mPrinter->Progress(TargetName(), fraction);
        return 1;
    }
    const int step = fraction >= 0.0 && fraction <= 1.0 ? static_cast<int>(fraction * 10.0) : 0;
    if (step != mLoggedProgressStep) {
        mLoggedProgressStep = step;
        ZT::CDebugLine() << TargetName() << ": " << (fraction < 0.5 ? "erasing" : "writing") << " " << step * 10 << "%";
    }
    return 1;
}

ZTRESULT LCommandLineRun::OnCompleted(ZT::LNotificationDistributor* /*source*/,
                                      const ZT::RCPtr<ZT::LNotification>& notification)
{
    const auto payload = notification->GetPayloadAs<ZT::LFirmwareUpdateCompletedNotificationData>();
    const bool succeeded = payload && payload->GetSucceeded();
    if (mPrinter) {
        // The last progress the download posts is that of its last block, short of 100 %.
        if (succeeded)
            mPrinter->Progress(TargetName(), 1.0);
        mPrinter->EndProgress();
    }
    mLoggedProgressStep = -1;
    if (succeeded) {
        ++mSummary.Succeeded;
        Say(TargetName() + ": firmware written; waiting for the device to restart...");
        WaitForDeviceToReturn();
    } else {
        ++mSummary.Failed;
        std::uint32_t reason = 0;
        (void)mEngine->GetDeviceErrorReason(reason);
        Say(TargetName() + ": the update failed (" + ::ToString(mEngine->GetDeviceState()) + ", " +
            ::ToString(static_cast<LUpdateEngineInterface::DeviceErrorReason>(reason)) + ").");
    }
    // The dual updater may go on with the other device through ContinueUpdateProcess.
    LDualUpdater::OnUpdateCompleted(*mEngine, succeeded);
    return 1;
}

void LCommandLineRun::WaitForDeviceToReturn()
{
    std::uint32_t slept = 0;
    while (slept < kReturnPollLimitMs) {
        ZT::GetClock().SleepMs(kReturnPollIntervalMs);
        slept += kReturnPollIntervalMs;
        if (ZT::Failed(mEngine->RefreshDevice()) || mEngine->GetDeviceState() == DeviceState::DeviceNotInUpdateMode)
            break;
    }
    mShownState = mEngine->GetDeviceState();
    if (*mShownState != DeviceState::DeviceNotInUpdateMode) {
        Say(TargetName() + ": did not come back in normal mode within " + std::to_string(kReturnPollLimitMs / 1000) +
            " s (" + ::ToString(*mShownState) + ").");
        return;
    }
    ZT::WString version;
    (void)mEngine->GetSelectedDeviceVersionText(version); // "N/A" when it reports none
    Say(TargetName() + ": back in normal mode with firmware " + version.ToUTF8() + ".");
}

// ---- What a person sees --------------------------------------------------------------------------

std::string LCommandLineRun::TargetName()
{
    const ZT::RCPtr<LDualUpdater> dualUpdater = LDualUpdater::GetInstance();
    return !dualUpdater || dualUpdater->IsUpdatingController() ? "Controller" : "Wheel display";
}

void LCommandLineRun::Say(const std::string& text)
{
    if (mPrinter)
        mPrinter->WriteLine(text);
    else
        ZT::DebugLine(text);
}

void LCommandLineRun::ShowState(DeviceState state)
{
    switch (state) {
    case DeviceState::NoDeviceDefined:
    case DeviceState::Scanning:
    case DeviceState::EnteringUpdateMode: // shown when the switch begins
        return;
    case DeviceState::NoDeviceFound:
        Say("No device found.");
        return;
    case DeviceState::DevicesAvailableNoneSelected:
        Say("Several devices found; only the first connected device will be updated.");
        // As the window does: the engine then reports the selected device's state.
        (void)mEngine->SelectDevice(0);
        return;
    case DeviceState::DeviceCannotBeUpdated: {
        const ZT::RCPtr<LDualUpdater> dualUpdater = LDualUpdater::GetInstance();
        if (dualUpdater && dualUpdater->GetProbeResult().DeviceSetIncomplete) {
            Say("Only part of the controller was found: the controller and its wheel display must both be "
                "connected.");
            return;
        }
        std::uint32_t reason = 0;
        (void)mEngine->GetDeviceErrorReason(reason);
        Say(TargetName() + ": cannot be updated (" +
            ::ToString(static_cast<LUpdateEngineInterface::DeviceErrorReason>(reason)) + ").");
        return;
    }
    case DeviceState::DeviceNotInUpdateMode: {
        ZT::WString device;
        ZT::WString file;
        (void)mEngine->GetSelectedDeviceVersionText(device);
        (void)mEngine->GetFirmwareFileVersionText(file);
        Say(TargetName() + ": found with firmware " + device.ToUTF8() + "; the file has " + file.ToUTF8() + ".");
        return;
    }
    case DeviceState::DeviceInUpdateMode:
        Say(TargetName() + ": in update mode.");
        return;
    case DeviceState::Updating: {
        ZT::WString file;
        (void)mEngine->GetFirmwareFileVersionText(file);
        Say(TargetName() + ": writing firmware " + file.ToUTF8() + "...");
        return;
    }
    }
}
