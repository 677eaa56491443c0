#pragma once
// The product's two-device update, for whichever front end drives it (the command-line run, the
// window's main control): one device after the other, each through
//
//     [wait for the worker] -> switch into update mode -> [wait for the worker] -> download
//         -> wait for the device to come back -> version check -> [wait for the worker] -> rescan
//
// where the rescan (LDualUpdater::StartRescanAfterUpdate) probes the bus and, when the other
// device comes next, aims the engine at it and scans; the dual updater then, through its host's
// ContinueUpdateProcess, starts the other device with Start again. The sequence never blocks the
// thread that drives it: the switch, the download and the rescan run on the engine's worker, and
// every wait is either one of the engine's notifications (it
// registers for them in the "application" center) or a timer that the host's loop delivers
// (IUpdateSequenceHost::SetTimer, then OnTimer).
//
// It owns the rules every front end shares:
// - A termination signal (OnTerminationSignal) never cuts a download: the device being written is
//   finished (or fails), nothing new starts (no switch, no next device), a running switch into
//   update mode is cancelled, which the engine allows before anything is written. The program
//   then ends with the signal's status (GetEndSignal).
// - Silent mode's deadline (Start's deadlineMs) is checked before every switch and download
//   against LUpdateProcessor's estimate of that job: past it nothing new starts. It never cuts
//   what runs; whoever waits for the sequence waits until it has ended (IsRunning).
// - What became of each device: GetDeviceReport, GetSummary, GetSummaryLines. A device counts as
//   updated only once it came back in normal mode reporting the file's version.
//
// Threads: the user-interface thread calls everything but OnTerminationSignal (the signal thread)
// and GetEndSignal (any thread). mEndSignal is atomic; mHostMutex guards mHost, which the signal
// thread tells what happens.

#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"
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
#include <vector>

// What the sequence needs of the front end that drives it.
class IUpdateSequenceHost {
public:
    // The step the sequence is in.
    enum class Step : std::uint32_t {
        Idle = 0,             // nothing runs
        WaitingForWorker = 1, // the worker is still ending its previous task
        Switching = 2,        // the worker switches the device into update mode
        Downloading = 3,      // the worker erases and writes the device
        WaitingForReturn = 4, // the device restarts with its new firmware
        SendingBack = 5,      // a switch a signal stopped: the device is looked for in its bootloader
        Rescanning = 6,       // after a download, the worker probes the bus for the other device
    };

    virtual ~IUpdateSequenceHost() = default;
    // A line a person should see ("Controller: switching to update mode..."). Also called on the
    // signal thread; must not block.
    virtual void Tell(const std::string& line) = 0;
    // The sequence went into step.
    virtual void OnStep(Step step) = 0;
    // Calls LUpdateSequence::OnTimer on the user-interface thread once ms of ZT::GetClock()'s
    // time have passed; replaces the request before. The host's loop delivers it.
    virtual void SetTimer(std::uint32_t ms) = 0;
    // The download's completion was delivered, before the sequence says how it ended: a host that
    // shows the download's progress closes it here, so that its last state comes before the next
    // line.
    virtual void OnDownloadEnded(bool /*succeeded*/) {}
};

class LUpdateSequence : public ZT::LNotificationClient {
public:
    using Step = IUpdateSequenceHost::Step;
    using DeviceState = LUpdateEngineInterface::DeviceState;

