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
using UpdateRunState = LUpdateEngineInterface::UpdateRunState;
using ProgressData = ZT::LFirmwareUpdateProgressNotificationData;

namespace {

// What the run's notification handlers return. The distributor does not act on a handler's
// result; S_FALSE says the notification was seen and nothing more is asked of anyone.
constexpr ZTRESULT kHandled = ZT::S_FALSE;

std::string TargetName()
{
    return LUpdateSequence::TargetName();
}

} // namespace

LCommandLineRun::LCommandLineRun(ZT::RCPtr<LUpdateEngineInterface> engine, ZT::RCPtr<LUpdateSequence> sequence,
                                 CProgressPrinter* printer)
    : mEngine(std::move(engine)), mSequence(std::move(sequence)), mPrinter(printer)
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
    mSequence->Attach();
    (void)mSequence->SetHost(this); // the host before is none: attached once
    LDualUpdater::SetHost(this);
    mAttached = true;
}

void LCommandLineRun::Detach()
{
    if (!mAttached)
        return;
    mAttached = false;
    LDualUpdater::SetHost(nullptr);
    (void)mSequence->SetHost(nullptr); // the host before is this run
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
    // What still waits is delivered on the next call.
    (void)ZT::LNotificationCenterManager::GetInstance()->ProcessAllQueues(false);
}

// ---- The run's loop ------------------------------------------------------------------------------

bool LCommandLineRun::StartAutomaticUpdate(std::optional<std::uint64_t> deadlineMs)
{
    // Whatever the engine posted so far describes what led here; show it before the switch.
    DeliverNotifications();
    const bool started = mSequence->Start(deadlineMs);
    DeliverNotifications();
    return started;
}

void LCommandLineRun::WaitForUpdate()
{
    ZT::IClock& clock = ZT::GetClock();
    ZT::CNotificationWaiter waiter; // posts wake this thread from here on
    for (;;) {
        DeliverNotifications();
        if (mTimerDueMs && clock.NowMs() >= *mTimerDueMs) {
            mTimerDueMs.reset();
            mSequence->OnTimer();
            continue;
        }
        if (!mSequence->IsRunning()) {
            // The step that ended may have posted more (the last state of the device).
            DeliverNotifications();
            if (!mSequence->IsRunning())
                break;
            continue;
        }
        const std::uint64_t now = clock.NowMs();
        const std::uint64_t left = mTimerDueMs ? *mTimerDueMs - now : kWakeIntervalMs;
        if (clock.AdvancesByItself()) {
            // Woken or timed out, the loop looks again.
            (void)waiter.WaitForWork(std::chrono::milliseconds(std::min<std::uint64_t>(left, kWakeIntervalMs)));
            continue;
        }
        // A clock that moves only when someone sleeps on it: the timer's time passes at once
        // when nothing is waiting to be delivered.
        if (waiter.WaitForWork(std::chrono::milliseconds(0)))
            continue;
        if (mTimerDueMs)
            clock.SleepMs(static_cast<std::uint32_t>(left));
        else
            // Woken or timed out, the loop looks again.
            (void)waiter.WaitForWork(std::chrono::milliseconds(kWakeIntervalMs));
    }
    if (mPrinter)
        mPrinter->EndProgress();
}

// ---- The sequence's host -------------------------------------------------------------------------

void LCommandLineRun::Tell(const std::string& line)
{
    if (line.find(": switching to update mode...") != std::string::npos) {
        // The switch is shown as it begins; the engine's EnteringUpdateMode adds nothing to it.
        mShownState = DeviceState::EnteringUpdateMode;
    }
    if (mPrinter)
        mPrinter->WriteLine(line);
    else
        ZT::DebugLine(line);
}

void LCommandLineRun::OnStep(Step step)
{
    if (step == Step::Idle || step == Step::WaitingForReturn)
        mShownState = mEngine->GetDeviceState();
}

void LCommandLineRun::SetTimer(std::uint32_t ms)
{
    mTimerDueMs = ZT::GetClock().NowMs() + ms;
}

// ---- The dual updater's host ---------------------------------------------------------------------

