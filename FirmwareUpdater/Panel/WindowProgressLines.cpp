#include "FirmwareUpdater/Panel/WindowProgressLines.h"

#include "FirmwareUpdater/Panel/Engine/DeviceStateChangeNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateCompletedNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateProgressNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/WaitForDeviceToReturn.h"
#include "FirmwareUpdater/Panel/ProgressPrinter.h"
#include "ZTFramework/Notification/NotificationCenterManager.h"

#include <utility>

using ZT::ZTRESULT;
using DeviceState = LUpdateEngineInterface::DeviceState;
using UpdateRunState = LUpdateEngineInterface::UpdateRunState;

namespace {

constexpr ZTRESULT kHandled = ZT::S_FALSE;

// "Controller" or "Wheel display": the device the dual updater has the engine aim at (the
// command line's names).
std::string TargetName()
{
    const ZT::RCPtr<LDualUpdater> dualUpdater = LDualUpdater::GetInstance();
    return !dualUpdater || dualUpdater->IsUpdatingController() ? "Controller" : "Wheel display";
}

std::string ReasonText(LUpdateEngineInterface& engine)
{
    std::uint32_t reason = 0;
    (void)engine.GetDeviceErrorReason(reason);
    return ::ToString(static_cast<LUpdateEngineInterface::DeviceErrorReason>(reason));
}

} // namespace

LWindowProgressLines::LWindowProgressLines(ZT::RCPtr<LUpdateEngineInterface> engine, CProgressPrinter& printer)
    : mEngine(std::move(engine)), mPrinter(printer)
{
}

LWindowProgressLines::~LWindowProgressLines()
{
    Stop();
}

ZTRESULT LWindowProgressLines::Start()
{
    if (mHandler)
        return ZT::S_FALSE;
    const ZT::RCPtr<ZT::LNotificationCenter> center = ZT::LNotificationCenterManager::GetInstance()->GetCenter(
        ZT::WString(LUpdateEngineInterface::kApplicationCenterName));
    mHandler = ZT::MakeRC<ZT::LNotificationHandler<LWindowProgressLines>>(this);
    const std::pair<ZTRESULT (LWindowProgressLines::*)(ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>&),
                    const wchar_t*>
        handlers[] = {
            {&LWindowProgressLines::OnDeviceStateChange, LUpdateEngineInterface::kNidDeviceStateChange},
            {&LWindowProgressLines::OnProgress, LUpdateEngineInterface::kNidFirmwareUpdateProgress},
            {&LWindowProgressLines::OnCompleted, LUpdateEngineInterface::kNidFirmwareUpdateCompleted},
        };
    for (const auto& [handler, id] : handlers) {
        const ZTRESULT added = mHandler->AddHandler(handler, 0, center.Get(), id);
        if (ZT::Failed(added)) {
            Stop();
            return added;
        }
    }
    // What the window starts with is on the screen already (the scan's lines).
    mShownProblem = mEngine->GetDeviceState();
    return ZT::S_OK;
}

void LWindowProgressLines::Stop()
{
    if (!mHandler)
        return;
    mPrinter.EndProgress();
    (void)ReleaseInternalReferences(); // drops the registrations
    mHandler = nullptr;
}

ZTRESULT LWindowProgressLines::HandleNotification(ZT::LNotificationDistributor* source,
                                                  const ZT::RCPtr<ZT::LNotification>& notification)
{
    return mHandler ? mHandler->Dispatch(source, notification) : ZT::S_OK;
}

ZTRESULT LWindowProgressLines::OnDeviceStateChange(ZT::LNotificationDistributor*,
                                                   const ZT::RCPtr<ZT::LNotification>& notification)
{
    // The steps come from the change itself: the window's update goes on to the other device
    // before its notifications are delivered, and the engine's state then is that device's.
    // Only the main engine switches and writes (the dual updater's probe engine scans).
    const auto payload = notification->GetPayloadAs<ZT::LDeviceStateChangeNotificationData>();
    if (payload) {
        const DeviceState step = payload->GetNewState();
        if (step == DeviceState::EnteringUpdateMode || step == DeviceState::Updating) {
            const std::string device = TargetName();
            if (mShownStep == std::make_pair(device, step))
                return kHandled;
            mShownStep = {device, step};
            if (step == DeviceState::EnteringUpdateMode) {
                mPrinter.WriteLine(device + ": switching to update mode...");
            } else {
                ZT::WString file;
                (void)mEngine->GetFirmwareFileVersionText(file);
                mPrinter.WriteLine(device + ": writing firmware " + file.ToUTF8() + "...");
            }
            return kHandled;
        }
    }
    // What the user has to act on, once per state: the engine's state now.
    const DeviceState state = mEngine->GetDeviceState();
    if (mShownProblem == state)
        return kHandled;
    mShownProblem.reset();
    // At the end of a download the device is off the bus while it restarts; the completion and
    // the device's return tell how that ended.
    const UpdateRunState run = mEngine->GetUpdateRunState(false);
    if (state == DeviceState::DeviceCannotBeUpdated && run != UpdateRunState::Running && run != UpdateRunState::Succeeded) {
        mShownProblem = state;
        mPrinter.WriteLine(TargetName() + ": cannot be updated (" + ReasonText(*mEngine) + ").");
    } else if (state == DeviceState::NoDeviceFound) {
        mShownProblem = state;
        mPrinter.WriteLine("No device found.");
    }
    return kHandled;
}

void LWindowProgressLines::OnDeviceReturned()
{
    const std::string device = TargetName();
    const DeviceState state = mEngine->GetDeviceState();
    if (state != DeviceState::DeviceNotInUpdateMode) {
        mPrinter.WriteLine(device + ": did not come back in normal mode within " +
                           std::to_string(kDeviceReturnLimitMs / 1000) + " s (" + ::ToString(state) + ").");
        return;
    }
    ZT::WString version;
    (void)mEngine->GetSelectedDeviceVersionText(version);
    mPrinter.WriteLine(device + ": back in normal mode with firmware " + version.ToUTF8() + ".");
}

ZTRESULT LWindowProgressLines::OnProgress(ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>& notification)
{
    if (const auto payload = notification->GetPayloadAs<ZT::LFirmwareUpdateProgressNotificationData>())
        mPrinter.Progress(TargetName(), payload->GetFractionComplete());
    return kHandled;
}

ZTRESULT LWindowProgressLines::OnCompleted(ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>& notification)
{
    const auto payload = notification->GetPayloadAs<ZT::LFirmwareUpdateCompletedNotificationData>();
    const bool succeeded = payload && payload->GetSucceeded();
    // The last progress the download posts is that of its last block, short of 100 %.
    if (succeeded)
        mPrinter.Progress(TargetName(), 1.0);
    mPrinter.EndProgress();
    if (succeeded) {
        mPrinter.WriteLine(TargetName() + ": firmware written; waiting for the device to restart...");
    } else {
        const std::string why = mEngine->GetUpdateRunState(false) == UpdateRunState::Cancelled
                                    ? std::string("cancelled")
                                    : ReasonText(*mEngine);
        mPrinter.WriteLine(TargetName() + ": the update failed (" + ::ToString(mEngine->GetDeviceState()) + ", " + why +
                           ").");
    }
    return kHandled;
}
