#include "FirmwareUpdater/Panel/Engine/UpdateSequence.h"

#include "FirmwareUpdater/Panel/Engine/BootloaderReturn.h"
#include "FirmwareUpdater/Panel/Engine/DfuSeFirmwareFile.h"
#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateCompletedNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/UpdateHistory.h"
#include "FirmwareUpdater/Panel/Engine/UpdateProcessor.h"
#include "FirmwareUpdater/Panel/Engine/WaitForDeviceToReturn.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/Notification/NotificationCenterManager.h"
#include "ZTFramework/Notification/NotificationWakeHook.h"
#include "ZTFramework/Time/Clock.h"

#include <csignal>
#include <exception>

using ZT::ZTRESULT;
using FirmwareFileState = LUpdateEngineInterface::FirmwareFileState;
using UpdateRunState = LUpdateEngineInterface::UpdateRunState;

namespace {

// The distributor does not act on a handler's result; S_FALSE says it was seen.
constexpr ZTRESULT kHandled = ZT::S_FALSE;

constexpr std::uint32_t kControllerIndex = 0;
constexpr std::uint32_t kDisplayIndex = 1;
constexpr const char* kDeviceNames[2] = {"Controller", "Wheel display"};

std::string LowerFirst(std::string text)
{
    if (!text.empty() && text.front() >= 'A' && text.front() <= 'Z')
        text.front() = static_cast<char>(text.front() - 'A' + 'a');
    return text;
}

// The signal's name as the user knows it (the engine does not link the application's signal
// thread, which names them the same way).
std::string SignalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "signal " + std::to_string(signalNumber);
    }
}

std::string ReasonText(LUpdateEngineInterface& engine)
{
    std::uint32_t reason = 0;
    (void)engine.GetDeviceErrorReason(reason); // 0 outside DeviceCannotBeUpdated
    return ::ToString(static_cast<LUpdateEngineInterface::DeviceErrorReason>(reason));
}

} // namespace

const char* ToString(LUpdateSequence::Outcome outcome) noexcept
{
    switch (outcome) {
    case LUpdateSequence::Outcome::NotAttempted: return "NotAttempted";
    case LUpdateSequence::Outcome::AlreadyCurrent: return "AlreadyCurrent";
    case LUpdateSequence::Outcome::Updated: return "Updated";
    case LUpdateSequence::Outcome::Failed: return "Failed";
    }
    return "invalid LUpdateSequence::Outcome";
}

const char* ToString(IUpdateSequenceHost::Step step) noexcept
{
    switch (step) {
    case IUpdateSequenceHost::Step::Idle: return "Idle";
    case IUpdateSequenceHost::Step::WaitingForWorker: return "WaitingForWorker";
    case IUpdateSequenceHost::Step::Switching: return "Switching";
    case IUpdateSequenceHost::Step::Downloading: return "Downloading";
    case IUpdateSequenceHost::Step::WaitingForReturn: return "WaitingForReturn";
    case IUpdateSequenceHost::Step::SendingBack: return "SendingBack";
    case IUpdateSequenceHost::Step::Rescanning: return "Rescanning";
    }
    return "invalid IUpdateSequenceHost::Step";
}

LUpdateSequence::LUpdateSequence(ZT::RCPtr<LUpdateEngineInterface> engine) : mEngine(std::move(engine)) {}

LUpdateSequence::~LUpdateSequence()
{
    Detach();
}

