#include "FirmwareUpdater/Panel/CommandLineRun.h"

#include "FirmwareUpdater/Panel/Engine/DeviceStateChangeNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateCompletedNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateProgressNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/UpdateProcessor.h"
#include "FirmwareUpdater/Panel/Engine/WaitForDeviceToReturn.h"
#include "FirmwareUpdater/Panel/ProgressPrinter.h"
#include "ZTFramework/Application/TerminationSignals.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/Notification/NotificationCenterManager.h"
#include "ZTFramework/Notification/NotificationWaiter.h"
#include "ZTFramework/Notification/NotificationWakeHook.h"
#include "ZTFramework/Time/Clock.h"

#include <algorithm>
#include <chrono>

using ZT::ZTRESULT;
using DeviceState = LUpdateEngineInterface::DeviceState;
using FirmwareFileState = LUpdateEngineInterface::FirmwareFileState;
using UpdateRunState = LUpdateEngineInterface::UpdateRunState;
using ProgressData = ZT::LFirmwareUpdateProgressNotificationData;

namespace {

// What the run's notification handlers return. The distributor does not act on a handler's
// result; S_FALSE says the notification was seen and nothing more is asked of anyone.
constexpr ZTRESULT kHandled = ZT::S_FALSE;

constexpr std::uint32_t kControllerIndex = 0;
constexpr std::uint32_t kDisplayIndex = 1;
constexpr const char* kDeviceNames[2] = {"Controller", "Wheel display"};
// The prefix of the engine's own debug lines; the last one before a failure says where it failed.
constexpr std::string_view kEngineLinePrefix = "Engine: ";

std::string LowerFirst(std::string text)
{
    if (!text.empty() && text.front() >= 'A' && text.front() <= 'Z')
        text.front() = static_cast<char>(text.front() - 'A' + 'a');
    return text;
}

} // namespace

const char* ToString(LCommandLineRun::Outcome outcome) noexcept
{
    switch (outcome) {
    case LCommandLineRun::Outcome::NotAttempted: return "NotAttempted";
    case LCommandLineRun::Outcome::AlreadyCurrent: return "AlreadyCurrent";
    case LCommandLineRun::Outcome::Updated: return "Updated";
    case LCommandLineRun::Outcome::Failed: return "Failed";
    }
    return "invalid LCommandLineRun::Outcome";
}

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
    if (mPrinter)
        mPrinter->SetLineObserver([this](std::string_view line) { NoteLine(line); });
    mAttached = true;
}

