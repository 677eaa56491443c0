#pragma once
// The control that fills the updater's window ("FirmwareUpdater.MainControl", "mainControl").
//
// It owns no update logic. Every refresh reads the engine's three states (device, firmware file,
// run) and a few flags, sets the texts of its labels and decides which children are shown (see
// MainControlView.h for the rules). Its handlers turn clicks, menu commands, dropped files and
// the engine's notifications into calls on the update processor's engine, and end with a refresh,
// so the window always shows the engine's state.
//
// While it exists it plays, for the window, the part the windowless run plays without one: after
// each completed download it waits for the device to come back, hands the outcome to the dual
// updater, and as the dual updater's host goes on with the other device by itself. Initialize
// detaches the windowless run (SetApplicationParts) so that only one of them does so.
//
// Blocking: the switch into update mode (up to about 11 s) runs on the engine's worker while the
// window runs a nested loop (IWindowServices::RunModalUntil) under the wait cursor, so CANCEL
// can be clicked; meanwhile every other command, exit included, is refused. Without a window the
// switch runs on the user-interface thread. The wait for the device after a download (up to
// 10 s) still blocks, with the window repainted once before it. The download itself runs on the
// engine's worker.
//
// Threads: the user-interface thread's, all of it; the engine's notifications arrive there
// through the "application" center.

#include "FirmwareUpdater/Panel/Engine/DualUpdaterHost.h"
#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"
#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/Notification/NotificationHandler.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <functional>

class LCommandLineRun;
class LWindowProgressLines;
class LUpdateProcessor;

namespace ZT {

class IFileChooser;
class LControlFactory;
class LLabel;
class LMainMenu;
class LProgressBar;

class LMainControl : public LControl, public IDualUpdaterHost {
public:
    using DeviceState = LUpdateEngineInterface::DeviceState;
    using FirmwareFileState = LUpdateEngineInterface::FirmwareFileState;
    using UpdateRunState = LUpdateEngineInterface::UpdateRunState;

    // The window's commands (from the menu, through the root window).
    static constexpr const wchar_t* kNidMenuFileSelect = L"NID_MENU_FILE_SELECT";
    static constexpr const wchar_t* kNidMenuFileExitRequest = L"NID_MENU_FILE_EXIT_REQ";
    static constexpr const wchar_t* kNidMenuOptionsAllowDowngrade = L"NID_MENU_OPTIONS_ALLOW_DOWNGRADE";
    // Sent through the root window when the user asks to leave and no download runs.
    static constexpr const wchar_t* kNidAppExitRequest = L"NID_APP_EXIT_REQ";
    // The application-table entry shown when a dropped file is not a firmware file ("%s": its name).
    static constexpr const wchar_t* kDroppedFileRefusedId = L"DROPPED_FILE_IS_NOT_FIRMWARE"; // UpdaterTexts::kDroppedFileIsNotFirmware
    // The only extension a firmware file may have (compared without case).
    static constexpr const wchar_t* kFirmwareExtension = L".dfu";

    static RCPtr<LControl> Create();
    // Registers the class with factory. S_OK, or the factory's refusal.
    [[nodiscard]] static ZTRESULT RegisterClass(LControlFactory& factory);
    // What every main control made from now on works with: the application's processor, and the
    // windowless run it takes over from (detached by Initialize; may be null). Null, null lets
    // both go (at the application's shutdown).
    static void SetApplicationParts(RCPtr<LUpdateProcessor> processor, LCommandLineRun* windowlessRun);

    LMainControl();
    ~LMainControl() override;

    // Finds the children (a missing required one throws a null-pointer runtime error naming it),
    // registers the handlers, fills the version label, refreshes, and becomes the dual updater's
    // host. A negative base result is returned unchanged; without a processor, E_FAIL.
    [[nodiscard]] ZTRESULT Initialize() override;
    // Registers the menu commands and dropped files with the root window. Throws a runtime error
    // when there is none.
    void ProcessRootWindowAquired() override;
    // The allow-downgrade item is checked exactly while the processor's always-update is on.
    ZTRESULT QueryMenuItemState(NotificationID command, MenuItemState& state) override;

    // The whole view for (r, d, f): see MainControlView.h. Then the dual updater's labels.
    void RefreshControls(UpdateRunState runState, DeviceState deviceState, FirmwareFileState fileState);
    // The same with the engine's current values (run state read without reset).
    void RefreshFromEngine();
    // The processor's always-update, or else the engine's IsUpdateNeeded.
    [[nodiscard]] bool IsUpdateWanted() const;
    [[nodiscard]] bool IsAwaitingDeviceReset() const noexcept { return mAwaitingDeviceReset; }

    // The file chooser the file command uses; the window's (IWindowServices::CreateFileChooser),
    // asked for at first use, unless one was set here (tests set their own).
    void SetFileChooser(RCPtr<IFileChooser> chooser);

    // ---- IDualUpdaterHost
    // The "UPDATE FIRMWARE" step: with a known file version, switches a device in normal mode into
    // update mode (blocking, wait cursor), then starts the download when it is in update mode.
    void ContinueUpdateProcess() override;
    [[nodiscard]] bool HasLabel(const WString& labelName) override;
    [[nodiscard]] bool GetLabelString(const WString& labelName, const WString& stringId, WString& text) override;
    void SetLabelText(const WString& labelName, const WString& text) override;
    void HideButton(const WString& buttonName) override;

    ZTRESULT HandleNotification(LNotificationDistributor* source, const RCPtr<LNotification>& notification) override;
    ZTRESULT ReleaseInternalReferences() override;

protected:
    // While the device switches into update mode: moves the transition animation on.
    ZTRESULT ProcessIdle() override;

private:
    using Handler = ZTRESULT (LMainControl::*)(LNotificationDistributor*, const RCPtr<LNotification>&);