void LUpdateSequence::Attach()
{
    if (mAttached)
        return;
    const ZT::RCPtr<ZT::LNotificationCenter> center = ZT::LNotificationCenterManager::GetInstance()->GetCenter(
        ZT::WString(LUpdateEngineInterface::kApplicationCenterName));
    mHandler = ZT::MakeRC<ZT::LNotificationHandler<LUpdateSequence>>(this);
    ZT_THROW_IF_FAILED(mHandler->AddHandler(&LUpdateSequence::OnEngineChange, 0, center.Get(),
                                            LUpdateEngineInterface::kNidDeviceStateChange),
                       "LUpdateSequence::Attach");
    ZT_THROW_IF_FAILED(mHandler->AddHandler(&LUpdateSequence::OnEngineChange, 0, center.Get(),
                                            LUpdateEngineInterface::kNidFirmwareFileStateChange),
                       "LUpdateSequence::Attach");
    ZT_THROW_IF_FAILED(mHandler->AddHandler(&LUpdateSequence::OnCompleted, 0, center.Get(),
                                            LUpdateEngineInterface::kNidFirmwareUpdateCompleted),
                       "LUpdateSequence::Attach");
    ZT_THROW_IF_FAILED(mHandler->AddHandler(&LUpdateSequence::OnWorkerJobCompleted, 0, center.Get(),
                                            LUpdateEngineInterface::kNidWorkerJobCompleted),
                       "LUpdateSequence::Attach");
    mAttached = true;
}

void LUpdateSequence::Detach()
{
    if (!mAttached)
        return;
    mAttached = false;
    (void)ReleaseInternalReferences(); // drops the registrations, and with them the center's references
    mHandler = nullptr;
}

ZTRESULT LUpdateSequence::HandleNotification(ZT::LNotificationDistributor* source,
                                             const ZT::RCPtr<ZT::LNotification>& notification)
{
    return mHandler ? mHandler->Dispatch(source, notification) : ZT::S_OK;
}

IUpdateSequenceHost* LUpdateSequence::SetHost(IUpdateSequenceHost* host)
{
    IUpdateSequenceHost* previous = nullptr;
    {
        std::lock_guard lock(mHostMutex);
        previous = mHost;
        mHost = host;
    }
    // A timer asked of the host before dies with its loop: the new one takes it over.
    if (host && mTimerDueMs) {
        const std::uint64_t now = ZT::GetClock().NowMs();
        host->SetTimer(static_cast<std::uint32_t>(*mTimerDueMs > now ? *mTimerDueMs - now : 0));
    }
    return previous;
}

// ---- Steps -----------------------------------------------------------------------------------------

bool LUpdateSequence::Start(std::optional<std::uint64_t> deadlineMs)
{
    if (deadlineMs)
        mDeadlineMs = deadlineMs;
    if (mStep != Step::Idle || mEngine->GetFirmwareFileState() != FirmwareFileState::FileFoundVersionKnown)
        return false;
    const DeviceState state = mEngine->GetDeviceState();
    ZT::WString before;
    (void)mEngine->GetSelectedDeviceVersionText(before); // "N/A" in update mode
    mVersionBefore[TargetIndex()] = before.ToUTF8();
    if (state == DeviceState::DeviceNotInUpdateMode) {
        if (const std::string why = WhyNotContinue(true); !why.empty()) {
            NotStarted(why);
            return false;
        }
        mSwitching[TargetIndex()] = true;
        Tell(TargetName() + ": switching to update mode...");
        return WhenWorkerFree(Next::Switch);
    }
    if (state == DeviceState::DeviceInUpdateMode) {
        if (const std::string why = WhyNotContinue(false); !why.empty()) {
            NotStarted(why);
            return false;
        }
        return WhenWorkerFree(Next::Download);
    }
    return false;
}

bool LUpdateSequence::WhenWorkerFree(Next next)
{
    mNext = next;
    // Posting the completion is the worker's last act in a download: a thread quick to deliver
    // it gets here, on to the other device, a moment before that task has ended, and a busy
    // worker refuses the next one.
    if (!mEngine->IsWorkerBusy())
        return RunNext();
    mWorkerWaitStartMs = ZT::GetClock().NowMs();
    EnterStep(Step::WaitingForWorker);
    ScheduleTimer(kWorkerEndPollMs);
    return true;
}

