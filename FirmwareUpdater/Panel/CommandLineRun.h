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
//   console is open), otherwise as lines on the debug output. At the end it names each device
//   and what became of it (GetSummaryLines): a device counts as updated only once it came back
//   in normal mode reporting the file's version.
// - A termination signal (OnTerminationSignal) never cuts a download: the device being written
//   is finished (or fails), nothing new starts (no mode switch, no next device), and a switch
//   into update mode that runs is cancelled, which the engine allows before anything is
//   written. The application then ends with the signal's exit status.
// - Silent mode's deadline: before the other device's switch and download, what is left of the
//   wait must cover LUpdateProcessor's estimate of that job.
//
// Make it with MakeRC and keep it while the run lasts; Attach registers it and makes it the
// dual updater's host, Detach undoes both (releasing the last reference does too).
//
// Threads: the user-interface thread calls everything but OnTerminationSignal (the signal
// thread) and the printer's line observer (whichever thread writes a debug line); the
// notifications it handles arrive on that thread, from ProcessAllQueues. mEndSignal is atomic;
// mEngineLineMutex guards mLastEngineLine. Everything else belongs to the user-interface thread.

#include "FirmwareUpdater/Panel/Engine/DualUpdaterHost.h"
#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"
#include "FirmwareUpdater/Panel/Engine/UpdateProcessorHost.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Notification/NotificationClient.h"
#include "ZTFramework/Notification/NotificationHandler.h"
#include "ZTFramework/ObjectBase/RCPtr.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CProgressPrinter;

class LCommandLineRun : public ZT::LNotificationClient, public IUpdateProcessorHost, public IDualUpdaterHost {
public:
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
    // Where a person sees the run (the debug console), or null; a window writes its lines there too.
    [[nodiscard]] CProgressPrinter* GetPrinter() const noexcept { return mPrinter; }

    // ---- IUpdateProcessorHost
    void OnEnteringUpdateMode() override;
    // Waits for the job (see the header comment) at most timeoutMs of ZT::GetClock(): S_OK when
    // everything ended, E_FAIL when the time ran out. Nothing new starts after the time is up;
    // a switch into update mode that began before it may end up to about 11 s later.
    [[nodiscard]] ZT::ZTRESULT WaitForUpdate(LUpdateEngineInterface& engine, std::uint32_t timeoutMs) override;
    // "interrupted by SIGTERM" once a termination signal came, else empty.
    [[nodiscard]] std::string WhyNothingMayStart() const override;
    void OnNotStarted(const std::string& why) override;

    // A termination signal (count: the how-many-th), from the signal thread: see the header
    // comment. Says what happens to the device being written, cancels a running switch into
    // update mode and wakes the user-interface thread. Never blocks.
    void OnTerminationSignal(int signalNumber, std::uint32_t count);
    // The first termination signal, or 0.
    [[nodiscard]] int GetEndSignal() const noexcept { return mEndSignal.load(); }

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

    // What became of one device.
    enum class Outcome : std::uint32_t {
        NotAttempted = 0,   // nothing was started for it (Detail: why)
        AlreadyCurrent = 1, // it needs no update (Detail: its version)
        Updated = 2,        // it came back reporting the file's version (Detail: that version)
        Failed = 3,         // its switch or its download failed, or it came back wrong (Detail: why)
    };
    struct DeviceReport {
        Outcome Result = Outcome::NotAttempted;
        std::string Detail;
    };
    // How the run went, for the last line a person sees: the devices updated and those that
    // failed.
    struct Summary {
        std::uint32_t Succeeded = 0;
        std::uint32_t Failed = 0;
    };
    [[nodiscard]] Summary GetSummary() const;
    // The controller's (index 0) and the wheel display's (index 1) report. A device the run
    // decided nothing about is judged from the dual updater's last probe: already current, or
    // not attempted with the likeliest reason.
    [[nodiscard]] DeviceReport GetDeviceReport(std::uint32_t index) const;
    // One line per device: "Controller: updated to 00.31", "Wheel display: already current
    // (00.50)", "Wheel display: failed (<why>)", "Controller: not attempted (<why>)".
    [[nodiscard]] std::vector<std::string> GetSummaryLines() const;

    ZT::ZTRESULT HandleNotification(ZT::LNotificationDistributor* source,
                                    const ZT::RCPtr<ZT::LNotification>& notification) override;

private:
    ZT::ZTRESULT OnDeviceStateChange(ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>& notification);
    ZT::ZTRESULT OnProgress(ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>& notification);
    ZT::ZTRESULT OnCompleted(ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>& notification);

    // Waits after a successful download for the device to come back in normal mode
    // (::WaitForDeviceToReturn: it cannot be found, or kDeviceReturnLimitMs have passed), then
    // records how it came back.
    void WaitForDeviceToReturn();
    // Starts the download once the worker is free (see kPreviousTaskEndMs).
    void StartDownload();

    // "Controller" or "Wheel display": the device the dual updater has the engine aim at.
    [[nodiscard]] static std::string TargetName();
    // 0 for the controller, 1 for the wheel display, as TargetName.
    [[nodiscard]] static std::uint32_t TargetIndex();
    void Say(const std::string& text);
    void ShowState(LUpdateEngineInterface::DeviceState state);
    void Record(Outcome result, std::string detail);
    // Why the download failed: the engine's state and reason, and the context of the engine's
    // last debug line since the download began when the printer saw one.
    [[nodiscard]] std::string DescribeFailure();
    // Why nothing more may start now, the deadline included (modeSwitchFirst: a switch is still
    // to come), or empty.
    [[nodiscard]] std::string WhyNotContinue(bool modeSwitchFirst) const;
    // The printer's line observer: keeps the last "Engine: " line, or the first that says where a
    // download failed.
    void NoteLine(std::string_view line);

    const ZT::RCPtr<LUpdateEngineInterface> mEngine;
    CProgressPrinter* const mPrinter;
    ZT::RCPtr<ZT::LNotificationHandler<LCommandLineRun>> mHandler;
    bool mAttached = false;
    std::optional<LUpdateEngineInterface::DeviceState> mShownState;
    std::optional<std::uint64_t> mDeadlineMs; // while WaitForUpdate runs
    int mLoggedProgressStep = -1;             // without a printer: the last 10 % step logged
    std::array<std::optional<DeviceReport>, 2> mReports; // controller, wheel display: once decided
    std::array<bool, 2> mSwitching{};                    // a switch into update mode began for it
    std::atomic<int> mEndSignal{0};
    mutable std::mutex mEngineLineMutex;
    std::string mLastEngineLine; // guarded by mEngineLineMutex
};

[[nodiscard]] const char* ToString(LCommandLineRun::Outcome outcome) noexcept;
