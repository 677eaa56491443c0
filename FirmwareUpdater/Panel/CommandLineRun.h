#pragma once
// The updater run without a window: what the main control does for the window, done for a
// command-line run, and a person's view of it on the terminal.
//
// - As the processor's host it shows the switch into update mode as it begins, and does the
//   silent mode's wait: it sleeps until the engine posts something, delivers the application
//   center's notifications and keeps going until the update, and whatever follows from it, has
//   ended or the time is up.
// - After each completed update it plays the main control: it waits for the device to come back
//   (500 ms steps, 10 s at most), hands the outcome to the dual updater, and as the dual
//   updater's host continues with the other device (into update mode, then the download). So a
//   silent run updates both devices within one wait.
// - It tells a person what happens: to the progress printer when there is one (the debug
//   console is open), otherwise as lines on the debug output.
//
// Make it with MakeRC and keep it while the run lasts; Attach registers it and makes it the
// dual updater's host, Detach undoes both (releasing the last reference does too).
//
// Threads: the user-interface thread calls everything; the notifications it handles arrive on
// that thread, from ProcessAllQueues.

#include "FirmwareUpdater/Panel/Engine/DualUpdaterHost.h"
#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"
#include "FirmwareUpdater/Panel/Engine/UpdateProcessorHost.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Notification/NotificationClient.h"
#include "ZTFramework/Notification/NotificationHandler.h"
#include "ZTFramework/ObjectBase/RCPtr.h"

#include <cstdint>
#include <optional>
#include <string>

class CProgressPrinter;

class LCommandLineRun : public ZT::LNotificationClient, public IUpdateProcessorHost, public IDualUpdaterHost {
public:
    // The waits after a completed update, in ms of ZT::GetClock().
    static constexpr std::uint32_t kReturnPollIntervalMs = 500;
    static constexpr std::uint32_t kReturnPollLimitMs = 10000;
    // Longest sleep between two looks at the engine while a download runs, in ms. Posts wake
    // the run earlier; this only bounds the time it may take to notice the end of a download
    // whose completion it has already delivered.
    static constexpr std::uint32_t kWakeIntervalMs = 250;
    // Longest wait, in real ms, for the engine's worker to end the task whose completion was just
    // delivered before the next download is started.
    static constexpr std::uint32_t kPreviousTaskEndMs = 10000;

    // printer: where a person sees the run; null sends the lines to the debug output.
    LCommandLineRun(ZT::RCPtr<LUpdateEngineInterface> engine, CProgressPrinter* printer);
    ~LCommandLineRun() override;

    // Registers for the engine's notifications in the application center and becomes the dual
    // updater's host. Throws a failed-result exception when a registration is refused.
    void Attach();
    void Detach();

    // ---- IUpdateProcessorHost
    void OnEnteringUpdateMode() override;
    // Waits for the job (see the header comment) at most timeoutMs of ZT::GetClock(): S_OK when
    // everything ended, E_FAIL when the time ran out. Nothing new starts after the time is up;
    // a switch into update mode that began before it may end up to about 11 s later.
    [[nodiscard]] ZT::ZTRESULT WaitForUpdate(LUpdateEngineInterface& engine, std::uint32_t timeoutMs) override;

    // ---- IDualUpdaterHost
    // The "UPDATE FIRMWARE" step: into update mode when the device is in normal mode, then the
    // download when it is in update mode; nothing unless the file's version is known.
    void ContinueUpdateProcess() override;
    // There are no labels or buttons without a window.
    [[nodiscard]] bool HasLabel(const ZT::WString& labelName) override;
    [[nodiscard]] bool GetLabelString(const ZT::WString& labelName, const ZT::WString& stringId, ZT::WString& text) override;
    void SetLabelText(const ZT::WString& labelName, const ZT::WString& text) override;
    void HideButton(const ZT::WString& buttonName) override;

    // Delivers what is queued in every center now; the run's notifications are handled inside.
    static void DeliverNotifications();

    // How the run went, for the last line a person sees: how many downloads started, succeeded
    // and failed.
    struct Summary {
        std::uint32_t Started = 0;
        std::uint32_t Succeeded = 0;
        std::uint32_t Failed = 0;
    };
    [[nodiscard]] const Summary& GetSummary() const noexcept { return mSummary; }

    ZT::ZTRESULT HandleNotification(ZT::LNotificationDistributor* source,
                                    const ZT::RCPtr<ZT::LNotification>& notification) override;

private:
    ZT::ZTRESULT OnDeviceStateChange(ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>& notification);
    ZT::ZTRESULT OnProgress(ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>& notification);
    ZT::ZTRESULT OnCompleted(ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>& notification);

    // Polls the device after a successful download until it is back in normal mode, it cannot
    // be found, or kReturnPollLimitMs have passed.
    void WaitForDeviceToReturn();
    // Starts the download once the worker is free (see kPreviousTaskEndMs).
    void StartDownload();
    [[nodiscard]] bool IsPastDeadline() const;

    // "Controller" or "Wheel display": the device the dual updater has the engine aim at.
    [[nodiscard]] static std::string TargetName();
    void Say(const std::string& text);
    void ShowState(LUpdateEngineInterface::DeviceState state);

    const ZT::RCPtr<LUpdateEngineInterface> mEngine;
    CProgressPrinter* const mPrinter;
    ZT::RCPtr<ZT::LNotificationHandler<LCommandLineRun>> mHandler;
    bool mAttached = false;
    std::optional<LUpdateEngineInterface::DeviceState> mShownState;
    std::optional<std::uint64_t> mDeadlineMs; // while WaitForUpdate runs
    int mLoggedProgressStep = -1;             // without a printer: the last 10 % step logged
    Summary mSummary;
};
