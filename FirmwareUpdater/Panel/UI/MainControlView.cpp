#include "FirmwareUpdater/Panel/UI/MainControlView.h"

#include "FirmwareUpdater/Panel/UI/ControlNames.h"
#include "FirmwareUpdater/Panel/UI/UpdaterTexts.h"

namespace MainControlView {

namespace {

namespace Names = MainControlNames;
namespace Texts = UpdaterTexts;

const wchar_t* DeviceInformationId(DeviceState d)
{
    switch (d) {
    case DeviceState::NoDeviceDefined: return Texts::kLabelNoDeviceDefined;
    case DeviceState::NoDeviceFound: return Texts::kLabelNoDeviceFound;
    case DeviceState::Scanning: return Texts::kLabelScanningForDevice;
    case DeviceState::DevicesAvailableNoneSelected: return Texts::kLabelDevicesAvailableNoneSelected;
    case DeviceState::DeviceNotInUpdateMode: return Texts::kLabelDeviceNotInUpdateMode;
    case DeviceState::DeviceInUpdateMode: return Texts::kLabelDeviceInUpdateMode;
    default: return nullptr;
    }
}

const wchar_t* FileInformationId(FirmwareFileState f)
{
    switch (f) {
    case FirmwareFileState::NoFileDefined: return Texts::kLabelNoFileDefined;
    case FirmwareFileState::FileInvalid:
    case FirmwareFileState::FileFoundVersionUnknown: return Texts::kLabelFirmwareFileInvalid;
    case FirmwareFileState::FileFoundVersionKnown: return Texts::kLabelFirmwareFileFoundVersionKnown;
    }
    return nullptr;
}

ProcessText Process(const Inputs& in)
{
    using Kind = ProcessText::Kind;
    const auto id = [](const wchar_t* text) { return ProcessText{Kind::Id, text}; };
    switch (in.mRunState) {
    case UpdateRunState::Idle:
        if (in.mDeviceState == DeviceState::EnteringUpdateMode)
            return {Kind::Transitioning, nullptr};
        // The readiness text follows N, not W: with always-update on and a device already at the
        // file's version, the downgrade warning shows.
        return id(in.mUpdateNeeded ? Texts::kLabelReadyForUpdate : Texts::kLabelReadyForDowngradeUpdate);
    case UpdateRunState::Running: return id(Texts::kLabelUpdateInProgress);
    case UpdateRunState::Cancelled: return id(Texts::kLabelUpdateAborted);
    case UpdateRunState::Succeeded:
        if (in.mDeviceState == DeviceState::DeviceNotInUpdateMode)
            return id(in.mUpdateNeeded ? Texts::kLabelUpdateSentButNotSuccessful : Texts::kLabelUpdateSucceeded);
        if (in.mAwaitingDeviceReset)
            return id(in.mHasTransitioningAfterUpdateText ? Texts::kLabelUpdateTransitioningAfterUpdate
                                                          : Texts::kLabelUpdateInProgress);
        return id(Texts::kLabelUpdateSuccessUnknown);
    default: return {Kind::Default, nullptr};
    }
}

const wchar_t* CannotUpdateId(const Inputs& in)
{
    const auto reason = static_cast<DeviceErrorReason>(in.mDeviceErrorReason);
    if (!in.mUpdateWanted)
        return reason == DeviceErrorReason::DriverTooOld ? Texts::kLabelDriverIsTooOld : Texts::kLabelUpdateNotNeeded;
    switch (reason) {
    case DeviceErrorReason::NoReason: return Texts::kLabelDeviceCannotBeUpdatedNoReason;
    case DeviceErrorReason::DriverTooOld: return Texts::kLabelDriverIsTooOld;
    case DeviceErrorReason::SystemFailure: return Texts::kLabelCannotUpdateSystemFailure;
    case DeviceErrorReason::FileAccessFailure: return Texts::kLabelCannotUpdateFileAccessFailure;
    case DeviceErrorReason::DeviceAccessFailure: return Texts::kLabelDeviceDeviceAccessFailure;
    }
    return nullptr;
}

} // namespace

View Compute(const Inputs& in)
{
    View view;
    view.mDeviceInformationId = DeviceInformationId(in.mDeviceState);
    view.mFileInformationId = FileInformationId(in.mFileState);
    view.mProcessText = Process(in);
    view.mCannotUpdateId = CannotUpdateId(in);

    const UpdateRunState r = in.mRunState;
    const auto d = static_cast<std::uint32_t>(in.mDeviceState);
    const bool known = in.mFileState == FirmwareFileState::FileFoundVersionKnown;
    const bool fileFound = known || in.mFileState == FirmwareFileState::FileFoundVersionUnknown;
    const bool w = in.mUpdateWanted;
    const bool idle = r == UpdateRunState::Idle;
    const bool running = r == UpdateRunState::Running;
    const bool failed = r == UpdateRunState::Failed;
    const bool cancelled = r == UpdateRunState::Cancelled;
    const bool succeeded = r == UpdateRunState::Succeeded;
    const bool readyToUpdate = known && w && (d == 5 || d == 7);
    const bool entering = d == 6;

    // Idle: each control's rule. The other run states: fixed values.
    bool deviceInformation = idle && ((d <= 3 && known) || (d == 5 && known && w) || (d >= 6 && (!known || w)));
    bool cannotUpdate = (idle && (d == 4 || (d >= 5 && known && !w))) || failed;
    if (idle && entering) {
        // The transition view replaces both.
        deviceInformation = false;
        cannotUpdate = false;
        view.mResetTransitionAnimation = true;
    }
    const bool busy = running || (idle && (entering || d == 8));
    // While a download runs the process text takes the error text's place.
    if (idle && d == 8)
        cannotUpdate = false;
    // NEXT of buttonManualDeviceHasUpdatedRescanButton shares its place with OPEN FILE.
    const bool deviceHasUpdatedNext = succeeded && d != 5;

    view.mVisibility = {
        {Names::kButtonUpdateFirmware, idle && readyToUpdate},
        {Names::kButtonScanForDevice, idle && !in.mNoScanButton && known && (d == 1 || d == 3)},
        {Names::kButtonExit, idle ? d != 6 : !running},
        {Names::kButtonReinitialize,
         (idle && d == 4 && fileFound) || failed || cancelled ||
             (succeeded && !in.mAwaitingDeviceReset && (d != 5 || in.mUpdateNeeded))},
        // The program switches the device itself and sees its bootloader arrive: a NEXT for a
        // switch made by hand would have nothing to do, so it is not offered.
        {Names::kButtonManualDeviceReady, false},
        {Names::kButtonManualDeviceHasUpdated, deviceHasUpdatedNext},
        {Names::kButtonSelectFirmwareFile, !known && !busy && !deviceHasUpdatedNext},
        {Names::kButtonAbort, idle && entering},
        {Names::kLabelDeviceInformation, deviceInformation},
        {Names::kLabelFirmwareFileInformation, (idle && (d <= 3 || d == 5) && !known) || failed},
        {Names::kLabelUpdateProcessInformation, (idle && (readyToUpdate || d == 6 || d == 8)) || running || cancelled || succeeded},
        {Names::kLabelFileFirmwareVersion, idle ? known : true},
        {Names::kLabelDeviceFirmwareVersion, in.mDeviceVersionKnown},
        {Names::kLabelDeviceCannotUpdateError, cannotUpdate},
        {Names::kControlTransitioningToUpdateMode, idle && entering},
        {Names::kLabelDeviceNotFound, idle && d == 1 && fileFound},
        {Names::kProgressBar, running || (idle && d == 8)},
    };
    return view;
}

std::string Describe(const Inputs& in)
{
    std::string text = std::string(::ToString(in.mRunState)) + "/" + ::ToString(in.mDeviceState) + "/" +
                       ::ToString(in.mFileState);
    text += in.mUpdateNeeded ? " N" : " !N";
    text += in.mUpdateWanted ? " W" : " !W";
    text += in.mDeviceVersionKnown ? " V" : " !V";
    if (in.mAwaitingDeviceReset)
        text += " awaiting-reset";
    if (in.mNoScanButton)
        text += " no-scan-button";
    if (in.mDeviceErrorReason != 0)
        text += std::string(" reason=") + ::ToString(static_cast<DeviceErrorReason>(in.mDeviceErrorReason));
    return text;
}

} // namespace MainControlView