void LCommandLineRun::Detach()
{
    if (!mAttached)
        return;
    mAttached = false;
    if (mPrinter)
        mPrinter->SetLineObserver({});
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
    mSwitching[TargetIndex()] = true;
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

std::string LCommandLineRun::WhyNothingMayStart() const
{
    const int signalNumber = mEndSignal.load();
    return signalNumber == 0 ? std::string() : "interrupted by " + ZT::CTerminationSignals::Name(signalNumber);
}

void LCommandLineRun::OnNotStarted(const std::string& why)
{
    Say(TargetName() + ": not started: " + why + ".");
    Record(Outcome::NotAttempted, why);
}

std::string LCommandLineRun::WhyNotContinue(bool modeSwitchFirst) const
{
    if (std::string why = WhyNothingMayStart(); !why.empty())
        return why;
    if (!mDeadlineMs)
        return {};
    const std::uint64_t now = ZT::GetClock().NowMs();
    if (now >= *mDeadlineMs)
        return "the time for the update is up";
    return LUpdateProcessor::WhyNoTimeForDownload(*mEngine, *mDeadlineMs - now, modeSwitchFirst);
}

// ---- Termination signals ----------------------------------------------------------------------------

void LCommandLineRun::OnTerminationSignal(int signalNumber, std::uint32_t count)
{
    // The flag goes first: the user-interface thread looks at it after every switch into update
    // mode and before every download, so a switch seen running below is one whose download will
    // not start.
    int none = 0;
    (void)mEndSignal.compare_exchange_strong(none, signalNumber);
    const std::string name = ZT::CTerminationSignals::Name(signalNumber);
    const std::string device = TargetName();
    const DeviceState state = mEngine->GetDeviceState();
    if (state == DeviceState::Updating) {
        if (count == 1)
            Say("Interrupted by " + name + ": finishing the " + LowerFirst(device) +
                "'s update first; do not unplug it. Nothing else will be started.");
        else
            Say(name + " again: the " + LowerFirst(device) +
                "'s update is not cut short; the program ends as soon as it is over.");
    } else if (state == DeviceState::EnteringUpdateMode) {
        // Nothing has been written yet; the engine stops the switch at its next look.
        (void)mEngine->CancelUpdate();
        Say("Interrupted by " + name + ": stopping the " + LowerFirst(device) +
            "'s switch into update mode; nothing has been written.");
    } else if (count == 1) {
        Say("Interrupted by " + name + ": ending the run; nothing new will be started.");
    } else {
        Say(name + " again: the run is ending.");
    }
    ZT::CallNotificationWakeHook();
}

void LCommandLineRun::NoteLine(std::string_view line)
{
    if (line.substr(0, kEngineLinePrefix.size()) != kEngineLinePrefix)
        return;
    std::lock_guard lock(mEngineLineMutex);
    // The line that says where a download broke stays: what follows it (what the device is left
    // in) is already on the screen and would hide the block or sector.
    if (mLastEngineLine.find(" failed while ") != std::string::npos)
        return;
    mLastEngineLine = std::string(line.substr(kEngineLinePrefix.size()));
}

// ---- The dual updater's host ---------------------------------------------------------------------

void LCommandLineRun::ContinueUpdateProcess()
{
    if (mEngine->GetFirmwareFileState() != FirmwareFileState::FileFoundVersionKnown)
        return;
    if (mEngine->GetDeviceState() == DeviceState::DeviceNotInUpdateMode) {
        if (const std::string why = WhyNotContinue(true); !why.empty())
            return OnNotStarted(why);
        OnEnteringUpdateMode();
        (void)mEngine->RequestUpdateMode(); // the outcome shows in the device state
        if (mEngine->GetDeviceState() != DeviceState::DeviceInUpdateMode) {
            mShownState = mEngine->GetDeviceState();
            if (mEngine->GetUpdateRunState(false) == UpdateRunState::Cancelled && !WhyNothingMayStart().empty()) {
                const std::string why = WhyNothingMayStart() + " during the switch into update mode";
                Say(TargetName() + ": not started: " + why + ".");
                Record(Outcome::NotAttempted, why);
                return;
            }
            std::uint32_t reason = 0;
            (void)mEngine->GetDeviceErrorReason(reason);
            const std::string why = std::string("did not enter update mode: ") + ::ToString(*mShownState) + ", " +
                                    ::ToString(static_cast<LUpdateEngineInterface::DeviceErrorReason>(reason));
            Say(TargetName() + ": " + why + ".");
            Record(Outcome::Failed, why);
            return;
        }
    }
    if (mEngine->GetDeviceState() == DeviceState::DeviceInUpdateMode) {
        if (const std::string why = WhyNotContinue(false); !why.empty())
            return OnNotStarted(why);
        StartDownload();
    }
    DeliverNotifications();
}

void LCommandLineRun::StartDownload()
{
    // Posting the completion is the worker's last act in a download; a main thread quick to
    // deliver it can get here, on to the other device, before that task has ended, and a busy
    // worker refuses the new one. So wait for it to end (it is about to); a worker still busy
    // after that refuses, and the state tells.
    (void)mEngine->WaitForUpdate(kPreviousTaskEndMs);
    {
        std::lock_guard lock(mEngineLineMutex);
        mLastEngineLine.clear();
    }
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
        Say(TargetName() + ": firmware written; waiting for the device to restart...");
        WaitForDeviceToReturn();
    } else {
        const std::string why = DescribeFailure();
        Say(TargetName() + ": the update failed (" + why + ").");
        Record(Outcome::Failed, why);
    }
    // The dual updater may go on with the other device through ContinueUpdateProcess.
    LDualUpdater::OnUpdateCompleted(*mEngine, succeeded);
    return kHandled;
}

