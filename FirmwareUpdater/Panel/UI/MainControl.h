#pragma once
// The control that fills the updater's window ("FirmwareUpdater.MainControl", "mainControl").
//
// It owns no update logic. Every refresh reads the engine's three states (device, firmware file,
// run) and a few flags, sets the texts of its labels and decides which children are shown (see
// MainControlView.h for the rules). Its handlers turn clicks, menu commands, dropped files and
// the engine's notifications into calls on the update processor's engine, and end with a refresh,
// so the window always shows the engine's state.
//
// While it exists it hosts, for the window, the update sequence (LUpdateSequence) the windowless
// run hosts without one: "UPDATE FIRMWARE" and the dual updater's ContinueUpdateProcess start it,
// its steps show as wait cursors and view refreshes, and its timers are the window's
// (IWindowServices::StartTimer). Initialize detaches the windowless run (SetApplicationParts)
// and takes over its sequence, so that one sequence serves the whole run, signals included.
//
// Nothing blocks the user-interface thread: the switch into update mode, the download and the
// rescan for the other device run on the engine's worker, the wait for the device to come back is
// a timer. While the sequence switches, waits for the worker, waits for the device or rescans,
// every command but CANCEL is refused, and exit also while it downloads. A window without a loop of its own (tests) waits for the
// sequence's timers inside SetTimer, on the clock.
//
// Threads: the user-interface thread's, all of it; the engine's notifications arrive there
// through the "application" center.

#include "FirmwareUpdater/Panel/Engine/DualUpdaterHost.h"
#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"
#include "FirmwareUpdater/Panel/Engine/UpdateSequence.h"
#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/Notification/NotificationHandler.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class CProgressPrinter;
class LCommandLineRun;
class LUpdateProcessor;

namespace ZT {

class IFileChooser;
class LControlFactory;
class LLabel;
class LMainMenu;
class LProgressBar;

class LMainControl : public LControl, public IDualUpdaterHost, public IUpdateSequenceHost {
public:
    using DeviceState = LUpdateEngineInterface::DeviceState;
    using FirmwareFileState = LUpdateEngineInterface::FirmwareFileState;
    using UpdateRunState = LUpdateEngineInterface::UpdateRunState;
    using Step = IUpdateSequenceHost::Step;

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
    // The line of detail under the failure text, empty when none shows.
    [[nodiscard]] const std::string& GetFailureLine() const noexcept { return mFailureLine; }

    // The file chooser the file command uses; the window's (IWindowServices::CreateFileChooser),
    // asked for at first use, unless one was set here (tests set their own).
    void SetFileChooser(RCPtr<IFileChooser> chooser);

    // ---- IDualUpdaterHost
    // The "UPDATE FIRMWARE" step: the update sequence's Start.
    void ContinueUpdateProcess() override;
    [[nodiscard]] bool HasLabel(const WString& labelName) override;
    [[nodiscard]] bool GetLabelString(const WString& labelName, const WString& stringId, WString& text) override;
    void SetLabelText(const WString& labelName, const WString& text) override;
    void HideButton(const WString& buttonName) override;

    // ---- IUpdateSequenceHost
    // A debug line.
    void Tell(const std::string& line) override;
    // The wait cursors and the view of each step.
    void OnStep(Step step) override;
    void OnDownloadEnded(bool succeeded) override;
    void SetTimer(std::uint32_t ms) override;

    // The sequence this control hosts (null before Initialize and after the release).
    [[nodiscard]] const RCPtr<LUpdateSequence>& GetSequence() const noexcept { return mSequence; }

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
    // True, with a debug line naming command, while the sequence switches the device, waits for
    // the worker, waits for the device to come back or rescans: no other command starts then, and an
    // exit request is refused (CANCEL is the way out of the switch).
    [[nodiscard]] bool RefusedDuringSequenceStep(const char* command) const;
    // The engine's RefreshDevice under the wait cursor.
    ZTRESULT RefreshDeviceStep();
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
    CProgressPrinter* mPrinter = nullptr; // the debug console's, when it is open (the windowless run owns it)
    RCPtr<IFileChooser> mFileChooser;
    DeviceState mDeviceState = DeviceState::NoDeviceDefined;
    bool mNoScanButton = false;
    bool mAwaitingDeviceReset = false;
    // Where the last update broke (CUpdateFailure::Format), shown under the failure text; empty
    // once a new attempt begins.
    std::string mFailureLine;
    bool mHostOfDualUpdater = false;
    WString mTransitioningText;
    WString mCursorToRestore;
    bool mCursorShown = false;
    RCPtr<LUpdateSequence> mSequence;
    std::uint64_t mTimerGeneration = 0;        // the sequence's latest timer; older ones are dropped
    std::optional<std::uint32_t> mPendingTimerMs; // without the window's timers: the next wait
    bool mDeliveringTimers = false;
};

} // namespace ZT