bool LUpdateSequence::RunNext()
{
    if (mNext == Next::Rescan) {
        // A signal does not stop the rescan: it starts nothing on a device, and Start, which it
        // may lead to, refuses then.
        if (LDualUpdater::StartRescanAfterUpdate(*mEngine)) {
            EnterStep(Step::Rescanning);
            return true;
        }
        // No dual updater, or a worker that cannot take the job: the rescan, if any, runs here.
        LDualUpdater::OnUpdateCompleted(*mEngine, true);
        return false;
    }
    if (mNext == Next::Switch) {
        // The flag may have come while the worker ended its last task.
        if (const std::string why = WhyNothingMayStart(); !why.empty()) {
            NotStarted(why);
            Finish(std::nullopt);
            return false;
        }
        EnterStep(Step::Switching);
        if (ZT::Failed(mEngine->StartUpdateModeSwitch())) {
            const std::string why =
                std::string("the switch into update mode could not be started (") + ::ToString(mEngine->GetDeviceState()) + ")";
            Tell(TargetName() + ": " + why + ".");
            Record(Outcome::Failed, why);
            Finish(std::nullopt);
            return false;
        }
        return true;
    }
    if (const std::string why = WhyNotContinue(false); !why.empty()) {
        NotStarted(why);
        Finish(std::nullopt);
        return false;
    }
    EnterStep(Step::Downloading);
    if (ZT::Failed(mEngine->StartUpdate())) {
        const std::string why =
            std::string("the download could not be started (") + ::ToString(mEngine->GetDeviceState()) + ")";
        Tell(TargetName() + ": " + why + ".");
        Record(Outcome::Failed, why);
        Finish(std::nullopt);
        return false;
    }
    ZT::WString version;
    (void)mEngine->GetFirmwareFileVersionText(version); // "N/A" when unknown
    Tell(TargetName() + ": writing firmware " + version.ToUTF8() + "...");
    return true;
}

void LUpdateSequence::OnTimer()
{
    mTimerDueMs.reset();
    switch (mStep) {
    case Step::Idle:
    case Step::Downloading:
    case Step::Rescanning:
        return;
    case Step::WaitingForWorker:
        if (!mEngine->IsWorkerBusy()) {
            (void)RunNext(); // a refusal is told and recorded inside
            return;
        }
        if (ZT::GetClock().NowMs() - mWorkerWaitStartMs >= kWorkerEndLimitMs && mNext == Next::Rescan) {
            // The device just written keeps its outcome; the other one is not looked for.
            ZT::CDebugLine() << "Sequence: no rescan for the other device: the engine's worker did not end its last task";
            Tell("The other device is not started: the engine's worker did not end its last task.");
            Finish(std::nullopt);
            return;
        }
        if (ZT::GetClock().NowMs() - mWorkerWaitStartMs >= kWorkerEndLimitMs) {
            const std::string why = "the engine's worker did not end its last task";
            Tell(TargetName() + ": not started: " + why + ".");
            Record(Outcome::Failed, why);
            Finish(std::nullopt);
            return;
        }
        ScheduleTimer(kWorkerEndPollMs);
        return;
    case Step::Switching:
        if (!mEngine->IsWorkerBusy())
            EndSwitch();
        else
            ScheduleTimer(kWorkerEndPollMs);
        return;
    case Step::SendingBack:
        TrySendBack();
        return;
    case Step::WaitingForReturn: {
        mReturnWaitedMs += kDeviceReturnPollIntervalMs;
        const ZTRESULT refreshed = mEngine->RefreshDevice();
        if (ZT::Failed(refreshed) || mEngine->GetDeviceState() == DeviceState::DeviceNotInUpdateMode ||
            mReturnWaitedMs >= kDeviceReturnLimitMs) {
            EndReturnWait();
            return;
        }
        ScheduleTimer(kDeviceReturnPollIntervalMs);
        return;
    }
    }
}

ZTRESULT LUpdateSequence::OnEngineChange(ZT::LNotificationDistributor* /*source*/,
                                         const ZT::RCPtr<ZT::LNotification>& /*notification*/)
{
    if (mStep != Step::Switching)
        return kHandled;
    // The switch has ended once the worker is free; its last state change comes a moment before.
    const DeviceState state = mEngine->GetDeviceState();
    if (!mEngine->IsWorkerBusy())
        EndSwitch();
    else if (state != DeviceState::EnteringUpdateMode && state != DeviceState::DeviceNotInUpdateMode)
        ScheduleTimer(kWorkerEndPollMs);
    return kHandled;
}