void LCommandLineRun::WaitForDeviceToReturn()
{
    // Its result is in the device state: back in normal mode or not.
    (void)::WaitForDeviceToReturn(*mEngine);
    mShownState = mEngine->GetDeviceState();
    if (*mShownState != DeviceState::DeviceNotInUpdateMode) {
        const std::string why = "did not come back in normal mode within " +
                                std::to_string(kDeviceReturnLimitMs / 1000) + " s (" + ::ToString(*mShownState) + ")";
        Say(TargetName() + ": " + why + ".");
        Record(Outcome::Failed, "written, but it " + why);
        return;
    }
    ZT::WString version;
    (void)mEngine->GetSelectedDeviceVersionText(version); // "N/A" when it reports none
    Say(TargetName() + ": back in normal mode with firmware " + version.ToUTF8() + ".");

    // Only the file's version on the device shows that the image it runs is the new one.
    LUpdateEngineInterface::FirmwareVersion reported;
    LUpdateEngineInterface::FirmwareVersion expected;
    const std::int32_t selected = mEngine->GetSelectedDeviceIndex();
    const bool known = selected >= 0 &&
                       ZT::Succeeded(mEngine->GetDeviceVersion(static_cast<std::uint32_t>(selected), reported)) &&
                       ZT::Succeeded(mEngine->GetFirmwareFileVersion(expected));
    if (known && reported.HasSameNumberAs(expected)) {
        Record(Outcome::Updated, version.ToUTF8());
        return;
    }
    ZT::WString file;
    (void)mEngine->GetFirmwareFileVersionText(file);
    Record(Outcome::Failed, "written, but it came back with firmware " + version.ToUTF8() + " instead of " +
                                file.ToUTF8());
}

std::string LCommandLineRun::DescribeFailure()
{
    std::string why = ::ToString(mEngine->GetDeviceState());
    if (mEngine->GetUpdateRunState(false) == UpdateRunState::Cancelled) {
        why += ", cancelled";
    } else {
        std::uint32_t reason = 0;
        (void)mEngine->GetDeviceErrorReason(reason);
        why += std::string(", ") + ::ToString(static_cast<LUpdateEngineInterface::DeviceErrorReason>(reason));
    }
    std::lock_guard lock(mEngineLineMutex);
    if (!mLastEngineLine.empty())
        why += ": " + mLastEngineLine;
    return why;
}

void LCommandLineRun::Record(Outcome result, std::string detail)
{
    mReports[TargetIndex()] = DeviceReport{result, std::move(detail)};
}

// ---- The summary ---------------------------------------------------------------------------------