    // The longest wait for the worker to end the task whose completion was just delivered
    // (posting the completion is its last act), and the step between two looks, in ms.
    static constexpr std::uint32_t kWorkerEndLimitMs = 10000;
    static constexpr std::uint32_t kWorkerEndPollMs = 2;
    // After a switch a signal stopped, how long a device that is on the bus neither in normal
    // mode nor in its bootloader is looked for (it may be restarting into the bootloader), and
    // the step between two looks, in ms.
    static constexpr std::uint32_t kSendBackLimitMs = 3000;
    static constexpr std::uint32_t kSendBackPollMs = 250;

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
        // For Failed: where it broke, as the engine (or the return wait) placed it; Detail is its
        // line. Empty when nothing placed it.
        CUpdateFailure Failure;
    };
    // The devices updated and those that failed.
    struct Summary {
        std::uint32_t Succeeded = 0;
        std::uint32_t Failed = 0;
    };

    explicit LUpdateSequence(ZT::RCPtr<LUpdateEngineInterface> engine);
    ~LUpdateSequence() override;

    // Registers for the engine's notifications. Throws a failed-result exception when a
    // registration is refused. Detach undoes it (releasing the last reference does too).
    void Attach();
    void Detach();

    // The front end that drives the sequence now; returns the one before. A timer that is due
    // is asked of the new host again.
    IUpdateSequenceHost* SetHost(IUpdateSequenceHost* host);

    // The "UPDATE FIRMWARE" step for the device the engine aims at: the switch into update mode
    // when it is in normal mode, the download when it is in update mode. deadlineMs (silent
    // mode's end on ZT::GetClock()) stays for the rest of the run. True when something was started
    // (or waits for the worker); false, with the reason told and recorded, when nothing may start,
    // and false without a word when the engine's states leave nothing to do or a step runs.
    bool Start(std::optional<std::uint64_t> deadlineMs = std::nullopt);
    // The host's timer is due.
    void OnTimer();

    [[nodiscard]] Step GetStep() const noexcept { return mStep; }
    [[nodiscard]] bool IsRunning() const noexcept { return mStep != Step::Idle; }
    // The ms of ZT::GetClock() at which the timer the host was asked for is due, if one is.
    [[nodiscard]] std::optional<std::uint64_t> GetTimerDueMs() const noexcept { return mTimerDueMs; }

    // A termination signal (count: the how-many-th), from the signal thread: says what happens
    // to the device being written, cancels a running switch and wakes the user-interface thread.
    // Never blocks.
    void OnTerminationSignal(int signalNumber, std::uint32_t count);
    // The first termination signal, or 0.
    [[nodiscard]] int GetEndSignal() const noexcept { return mEndSignal.load(); }
    // "interrupted by SIGTERM" once a termination signal came, else empty.
    [[nodiscard]] std::string WhyNothingMayStart() const;

    // The controller's (index 0) and the wheel display's (index 1) report. A device the run
    // decided nothing about is judged from the dual updater's last probe.
    [[nodiscard]] DeviceReport GetDeviceReport(std::uint32_t index) const;
    [[nodiscard]] Summary GetSummary() const;
    // One line per device: "Controller: updated to 00.31", "Wheel display: already current
    // (00.50)", "Wheel display: failed (<why>)", "Controller: not attempted (<why>)".
    [[nodiscard]] std::vector<std::string> GetSummaryLines() const;

    // "Controller" or "Wheel display": the device the dual updater has the engine aim at; its
    // index in the reports.
    [[nodiscard]] static std::string TargetName();
    [[nodiscard]] static std::uint32_t TargetIndex();

    ZT::ZTRESULT HandleNotification(ZT::LNotificationDistributor* source,
                                    const ZT::RCPtr<ZT::LNotification>& notification) override;

private:
    // What starts once the worker is free.
    enum class Next : std::uint32_t { Switch, Download, Rescan };

    ZT::ZTRESULT OnEngineChange(ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>& notification);
    ZT::ZTRESULT OnCompleted(ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>& notification);
    // The rescan's end: the dual updater takes its result and may go on with the other device.
    ZT::ZTRESULT OnWorkerJobCompleted(ZT::LNotificationDistributor* source,
                                      const ZT::RCPtr<ZT::LNotification>& notification);

    bool WhenWorkerFree(Next next);
    bool RunNext();
    void EndSwitch();
    void EndReturnWait();
    // After a switch a signal stopped: a device that left its application before anything was
    // written is sent back to it, or the run says that it waits in update mode.
    void BringBackUntouched();
    // One look for the device (see kSendBackLimitMs), and the leave when it is in its bootloader.
    void TrySendBack();
    // Leaves the step; after a download that ended, the dual updater's rescan follows (after a
    // failed one it only hears of it).
    void Finish(std::optional<bool> downloadSucceeded);
    void EnterStep(Step step);
    void ScheduleTimer(std::uint32_t ms);
    void Tell(const std::string& line);
    void Record(Outcome result, std::string detail);
    // Records the device as failed: the failure's line when it has one, else fallback.
    void RecordFailure(CUpdateFailure failure, const std::string& fallback);
    // Appends an attempt's end (Updated or Failed) to the update history.
    void WriteHistory(const DeviceReport& report) const;
    void NotStarted(const std::string& why);
    [[nodiscard]] std::string WhyNotContinue(bool modeSwitchFirst) const;
    [[nodiscard]] std::string DescribeFailure() const;

    const ZT::RCPtr<LUpdateEngineInterface> mEngine;
    ZT::RCPtr<ZT::LNotificationHandler<LUpdateSequence>> mHandler;
    bool mAttached = false;
    mutable std::mutex mHostMutex;
    IUpdateSequenceHost* mHost = nullptr; // guarded by mHostMutex
    Step mStep = Step::Idle;
    Next mNext = Next::Switch;
    std::optional<std::uint64_t> mTimerDueMs;
    std::uint64_t mWorkerWaitStartMs = 0;
    std::uint32_t mReturnWaitedMs = 0;
    std::uint32_t mSendBackWaitedMs = 0;
    std::optional<std::uint64_t> mDeadlineMs;
    std::array<std::optional<DeviceReport>, 2> mReports; // controller, wheel display: once decided
    std::array<bool, 2> mSwitching{};                    // a switch into update mode began for it
    std::array<std::string, 2> mVersionBefore;           // what it reported when its attempt began
    std::atomic<int> mEndSignal{0};
};

[[nodiscard]] const char* ToString(LUpdateSequence::Outcome outcome) noexcept;
[[nodiscard]] const char* ToString(IUpdateSequenceHost::Step step) noexcept;
