#pragma once
// The controls the updater looks up by name in its skin, with the class each must have.
//
// The main control finds its children by these names (direct children of "mainControl"), and
// the application finds the root control and the status bar. Keep every name the code looks up
// here: a test walks this list against the shipped skin, so a renamed or retyped control fails
// the build's tests rather than the program's start.

namespace MainControlNames {

inline constexpr const wchar_t* kMainControl = L"mainControl";
inline constexpr const wchar_t* kMainControlClass = L"FirmwareUpdater.MainControl";

inline constexpr const wchar_t* kButtonClass = L"Framework.Button";
inline constexpr const wchar_t* kLabelClass = L"Framework.Label";
inline constexpr const wchar_t* kProgressBarClass = L"Framework.ProgressBar";
inline constexpr const wchar_t* kPanelClass = L"Framework.Panel";
inline constexpr const wchar_t* kMainMenuClass = L"Framework.MainMenu";
inline constexpr const wchar_t* kStatusBarClass = L"Framework.StatusBar";

inline constexpr const wchar_t* kButtonUpdateFirmware = L"buttonUpdateFirmware";
inline constexpr const wchar_t* kButtonScanForDevice = L"buttonScanForDevice";
inline constexpr const wchar_t* kButtonExit = L"buttonExit";
inline constexpr const wchar_t* kButtonReinitialize = L"buttonReinitialize";
inline constexpr const wchar_t* kButtonManualDeviceReady = L"buttonManualDeviceReadyForUpdateButton";
inline constexpr const wchar_t* kButtonManualDeviceHasUpdated = L"buttonManualDeviceHasUpdatedRescanButton";
inline constexpr const wchar_t* kButtonSelectFirmwareFile = L"buttonSelectFirmwareFile";
inline constexpr const wchar_t* kButtonAbort = L"buttonAbort";
inline constexpr const wchar_t* kLabelDeviceInformation = L"labelDeviceInformation";
inline constexpr const wchar_t* kLabelFirmwareFileInformation = L"labelFirmwareFileInformation";
inline constexpr const wchar_t* kLabelUpdateProcessInformation = L"labelUpdateProcessInformation";
inline constexpr const wchar_t* kLabelFileFirmwareVersion = L"labelFileFirmwareVersion";
inline constexpr const wchar_t* kLabelDeviceFirmwareVersion = L"labelDeviceFirmwareVersion";
inline constexpr const wchar_t* kLabelDeviceCannotUpdateError = L"labelDeviceCannotUpdateError";
inline constexpr const wchar_t* kControlTransitioningToUpdateMode = L"controlTransitioningToUpdateMode";
inline constexpr const wchar_t* kLabelDeviceNotFound = L"labelDeviceNotFound";
inline constexpr const wchar_t* kProgressBar = L"progressBar";
inline constexpr const wchar_t* kUpdaterVersionLabel = L"updaterVersionLabel";
inline constexpr const wchar_t* kMainMenu = L"mainMenu";
inline constexpr const wchar_t* kProductImage = L"productImage";
inline constexpr const wchar_t* kStatusBar = L"statusBar";

// The progress bar's own labels.
inline constexpr const wchar_t* kTimeRemainingLabel = L"timeRemainingLabel";
inline constexpr const wchar_t* kPercentCompleteLabel = L"percentCompleteLabel";
inline constexpr const wchar_t* kPercentSymbolLabel = L"percentSymbolLabel";

// Required: the main control refuses to start without it. Optional: the main control skips it
// when the skin leaves it out.
enum class Presence { Required, Optional };

struct NamedControl {
    const wchar_t* mName;
    const wchar_t* mClassName;
    Presence mPresence;
    bool mInShippedSkin;   // whether our own skin has it
};

// The direct children of "mainControl" that the code looks up.
inline constexpr NamedControl kMainControlChildren[] = {
    {kButtonUpdateFirmware, kButtonClass, Presence::Required, true},
    {kButtonScanForDevice, kButtonClass, Presence::Optional, true},
    {kButtonExit, kButtonClass, Presence::Required, true},
    {kButtonReinitialize, kButtonClass, Presence::Required, true},
    {kButtonManualDeviceReady, kButtonClass, Presence::Optional, true},
    {kButtonManualDeviceHasUpdated, kButtonClass, Presence::Optional, true},
    {kButtonSelectFirmwareFile, kButtonClass, Presence::Optional, true},
    {kButtonAbort, kButtonClass, Presence::Optional, true},
    {kLabelDeviceInformation, kLabelClass, Presence::Required, true},
    {kLabelFirmwareFileInformation, kLabelClass, Presence::Required, true},
    {kLabelUpdateProcessInformation, kLabelClass, Presence::Required, true},
    {kLabelFileFirmwareVersion, kLabelClass, Presence::Required, true},
    {kLabelDeviceFirmwareVersion, kLabelClass, Presence::Required, true},
    {kLabelDeviceCannotUpdateError, kLabelClass, Presence::Required, true},
    {kControlTransitioningToUpdateMode, kProgressBarClass, Presence::Optional, false},
    {kLabelDeviceNotFound, kLabelClass, Presence::Optional, false},
    {kProgressBar, kProgressBarClass, Presence::Required, true},
    {kUpdaterVersionLabel, kLabelClass, Presence::Required, true},
    {kMainMenu, kMainMenuClass, Presence::Optional, true},
    {kProductImage, kPanelClass, Presence::Optional, true},
    {kStatusBar, kStatusBarClass, Presence::Optional, true},
};

// The progress bar's children, whose tables are "Framework.ProgressBar|" plus their names.
inline constexpr NamedControl kProgressBarChildren[] = {
    {kTimeRemainingLabel, kLabelClass, Presence::Optional, true},
    {kPercentCompleteLabel, kLabelClass, Presence::Optional, true},
    {kPercentSymbolLabel, kLabelClass, Presence::Optional, true},
};

} // namespace MainControlNames