LCommandLineRun::DeviceReport LCommandLineRun::GetDeviceReport(std::uint32_t index) const
{
    if (index > kDisplayIndex)
        return {Outcome::NotAttempted, "no such device"};
    if (mReports[index])
        return *mReports[index];

    const ZT::RCPtr<LDualUpdater> dualUpdater = LDualUpdater::GetInstance();
    if (!dualUpdater || !dualUpdater->GetProbeResult().AnyDeviceFound)
        return {Outcome::NotAttempted, "no device of the controller was found"};
    const LDualUpdater::ProbeResult& probe = dualUpdater->GetProbeResult();
    const std::uint32_t other = 1 - index;
    const bool otherFailed = mReports[other] && mReports[other]->Result == Outcome::Failed;
    const std::string afterOtherFailed = "the " + LowerFirst(kDeviceNames[other]) + "'s update did not succeed";
    // A device that failed may be gone from the bus, which makes the last probe's set incomplete.
    if (probe.BootloaderUnidentified && !otherFailed)
        return {Outcome::NotAttempted, "a device in update mode could not be identified"};
    if (probe.DeviceSetIncomplete)
        return {Outcome::NotAttempted, otherFailed ? afterOtherFailed : "only part of the controller was found"};
    const bool needsUpdate = index == kControllerIndex ? probe.ControllerNeedsUpdate : probe.DisplayNeedsUpdate;
    const LUpdateEngineInterface::FirmwareVersion& version =
        index == kControllerIndex ? probe.ControllerVersion : probe.DisplayVersion;
    if (!needsUpdate) {
        if (version.Text.IsEmpty())
            return {Outcome::NotAttempted, "not found"};
        return {Outcome::AlreadyCurrent, version.Text.ToUTF8()};
    }
    if (otherFailed)
        return {Outcome::NotAttempted, afterOtherFailed};
    if (std::string why = WhyNothingMayStart(); !why.empty())
        return {Outcome::NotAttempted, why};
    if (mSwitching[index])
        return {Outcome::NotAttempted, "its switch into update mode did not end in update mode"};
    return {Outcome::NotAttempted, "no update was started for it"};
}

LCommandLineRun::Summary LCommandLineRun::GetSummary() const
{
    Summary summary;
    for (std::uint32_t i = kControllerIndex; i <= kDisplayIndex; ++i) {
        const Outcome result = GetDeviceReport(i).Result;
        summary.Succeeded += result == Outcome::Updated ? 1 : 0;
        summary.Failed += result == Outcome::Failed ? 1 : 0;
    }
    return summary;
}

std::vector<std::string> LCommandLineRun::GetSummaryLines() const
{
    std::vector<std::string> lines;
    for (std::uint32_t i = kControllerIndex; i <= kDisplayIndex; ++i) {
        const DeviceReport report = GetDeviceReport(i);
        std::string line = std::string(kDeviceNames[i]) + ": ";
        switch (report.Result) {
        case Outcome::NotAttempted: line += "not attempted (" + report.Detail + ")"; break;
        case Outcome::AlreadyCurrent: line += "already current (" + report.Detail + ")"; break;
        case Outcome::Updated: line += "updated to " + report.Detail; break;
        case Outcome::Failed: line += "failed (" + report.Detail + ")"; break;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// ---- What a person sees --------------------------------------------------------------------------

std::string LCommandLineRun::TargetName()
{
    return kDeviceNames[TargetIndex()];
}

std::uint32_t LCommandLineRun::TargetIndex()
{
    const ZT::RCPtr<LDualUpdater> dualUpdater = LDualUpdater::GetInstance();
    return !dualUpdater || dualUpdater->IsUpdatingController() ? kControllerIndex : kDisplayIndex;
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
        if (dualUpdater && dualUpdater->GetProbeResult().BootloaderUnidentified) {
            Say("A device in update mode could not be identified; nothing was written (see the line above).");
            return;
        }
        if (dualUpdater && dualUpdater->GetProbeResult().DeviceSetIncomplete) {
            Say("Only part of the controller was found: the controller and its wheel display must both be "
                "connected.");
            return;
        }
        std::uint32_t reason = 0;
        (void)mEngine->GetDeviceErrorReason(reason);
        const std::string reasonText = ::ToString(static_cast<LUpdateEngineInterface::DeviceErrorReason>(reason));
        Say(TargetName() + ": cannot be updated (" + reasonText + ").");
        // A switch into update mode that the processor began failed here (a cancelled one the
        // processor reports itself). A failed download ends here too, with the run state Failed;
        // its completion tells more.
        const std::uint32_t target = TargetIndex();
        if (mSwitching[target] && !mReports[target] && mEngine->GetUpdateRunState(false) == UpdateRunState::Idle)
            Record(Outcome::Failed, "did not enter update mode: " + reasonText);
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