void LUpdateSequence::EndSwitch()
{
    const DeviceState state = mEngine->GetDeviceState();
    if (state == DeviceState::DeviceInUpdateMode) {
        Tell(TargetName() + ": in update mode.");
        if (const std::string why = WhyNothingMayStart(); !why.empty()) {
            // The signal came once the device had left its application: nothing is erased.
            Tell(TargetName() + ": not started: " + why + " during the switch into update mode.");
            Record(Outcome::NotAttempted, why + " during the switch into update mode");
            BringBackUntouched();
            return;
        }
        (void)WhenWorkerFree(Next::Download); // a refusal is told and recorded inside
        return;
    }
    if (mEngine->GetUpdateRunState(false) == UpdateRunState::Cancelled && !WhyNothingMayStart().empty()) {
        const std::string why = WhyNothingMayStart() + " during the switch into update mode";
        Tell(TargetName() + ": not started: " + why + ".");
        Record(Outcome::NotAttempted, why);
        BringBackUntouched();
        return;
    }
    if (mEngine->GetUpdateRunState(false) == UpdateRunState::Cancelled) {
        Tell(TargetName() + ": the switch into update mode was cancelled; nothing has been written.");
        Record(Outcome::NotAttempted, "cancelled during the switch into update mode");
        Finish(std::nullopt);
        return;
    }
    const std::string reason = ReasonText(*mEngine);
    const CUpdateFailure failure = mEngine->GetLastFailure();
    Tell(TargetName() + ": cannot be updated (" + (failure.IsFailure() ? failure.Format() : reason) + ").");
    RecordFailure(failure, "did not enter update mode: " + reason);
    Finish(std::nullopt);
}

ZTRESULT LUpdateSequence::OnCompleted(ZT::LNotificationDistributor* /*source*/,
                                      const ZT::RCPtr<ZT::LNotification>& notification)
{
    if (mStep != Step::Downloading)
        return kHandled;
    const auto payload = notification->GetPayloadAs<ZT::LFirmwareUpdateCompletedNotificationData>();
    IUpdateSequenceHost* host = nullptr;
    {
        std::lock_guard lock(mHostMutex);
        host = mHost;
    }
    if (host)
        host->OnDownloadEnded(payload && payload->GetSucceeded());
    if (payload && payload->GetSucceeded()) {
        Tell(TargetName() + ": firmware written; waiting for the device to restart...");
        mReturnWaitedMs = 0;
        EnterStep(Step::WaitingForReturn);
        ScheduleTimer(kDeviceReturnPollIntervalMs);
        return kHandled;
    }
    std::uint32_t reason = 0;
    (void)mEngine->GetDeviceErrorReason(reason); // 0 outside DeviceCannotBeUpdated
    if (mEngine->GetDeviceState() == DeviceState::DeviceNotInUpdateMode &&
        mEngine->GetUpdateRunState(false) == UpdateRunState::Failed &&
        static_cast<LUpdateEngineInterface::DeviceErrorReason>(reason) == LUpdateEngineInterface::DeviceErrorReason::NoReason) {
        // The bootloader was still finishing an earlier run's image and started it when it was
        // reset: nothing was written now, and the version the device reports says whether that
        // image is this file's.
        Tell(TargetName() + ": it had been left finishing an earlier update and has started that firmware.");
        EndReturnWait();
        return kHandled;
    }
    const CUpdateFailure failure = payload ? payload->GetFailure() : CUpdateFailure();
    const std::string why = failure.IsFailure() ? failure.Format() : DescribeFailure();
    Tell(TargetName() + ": the update failed (" + why + ").");
    RecordFailure(failure, why);
    Finish(false);
    return kHandled;
}

ZTRESULT LUpdateSequence::OnWorkerJobCompleted(ZT::LNotificationDistributor* /*source*/,
                                               const ZT::RCPtr<ZT::LNotification>& notification)
{
    if (mStep != Step::Rescanning)
        return kHandled;
    EnterStep(Step::Idle);
    // When the other device comes next, the dual updater's host comes back to Start.
    (void)LDualUpdater::OnRescanCompleted(notification->GetPayloadAs<ZT::LRefCountedObject>());
    return kHandled;
}

