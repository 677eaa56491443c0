#pragma once
// What the main window shows for one combination of the engine's states: the text of each state
// label and which named children are shown. A pure function of its inputs, so the same states
// always give the same view and a handler may refresh as often as it likes.
//
// Some buttons follow rules of their own rather than the run state's fixed values:
// - "OPEN FILE" (buttonSelectFirmwareFile) shows while there is no usable firmware file, and not
//   while a switch into update mode or a download runs (choosing a file then would do nothing),
//   nor beside the NEXT that asks whether an updated device has come back (its place);
// - the NEXT of buttonManualDeviceReadyForUpdateButton never shows: the program switches the
//   device into update mode itself and notices its bootloader, so there is nothing to confirm;
// - "CANCEL" (buttonAbort) shows only while cancelling is safe: during the switch into update mode
//   and the wait for the bootloader. From the first erase on it is hidden: the window then says
//   not to unplug the device, and stopping would leave it without firmware.

#include "FirmwareUpdater/Panel/Engine/EngineRecords.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace MainControlView {

struct Inputs {
    UpdateRunState mRunState = UpdateRunState::Idle;
    DeviceState mDeviceState = DeviceState::NoDeviceDefined;
    FirmwareFileState mFileState = FirmwareFileState::NoFileDefined;
    bool mUpdateNeeded = false;           // N: the file is strictly newer than the device
    bool mUpdateWanted = false;           // W: always-update, or N
    bool mDeviceVersionKnown = false;     // V
    std::uint32_t mDeviceErrorReason = 0; // the engine's reason (0 outside DeviceCannotBeUpdated)
    bool mAwaitingDeviceReset = false;
    bool mNoScanButton = false;
    // labelUpdateProcessInformation's table has "LABEL_UPDATE_TRANSITIONING_AFTER_UPDATE".
    bool mHasTransitioningAfterUpdateText = true;
};

// The process label's text: a table entry, the text kept at initialisation for the switch into
// update mode, or the label's default text.
struct ProcessText {
    enum class Kind { Id, Transitioning, Default };
    Kind mKind = Kind::Default;
    const wchar_t* mId = nullptr; // for Kind::Id
};

struct Visibility {
    const wchar_t* mName;
    bool mShown;
};

struct View {
    const wchar_t* mDeviceInformationId = nullptr; // null: the label's default text
    const wchar_t* mFileInformationId = nullptr;   // null: left as it is
    ProcessText mProcessText;
    const wchar_t* mCannotUpdateId = nullptr;      // null: the label's default text
    // Every named child the view decides on, in the order of the names in ControlNames.h. The
    // transition animation's reset to its start is left to the caller (ResetTransitionAnimation).
    std::vector<Visibility> mVisibility;
    bool mResetTransitionAnimation = false;
};

[[nodiscard]] View Compute(const Inputs& inputs);

// "Idle/DeviceNotInUpdateMode/FileFoundVersionKnown N W V": for failure messages.
[[nodiscard]] std::string Describe(const Inputs& inputs);

} // namespace MainControlView
