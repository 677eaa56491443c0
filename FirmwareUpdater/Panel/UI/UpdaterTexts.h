#pragma once
// The identifiers of every text the updater takes from its string tables, where each lives, and
// the few texts the program writes itself.
//
// A control's texts live in the table named after its parent's class and its own name
// ("FirmwareUpdater.MainControl|labelDeviceInformation"); "LABEL" is its default text. The
// application's general texts live in "|" + the application name. Keep every look-up the code
// makes in kTextLookups: a test checks each of them in every shipped language.

#include "FirmwareUpdater/Panel/UI/ControlNames.h"

namespace UpdaterTexts {

inline constexpr const wchar_t* kApplicationName = L"Wavecrest";
inline constexpr const wchar_t* kLabel = L"LABEL";

// Application table.
inline constexpr const wchar_t* kSelectFirmwareFileDialogTitle = L"SELECT_FIRMWARE_FILE_DIALOG_TITLE";
inline constexpr const wchar_t* kSelectFirmwareFileDialogFileFilter = L"SELECT_FIRMWARE_FILE_DIALOG_FILE_FILTER";
inline constexpr const wchar_t* kSelectFirmwareFileDefaultFileExtension = L"SELECT_FIRMWARE_FILE_DEFAULT_FILE_EXTENSION";
inline constexpr const wchar_t* kWaitingForDeviceToEnterUpdateModeCursorTitle =
    L"WAITING_FOR_DEVICE_TO_ENTER_UPDATE_MODE_CURSOR_TITLE";
// "%s": the dropped file's path.
inline constexpr const wchar_t* kDroppedFileIsNotFirmware = L"DROPPED_FILE_IS_NOT_FIRMWARE";
// Without any file chooser on the desktop: how else to give the firmware file.
inline constexpr const wchar_t* kNoFileChooser = L"NO_FILE_CHOOSER";
inline constexpr const wchar_t* kExitApplicationDialogTitle = L"EXIT_APPLICATION_DIALOG_TITLE";
inline constexpr const wchar_t* kExitApplicationDialogMessage = L"EXIT_APPLICATION_DIALOG_MESSAGE";

// labelDeviceInformation
inline constexpr const wchar_t* kLabelNoDeviceDefined = L"LABEL_NO_DEVICE_DEFINED";
inline constexpr const wchar_t* kLabelNoDeviceFound = L"LABEL_NO_DEVICE_FOUND";
inline constexpr const wchar_t* kLabelScanningForDevice = L"LABEL_SCANNING_FOR_DEVICE";
inline constexpr const wchar_t* kLabelDevicesAvailableNoneSelected = L"LABEL_DEVICES_AVAILABLE_NONE_SELECTED";
inline constexpr const wchar_t* kLabelDeviceNotInUpdateMode = L"LABEL_DEVICE_NOT_IN_UPDATE_MODE";
inline constexpr const wchar_t* kLabelDeviceInUpdateMode = L"LABEL_DEVICE_IN_UPDATE_MODE";
// labelFirmwareFileInformation (the IDs keep the tables' spelling)
inline constexpr const wchar_t* kLabelNoFileDefined = L"LABEL_NO_FILE_DEFINED";
inline constexpr const wchar_t* kLabelFirmwareFileInvalid = L"LABEL_FIRMARE_FILE_INVALID";
inline constexpr const wchar_t* kLabelFirmwareFileFoundVersionKnown = L"LABEL_FIRMARE_FILE_FOUND_VERSION_KNOWN";
// labelFileFirmwareVersion, used by the two-device sequence
inline constexpr const wchar_t* kLabelUpdatingControllerFirmware = L"LABEL_UPDATING_CONTROLLER_FIRMWARE";
inline constexpr const wchar_t* kLabelUpdatingWheelDisplayFirmware = L"LABEL_UPDATING_WHEEL_DISPLAY_FIRMWARE";
// labelUpdateProcessInformation
inline constexpr const wchar_t* kLabelReadyForUpdate = L"LABEL_READY_FOR_UPDATE";
inline constexpr const wchar_t* kLabelReadyForDowngradeUpdate = L"LABEL_READY_FOR_DOWNGRADE_UPDATE";
inline constexpr const wchar_t* kLabelUpdateTransitioningToUpdateMode = L"LABEL_UPDATE_TRANSITIONING_TO_UPDATE_MODE";
inline constexpr const wchar_t* kLabelUpdateInProgress = L"LABEL_UPDATE_IN_PROGRESS";
inline constexpr const wchar_t* kLabelUpdateAborted = L"LABEL_UPDATE_ABORTED";
inline constexpr const wchar_t* kLabelUpdateTransitioningAfterUpdate = L"LABEL_UPDATE_TRANSITIONING_AFTER_UPDATE";
inline constexpr const wchar_t* kLabelUpdateSucceeded = L"LABEL_UPDATE_SUCCEEDED";
inline constexpr const wchar_t* kLabelUpdateSentButNotSuccessful = L"LABEL_UPDATE_SENT_BUT_NOT_SUCCESSFUL";
inline constexpr const wchar_t* kLabelUpdateSuccessUnknown = L"LABEL_UPDATE_SUCESS_UNKNOWN";
// labelDeviceCannotUpdateError
inline constexpr const wchar_t* kLabelDeviceCannotBeUpdatedNoReason = L"LABEL_DEVICE_CANNOT_BE_UPDATED_NO_REASON";
inline constexpr const wchar_t* kLabelDriverIsTooOld = L"LABEL_DRIVER_IS_TOO_OLD";
inline constexpr const wchar_t* kLabelCannotUpdateSystemFailure = L"LABEL_CANNOT_UPDATE_SYSTEM_FAILURE";
inline constexpr const wchar_t* kLabelCannotUpdateFileAccessFailure = L"LABEL_CANNOT_UPDATE_FILE_ACCESS_FAILURE";
inline constexpr const wchar_t* kLabelDeviceDeviceAccessFailure = L"LABEL_DEVICE_DEVICE_ACCESS_FAILURE";
inline constexpr const wchar_t* kLabelUpdateNotNeeded = L"LABEL_UPDATE_NOT_NEEDED";
// mainMenu
inline constexpr const wchar_t* kMenuLabelFile = L"MENU_LABEL.00";
inline constexpr const wchar_t* kMenuItemSelectFirmwareFile = L"CONTEXT_MENU0.00.NID_MENU_FILE_SELECT";
inline constexpr const wchar_t* kMenuItemExit = L"CONTEXT_MENU0.01.NID_MENU_FILE_EXIT_REQ";
inline constexpr const wchar_t* kMenuLabelOptions = L"MENU_LABEL.01";
inline constexpr const wchar_t* kMenuItemAllowDowngrade = L"CONTEXT_MENU1.00.NID_MENU_OPTIONS_ALLOW_DOWNGRADE";

// Framework table.
inline constexpr const wchar_t* kStartupError = L"STARTUP_ERROR";
inline constexpr const wchar_t* kStartupErrorCaption = L"STARTUP_ERROR_CAPTION";
inline constexpr const wchar_t* kExceptionId = L"EXCEPTION_ID";

// Texts the program writes itself, or uses when a table lacks the entry.
inline constexpr const wchar_t* kWaitingForDeviceResetText = L"Waiting for Device Reset To Complete...";
inline constexpr const wchar_t* kStartupErrorDefault =
    L"The application encountered problems during startup and will now close.";
inline constexpr const wchar_t* kStartupErrorCaptionDefault = L"Error";
inline constexpr const wchar_t* kExceptionIdDefault =
    L"The application encountered problems during startup and will now close.  (Error code = %d)";

// Where a looked-up text lives.
enum class Table {
    Application,   // "|" + application name
    Framework,     // "Framework"
    Control,       // mOwner + "|" + mControl; an empty owner means the application name
};

struct TextLookup {
    Table mTable;
    const wchar_t* mOwner;
    const wchar_t* mControl;
    const wchar_t* mId;
};

namespace Detail {
inline constexpr const wchar_t* kMain = MainControlNames::kMainControlClass;
inline constexpr const wchar_t* kProgress = MainControlNames::kProgressBarClass;
} // namespace Detail

// Every text the code looks up.
inline constexpr TextLookup kTextLookups[] = {
    {Table::Application, L"", L"", kSelectFirmwareFileDialogTitle},
    {Table::Application, L"", L"", kSelectFirmwareFileDialogFileFilter},
    {Table::Application, L"", L"", kSelectFirmwareFileDefaultFileExtension},
    {Table::Application, L"", L"", kWaitingForDeviceToEnterUpdateModeCursorTitle},
    {Table::Application, L"", L"", kDroppedFileIsNotFirmware},
    {Table::Application, L"", L"", kNoFileChooser},
    {Table::Framework, L"", L"", kStartupError},
    {Table::Framework, L"", L"", kStartupErrorCaption},
    {Table::Framework, L"", L"", kExceptionId},

    {Table::Control, L"", MainControlNames::kMainControl, kLabel},
    {Table::Control, Detail::kMain, MainControlNames::kButtonExit, kLabel},
    {Table::Control, Detail::kMain, MainControlNames::kButtonUpdateFirmware, kLabel},
    {Table::Control, Detail::kMain, MainControlNames::kButtonScanForDevice, kLabel},
    {Table::Control, Detail::kMain, MainControlNames::kButtonReinitialize, kLabel},
    {Table::Control, Detail::kMain, MainControlNames::kButtonManualDeviceReady, kLabel},
    {Table::Control, Detail::kMain, MainControlNames::kButtonManualDeviceHasUpdated, kLabel},
    {Table::Control, Detail::kMain, MainControlNames::kButtonSelectFirmwareFile, kLabel},
    {Table::Control, Detail::kMain, MainControlNames::kButtonAbort, kLabel},
    {Table::Control, Detail::kMain, MainControlNames::kUpdaterVersionLabel, kLabel},
    {Table::Control, Detail::kMain, MainControlNames::kLabelDeviceFirmwareVersion, kLabel},
    {Table::Control, Detail::kMain, MainControlNames::kLabelFileFirmwareVersion, kLabel},
    {Table::Control, Detail::kMain, MainControlNames::kMainMenu, kMenuLabelFile},
    {Table::Control, Detail::kMain, MainControlNames::kMainMenu, kMenuItemSelectFirmwareFile},
    {Table::Control, Detail::kMain, MainControlNames::kMainMenu, kMenuItemExit},
    {Table::Control, Detail::kMain, MainControlNames::kMainMenu, kMenuLabelOptions},
    {Table::Control, Detail::kMain, MainControlNames::kMainMenu, kMenuItemAllowDowngrade},
    {Table::Control, Detail::kProgress, MainControlNames::kTimeRemainingLabel, kLabel},
    {Table::Control, Detail::kProgress, MainControlNames::kPercentCompleteLabel, kLabel},
    {Table::Control, Detail::kProgress, MainControlNames::kPercentSymbolLabel, kLabel},

    {Table::Control, Detail::kMain, MainControlNames::kLabelDeviceInformation, kLabel},
    {Table::Control, Detail::kMain, MainControlNames::kLabelDeviceInformation, kLabelNoDeviceDefined},
    {Table::Control, Detail::kMain, MainControlNames::kLabelDeviceInformation, kLabelNoDeviceFound},
    {Table::Control, Detail::kMain, MainControlNames::kLabelDeviceInformation, kLabelScanningForDevice},
    {Table::Control, Detail::kMain, MainControlNames::kLabelDeviceInformation, kLabelDevicesAvailableNoneSelected},
    {Table::Control, Detail::kMain, MainControlNames::kLabelDeviceInformation, kLabelDeviceNotInUpdateMode},
    {Table::Control, Detail::kMain, MainControlNames::kLabelDeviceInformation, kLabelDeviceInUpdateMode},

    {Table::Control, Detail::kMain, MainControlNames::kLabelFirmwareFileInformation, kLabel},
    {Table::Control, Detail::kMain, MainControlNames::kLabelFirmwareFileInformation, kLabelNoFileDefined},
    {Table::Control, Detail::kMain, MainControlNames::kLabelFirmwareFileInformation, kLabelFirmwareFileInvalid},
    {Table::Control, Detail::kMain, MainControlNames::kLabelFirmwareFileInformation,
     kLabelFirmwareFileFoundVersionKnown},

    {Table::Control, Detail::kMain, MainControlNames::kLabelFileFirmwareVersion, kLabelUpdatingControllerFirmware},
    {Table::Control, Detail::kMain, MainControlNames::kLabelFileFirmwareVersion, kLabelUpdatingWheelDisplayFirmware},

    {Table::Control, Detail::kMain, MainControlNames::kLabelUpdateProcessInformation, kLabel},
    {Table::Control, Detail::kMain, MainControlNames::kLabelUpdateProcessInformation, kLabelReadyForUpdate},
    {Table::Control, Detail::kMain, MainControlNames::kLabelUpdateProcessInformation, kLabelReadyForDowngradeUpdate},
    {Table::Control, Detail::kMain, MainControlNames::kLabelUpdateProcessInformation,
     kLabelUpdateTransitioningToUpdateMode},
    {Table::Control, Detail::kMain, MainControlNames::kLabelUpdateProcessInformation, kLabelUpdateInProgress},
    {Table::Control, Detail::kMain, MainControlNames::kLabelUpdateProcessInformation, kLabelUpdateAborted},
    {Table::Control, Detail::kMain, MainControlNames::kLabelUpdateProcessInformation,
     kLabelUpdateTransitioningAfterUpdate},
    {Table::Control, Detail::kMain, MainControlNames::kLabelUpdateProcessInformation, kLabelUpdateSucceeded},
    {Table::Control, Detail::kMain, MainControlNames::kLabelUpdateProcessInformation, kLabelUpdateSentButNotSuccessful},
    {Table::Control, Detail::kMain, MainControlNames::kLabelUpdateProcessInformation, kLabelUpdateSuccessUnknown},

    {Table::Control, Detail::kMain, MainControlNames::kLabelDeviceCannotUpdateError, kLabel},
    {Table::Control, Detail::kMain, MainControlNames::kLabelDeviceCannotUpdateError,
     kLabelDeviceCannotBeUpdatedNoReason},
    {Table::Control, Detail::kMain, MainControlNames::kLabelDeviceCannotUpdateError, kLabelDriverIsTooOld},
    {Table::Control, Detail::kMain, MainControlNames::kLabelDeviceCannotUpdateError, kLabelCannotUpdateSystemFailure},
    {Table::Control, Detail::kMain, MainControlNames::kLabelDeviceCannotUpdateError,
     kLabelCannotUpdateFileAccessFailure},
    {Table::Control, Detail::kMain, MainControlNames::kLabelDeviceCannotUpdateError, kLabelDeviceDeviceAccessFailure},
    {Table::Control, Detail::kMain, MainControlNames::kLabelDeviceCannotUpdateError, kLabelUpdateNotNeeded},
};

} // namespace UpdaterTexts