void LUpdateSequence::EndReturnWait()
{
    const DeviceState state = mEngine->GetDeviceState();
    CUpdateFailure failure;
    failure.At(CUpdateFailure::Phase::Return);
    if (state != DeviceState::DeviceNotInUpdateMode) {
        const std::string within = "within " + std::to_string(kDeviceReturnLimitMs / 1000) + " s (" + ::ToString(state) + ")";
        Tell(TargetName() + ": did not come back in normal mode " + within + ".");
        failure.Detail = "written, but not back in normal mode " + within;
        RecordFailure(failure, failure.Detail);
        Finish(true);
        return;
    }
    ZT::WString version;
    (void)mEngine->GetSelectedDeviceVersionText(version); // "N/A" when it reports none
    Tell(TargetName() + ": back in normal mode with firmware " + version.ToUTF8() + ".");
    // Only the file's version on the device shows that the image it runs is the new one.
    LUpdateEngineInterface::FirmwareVersion reported;
    LUpdateEngineInterface::FirmwareVersion expected;
    const std::int32_t selected = mEngine->GetSelectedDeviceIndex();
    const bool known = selected >= 0 &&
                       ZT::Succeeded(mEngine->GetDeviceVersion(static_cast<std::uint32_t>(selected), reported)) &&
                       ZT::Succeeded(mEngine->GetFirmwareFileVersion(expected));
    if (known && reported.HasSameNumberAs(expected)) {
        Record(Outcome::Updated, version.ToUTF8());
    } else {
        ZT::WString file;
        (void)mEngine->GetFirmwareFileVersionText(file); // "N/A" when unknown
        failure.Detail = "written, but it came back with firmware " + version.ToUTF8() + " instead of " + file.ToUTF8();
        RecordFailure(failure, failure.Detail);
    }
    Finish(true);
}

void LUpdateSequence::BringBackUntouched()
{
    mSendBackWaitedMs = 0;
    EnterStep(Step::SendingBack);
    TrySendBack();
}

void LUpdateSequence::TrySendBack()
{
    const ProductDevice& target = TargetIndex() == kControllerIndex ? kControllerDevice : kWheelDisplayDevice;
    const OwnBootloaderSearch search = FindOwnBootloader(target);
    if (search.Found == OwnBootloaderSearch::Where::Application) {
        Finish(std::nullopt); // the switch stopped before the device left its application
        return;
    }
    if (search.Found == OwnBootloaderSearch::Where::Unknown) {
        if (mSendBackWaitedMs < kSendBackLimitMs) {
            mSendBackWaitedMs += kSendBackPollMs;
            ScheduleTimer(kSendBackPollMs);
            return;
        }
        Tell(TargetName() + ": may wait in update mode with its firmware intact; run the updater again to finish its "
                            "update.");
        Finish(std::nullopt);
        return;
    }
    ZT::WString file;
    const ZT::RCPtr<LDfuSeFirmwareFile> image = LDfuSeFirmwareFile::Create();
    bool opened = false;
    try {
        opened = ZT::Succeeded(mEngine->GetFirmwareFilePath(file)) &&
                 ZT::Succeeded(image->Open(file, LUpdateProcessor::kEstimateBlockBytes));
    } catch (const std::exception&) {
        opened = false; // an unreadable file: the device stays where it is
    }
    if (opened && ZT::Succeeded(ReturnToApplication(search.Path, image->GetElementAddress())))
        Tell(TargetName() + ": sent back to its application; nothing has been written.");
    else
        Tell(TargetName() + ": waits in update mode with its firmware intact; run the updater again to finish its "
                            "update.");
    Finish(std::nullopt);
}

void LUpdateSequence::Finish(std::optional<bool> downloadSucceeded)
{
    mTimerDueMs.reset();
    EnterStep(Step::Idle);
    if (!downloadSucceeded)
        return;
    if (!*downloadSucceeded) {
        LDualUpdater::OnUpdateCompleted(*mEngine, false);
        return;
    }
    // The dual updater may go on with the other device: its rescan lists the bus several times,
    // so it runs on the worker, and its host's ContinueUpdateProcess comes back to Start once
    // the rescan's completion is delivered.
    (void)WhenWorkerFree(Next::Rescan);
}