void LCommandLineRun::ContinueUpdateProcess()
{
    // What the dual updater's scan found is shown before the next step begins.
    DeliverNotifications();
    (void)mSequence->Start(); // a refusal is told and recorded by the sequence
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
        return kHandled;
    // At the end of a download the device is off the bus for a while (it restarts, or it is
    // gone); the completion handler tells how the download and the restart ended.
    const LUpdateEngineInterface::UpdateRunState run = mEngine->GetUpdateRunState(false);
    if (state == DeviceState::DeviceCannotBeUpdated && (run == LUpdateEngineInterface::UpdateRunState::Running ||
                                                        run == LUpdateEngineInterface::UpdateRunState::Succeeded))
        return kHandled;
    mShownState = state;
    ShowState(state);
    return kHandled;
}

ZTRESULT LCommandLineRun::OnProgress(ZT::LNotificationDistributor* /*source*/,
                                     const ZT::RCPtr<ZT::LNotification>& notification)
{
    const auto payload = notification->GetPayloadAs<ZT::LFirmwareUpdateProgressNotificationData>();
    if (!payload)
        return kHandled;
    const double fraction = payload->GetFractionComplete();
    if (mPrinter) {
        mPrinter->Progress(TargetName(), fraction);
        return kHandled;
    }
    const int step = fraction >= 0.0 && fraction <= 1.0 ? static_cast<int>(fraction * 10.0) : 0;
    if (step != mLoggedProgressStep) {
        mLoggedProgressStep = step;
        ZT::CDebugLine() << TargetName() << ": " << (fraction < ProgressData::kEraseShare ? "erasing" : "writing") << " " << step * 10 << "%";
    }
    return kHandled;
}

void LCommandLineRun::OnDownloadEnded(bool succeeded)
{
    if (mPrinter) {
        // The last progress the download posts is that of its last block, short of 100 %.
        if (succeeded)
            mPrinter->Progress(TargetName(), 1.0);
        mPrinter->EndProgress();
    }
    mLoggedProgressStep = -1;
}

// ---- What a person sees --------------------------------------------------------------------------

void LCommandLineRun::ShowState(DeviceState state)
{
    switch (state) {
    case DeviceState::NoDeviceDefined:
    case DeviceState::Scanning:
    case DeviceState::EnteringUpdateMode: // shown when the switch begins
        return;
    case DeviceState::NoDeviceFound:
        Tell("No device found.");
        return;
    case DeviceState::DevicesAvailableNoneSelected:
        Tell("Several devices found; only the first connected device will be updated.");
        // As the window does: the engine then reports the selected device's state.
        (void)mEngine->SelectDevice(0);
        return;
    case DeviceState::DeviceCannotBeUpdated: {
        // The end of a switch is the sequence's to tell.
        if (mSequence->GetStep() == Step::Switching)
            return;
        const ZT::RCPtr<LDualUpdater> dualUpdater = LDualUpdater::GetInstance();
        if (dualUpdater && dualUpdater->GetProbeResult().BootloaderUnidentified) {
            Tell("A device in update mode could not be identified; nothing was written (see the line above).");
            return;
        }
        if (dualUpdater && dualUpdater->GetProbeResult().DeviceSetIncomplete) {
            Tell("Only part of the controller was found: the controller and its wheel display must both be "
                "connected.");
            return;
        }
        std::uint32_t reason = 0;
        (void)mEngine->GetDeviceErrorReason(reason); // 0 (unknown) when the engine has none
        const std::string reasonText = ::ToString(static_cast<LUpdateEngineInterface::DeviceErrorReason>(reason));
        Tell(TargetName() + ": cannot be updated (" + reasonText + ").");
        return;
    }
    case DeviceState::DeviceNotInUpdateMode: {
        ZT::WString device;
        ZT::WString file;
        (void)mEngine->GetSelectedDeviceVersionText(device); // "N/A" when unknown
        (void)mEngine->GetFirmwareFileVersionText(file); // "N/A" when unknown
        Tell(TargetName() + ": found with firmware " + device.ToUTF8() + "; the file has " + file.ToUTF8() + ".");
        return;
    }
    case DeviceState::DeviceInUpdateMode:
        // After a switch the sequence says so itself.
        if (mSequence->GetStep() != Step::Switching)
            Tell(TargetName() + ": in update mode.");
        return;
    case DeviceState::Updating: // the sequence tells the download's start
        return;
    }
}