    [[nodiscard]] RCPtr<LControl> FindRequired(const wchar_t* name) const;
    [[nodiscard]] RCPtr<LControl> FindOptional(const wchar_t* name) const;
    void RegisterClick(const RCPtr<LControl>& button, Handler handler);
    [[nodiscard]] LUpdateEngineInterface& Engine() const;

    // The text of id in the named child's own table; empty when the table lacks it.
    [[nodiscard]] WString LabelText(const WString& labelName, const wchar_t* id) const;
    [[nodiscard]] bool LabelHasText(const WString& labelName, const wchar_t* id) const;
    // The text of id in the application's table; fallback when it lacks it.
    [[nodiscard]] WString ApplicationText(const wchar_t* id, const WString& fallback) const;
    void SetDeviceInformationText(DeviceState deviceState);
    void SetFileInformationText(FirmwareFileState fileState);
    void RefreshFileVersionText();

    // The wait cursor with a status text; RestoreCursor puts back what it replaced. Both do
    // nothing to the cursor without a platform window.
    void ShowWaitCursor(const WString& statusText);
    void RestoreCursor();
    void SetStatusText(const WString& text);
    void RepaintNow();
    // The switch into update mode: with a window, on the engine's worker while the window runs a
    // nested loop (RunModalUntil), so CANCEL can be clicked; without one, on this thread.
    void SwitchIntoUpdateMode();
    // True, with a debug line naming command, while the switch runs: no other command starts
    // then, and an exit request is refused (CANCEL is the way out).
    [[nodiscard]] bool RefusedDuringModeSwitch(const char* command) const;
    // The engine's RefreshDevice under the wait cursor.
    ZTRESULT RefreshDeviceStep();
    // Waits for the worker to end the task whose completion was just delivered, then starts the
    // download.
    void StartDownload();
    void SelectFirmwareFile(const WString& path);

    ZTRESULT OnDeviceStateChange(LNotificationDistributor* source, const RCPtr<LNotification>& notification);
    ZTRESULT OnFileStateChange(LNotificationDistributor* source, const RCPtr<LNotification>& notification);
    ZTRESULT OnFoundDeviceListChange(LNotificationDistributor* source, const RCPtr<LNotification>& notification);
    ZTRESULT OnProgress(LNotificationDistributor* source, const RCPtr<LNotification>& notification);
    ZTRESULT OnCompleted(LNotificationDistributor* source, const RCPtr<LNotification>& notification);
    ZTRESULT OnExitRequest(LNotificationDistributor* source, const RCPtr<LNotification>& notification);
    ZTRESULT OnUpdateFirmware(LNotificationDistributor* source, const RCPtr<LNotification>& notification);
    ZTRESULT OnTryAgain(LNotificationDistributor* source, const RCPtr<LNotification>& notification);
    ZTRESULT OnScan(LNotificationDistributor* source, const RCPtr<LNotification>& notification);
    ZTRESULT OnManualDeviceReady(LNotificationDistributor* source, const RCPtr<LNotification>& notification);
    ZTRESULT OnDeviceHasUpdated(LNotificationDistributor* source, const RCPtr<LNotification>& notification);
    ZTRESULT OnSelectFile(LNotificationDistributor* source, const RCPtr<LNotification>& notification);
    ZTRESULT OnAbort(LNotificationDistributor* source, const RCPtr<LNotification>& notification);
    ZTRESULT OnAllowDowngrade(LNotificationDistributor* source, const RCPtr<LNotification>& notification);
    ZTRESULT OnDropFile(LNotificationDistributor* source, const RCPtr<LNotification>& notification);

    RCPtr<LNotificationHandler<LMainControl>> mNotificationHandler;
    RCPtr<LControl> mButtonUpdateFirmware;
    RCPtr<LControl> mButtonScanForDevice;
    RCPtr<LControl> mButtonExit;
    RCPtr<LControl> mButtonReinitialize;
    RCPtr<LControl> mButtonManualDeviceReady;
    RCPtr<LControl> mButtonManualDeviceHasUpdated;
    RCPtr<LControl> mButtonSelectFirmwareFile;
    RCPtr<LControl> mButtonAbort;
    RCPtr<LLabel> mLabelDeviceInformation;
    RCPtr<LLabel> mLabelFirmwareFileInformation;
    RCPtr<LLabel> mLabelUpdateProcessInformation;
    RCPtr<LLabel> mLabelFileFirmwareVersion;
    RCPtr<LLabel> mLabelDeviceFirmwareVersion;
    RCPtr<LLabel> mLabelDeviceCannotUpdateError;
    RCPtr<LProgressBar> mControlTransitioningToUpdateMode;
    RCPtr<LControl> mLabelDeviceNotFound;
    RCPtr<LProgressBar> mProgressBar;
    RCPtr<LMainMenu> mMainMenu;
    RCPtr<LUpdateProcessor> mUpdateProcessor;
    LCommandLineRun* mDetachedRun = nullptr;   // the windowless run this control stood in for
    RCPtr<LWindowProgressLines> mProgressLines; // the step lines on the debug console, when it is open
    RCPtr<IFileChooser> mFileChooser;
    DeviceState mDeviceState = DeviceState::NoDeviceDefined;
    bool mNoScanButton = false;
    bool mAwaitingDeviceReset = false;
    bool mHostOfDualUpdater = false;
    WString mTransitioningText;
    WString mCursorToRestore;
    bool mCursorShown = false;
    bool mModeSwitchRunning = false; // the worker switches the device; the window runs a nested loop
};

} // namespace ZT