void LUpdateSequence::EnterStep(Step step)
{
    if (mStep == step)
        return;
    mStep = step;
    IUpdateSequenceHost* host = nullptr;
    {
        std::lock_guard lock(mHostMutex);
        host = mHost;
    }
    if (host)
        host->OnStep(step);
}

void LUpdateSequence::ScheduleTimer(std::uint32_t ms)
{
    mTimerDueMs = ZT::GetClock().NowMs() + ms;
    IUpdateSequenceHost* host = nullptr;
    {
        std::lock_guard lock(mHostMutex);
        host = mHost;
    }
    if (host)
        host->SetTimer(ms);
}

// ---- Rules -------------------------------------------------------------------------------------------

std::string LUpdateSequence::WhyNothingMayStart() const
{
    const int signalNumber = mEndSignal.load();
    return signalNumber == 0 ? std::string() : "interrupted by " + SignalName(signalNumber);
}

std::string LUpdateSequence::WhyNotContinue(bool modeSwitchFirst) const
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

void LUpdateSequence::NotStarted(const std::string& why)
{
    ZT::CDebugLine() << "Sequence: not starting: " << why;
    Tell(TargetName() + ": not started: " + why + ".");
    Record(Outcome::NotAttempted, why);
}

void LUpdateSequence::OnTerminationSignal(int signalNumber, std::uint32_t count)
{
    // The flag goes first: every step looks at it before it starts, so a switch seen running
    // below is one whose download will not start.
    int none = 0;
    (void)mEndSignal.compare_exchange_strong(none, signalNumber); // only the first signal is kept
    const std::string name = SignalName(signalNumber);
    const std::string device = LowerFirst(TargetName());
    const DeviceState state = mEngine->GetDeviceState();
    if (state == DeviceState::Updating) {
        if (count == 1)
            Tell("Interrupted by " + name + ": finishing the " + device +
                 "'s update first; do not unplug it. Nothing else will be started.");
        else
            Tell(name + " again: the " + device + "'s update is not cut short; the program ends as soon as it is over.");
    } else if (state == DeviceState::EnteringUpdateMode) {
        // Nothing has been written yet; the engine stops the switch at its next look.
        (void)mEngine->CancelUpdate();
        Tell("Interrupted by " + name + ": stopping the " + device + "'s switch into update mode; nothing has been written.");
    } else if (count == 1) {
        Tell("Interrupted by " + name + ": ending the run; nothing new will be started.");
    } else {
        Tell(name + " again: the run is ending.");
    }
    ZT::CallNotificationWakeHook();
}

// ---- What a person sees ----------------------------------------------------------------------------

void LUpdateSequence::Tell(const std::string& line)
{
    std::lock_guard lock(mHostMutex);
    if (mHost)
        mHost->Tell(line);
    else
        ZT::DebugLine(line);
}

std::string LUpdateSequence::DescribeFailure() const
{
    std::string why = ::ToString(mEngine->GetDeviceState());
    if (mEngine->GetUpdateRunState(false) == UpdateRunState::Cancelled)
        why += ", cancelled";
    else
        why += ", " + ReasonText(*mEngine);
    return why;
}

void LUpdateSequence::Record(Outcome result, std::string detail)
{
    mReports[TargetIndex()] = DeviceReport{result, std::move(detail), {}};
    WriteHistory(*mReports[TargetIndex()]);
}

void LUpdateSequence::RecordFailure(CUpdateFailure failure, const std::string& fallback)
{
    if (failure.IsFailure()) {
        failure.Role = TargetName();
        if (failure.VendorId == 0 && failure.ProductId == 0) {
            const ProductDevice& target = TargetIndex() == kControllerIndex ? kControllerDevice : kWheelDisplayDevice;
            failure.VendorId = static_cast<std::uint16_t>(target.VendorId);
            failure.ProductId = static_cast<std::uint16_t>(target.ProductId);
        }
    }
    std::string detail = failure.IsFailure() ? failure.Format() : fallback;
    mReports[TargetIndex()] = DeviceReport{Outcome::Failed, std::move(detail), std::move(failure)};
    WriteHistory(*mReports[TargetIndex()]);
}

void LUpdateSequence::WriteHistory(const DeviceReport& report) const
{
    if (report.Result != Outcome::Updated && report.Result != Outcome::Failed)
        return;
    CUpdateHistory::Entry entry;
    entry.Device = TargetName();
    entry.BootloaderSerial = report.Failure.BootloaderSerial;
    entry.VersionBefore = mVersionBefore[TargetIndex()];
    entry.VersionAfter = report.Result == Outcome::Updated ? report.Detail : std::string();
    entry.Result = report.Result == Outcome::Updated ? "updated" : "failed";
    entry.Failure = report.Result == Outcome::Failed ? report.Detail : std::string();
    (void)CUpdateHistory::Record(entry); // a history that cannot be written says so on the debug output
}

std::string LUpdateSequence::TargetName()
{
    return kDeviceNames[TargetIndex()];
}

std::uint32_t LUpdateSequence::TargetIndex()
{
    const ZT::RCPtr<LDualUpdater> dualUpdater = LDualUpdater::GetInstance();
    return !dualUpdater || dualUpdater->IsUpdatingController() ? kControllerIndex : kDisplayIndex;
}

// ---- The summary ---------------------------------------------------------------------------------

LUpdateSequence::DeviceReport LUpdateSequence::GetDeviceReport(std::uint32_t index) const
{
    if (index > kDisplayIndex)
        return {Outcome::NotAttempted, "no such device", {}};
    if (mReports[index])
        return *mReports[index];

    const ZT::RCPtr<LDualUpdater> dualUpdater = LDualUpdater::GetInstance();
    if (!dualUpdater || !dualUpdater->GetProbeResult().AnyDeviceFound)
        return {Outcome::NotAttempted, "no device of the controller was found", {}};
    const LDualUpdater::ProbeResult& probe = dualUpdater->GetProbeResult();
    const std::uint32_t other = 1 - index;
    const bool otherFailed = mReports[other] && mReports[other]->Result == Outcome::Failed;
    const std::string afterOtherFailed = "the " + LowerFirst(kDeviceNames[other]) + "'s update did not succeed";
    // A device that failed may be gone from the bus, which makes the last probe's set incomplete.
    if (probe.BootloaderUnidentified && !otherFailed)
        return {Outcome::NotAttempted, "a device in update mode could not be identified", {}};
    if (probe.DeviceSetIncomplete)
        return {Outcome::NotAttempted, otherFailed ? afterOtherFailed : "only part of the controller was found", {}};
    const bool needsUpdate = index == kControllerIndex ? probe.ControllerNeedsUpdate : probe.DisplayNeedsUpdate;
    const LUpdateEngineInterface::FirmwareVersion& version =
        index == kControllerIndex ? probe.ControllerVersion : probe.DisplayVersion;
    if (!needsUpdate) {
        if (version.Text.IsEmpty())
            return {Outcome::NotAttempted, "not found", {}};
        return {Outcome::AlreadyCurrent, version.Text.ToUTF8(), {}};
    }
    if (otherFailed)
        return {Outcome::NotAttempted, afterOtherFailed, {}};
    if (std::string why = WhyNothingMayStart(); !why.empty())
        return {Outcome::NotAttempted, why, {}};
    if (mSwitching[index])
        return {Outcome::NotAttempted, "its switch into update mode did not end in update mode", {}};
    return {Outcome::NotAttempted, "no update was started for it", {}};
}

LUpdateSequence::Summary LUpdateSequence::GetSummary() const
{
    Summary summary;
    for (std::uint32_t i = kControllerIndex; i <= kDisplayIndex; ++i) {
        const Outcome result = GetDeviceReport(i).Result;
        summary.Succeeded += result == Outcome::Updated ? 1 : 0;
        summary.Failed += result == Outcome::Failed ? 1 : 0;
    }
    return summary;
}

std::vector<std::string> LUpdateSequence::GetSummaryLines() const
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
