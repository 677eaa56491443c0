#pragma once
// The updater run without a window: the host of the update sequence for a command-line run, and
// a person's view of it on the terminal.
//
// - It drives LUpdateSequence: automatic mode starts the sequence through it
//   (StartAutomaticUpdate), the dual updater goes on with the other device through it
//   (ContinueUpdateProcess), and its loop (WaitForUpdate) sleeps until the engine posts
//   something or the sequence's timer is due, delivers the application center's notifications
//   and the timer, and ends once the sequence has ended. The rules of the run (signals, silent
//   mode's deadline, the per-device summary) are the sequence's.
// - It tells a person what happens: to the progress printer when there is one (the debug console
//   is open), otherwise as lines on the debug output: the sequence's lines, the device's states
//   and the download's progress.
//
// Make it with MakeRC and keep it while the run lasts; Attach registers it, makes it the dual
// updater's host and the sequence's, Detach undoes all three (releasing the last reference does
// too).
//
// Threads: the user-interface thread calls everything but Tell (also the signal thread); the
// notifications it handles arrive on that thread, from ProcessAllQueues.

#include "FirmwareUpdater/Panel/Engine/DualUpdaterHost.h"
#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"
#include "FirmwareUpdater/Panel/Engine/UpdateProcessorHost.h"
#include "FirmwareUpdater/Panel/Engine/UpdateSequence.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Notification/NotificationClient.h"
#include "ZTFramework/Notification/NotificationHandler.h"
#include "ZTFramework/ObjectBase/RCPtr.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CProgressPrinter;

class LCommandLineRun : public ZT::LNotificationClient,
                       public IUpdateProcessorHost,
                       public IDualUpdaterHost,
                       public IUpdateSequenceHost {
public:
    // Longest real sleep between two looks while nothing is posted and no timer is due, in ms.
    static constexpr std::uint32_t kWakeIntervalMs = 250;

    // printer: where a person sees the run; null sends the lines to the debug output.
    LCommandLineRun(ZT::RCPtr<LUpdateEngineInterface> engine, ZT::RCPtr<LUpdateSequence> sequence,
                    CProgressPrinter* printer);
    ~LCommandLineRun() override;

    // Registers for the engine's notifications in the application center, becomes the dual
    // updater's host and the sequence's. Throws a failed-result exception when a registration is
    // refused.
    void Attach();
    void Detach();
    // Where a person sees the run (the debug console), or null; a window writes its lines there too.
    [[nodiscard]] CProgressPrinter* GetPrinter() const noexcept { return mPrinter; }

    [[nodiscard]] const ZT::RCPtr<LUpdateSequence>& GetSequence() const noexcept { return mSequence; }

    // ---- IUpdateProcessorHost
    [[nodiscard]] bool StartAutomaticUpdate(std::optional<std::uint64_t> deadlineMs) override;
    // The run's loop (see the header comment) until the sequence has ended.
    void WaitForUpdate() override;

    // ---- IDualUpdaterHost
    // The "UPDATE FIRMWARE" step: the sequence's Start.
    void ContinueUpdateProcess() override;
    // There are no labels or buttons without a window.
    [[nodiscard]] bool HasLabel(const ZT::WString& labelName) override;
    [[nodiscard]] bool GetLabelString(const ZT::WString& labelName, const ZT::WString& stringId, ZT::WString& text) override;
    void SetLabelText(const ZT::WString& labelName, const ZT::WString& text) override;
    void HideButton(const ZT::WString& buttonName) override;

    // ---- IUpdateSequenceHost
    void Tell(const std::string& line) override;
    void OnStep(Step step) override;
    void OnDownloadEnded(bool succeeded) override;
    void SetTimer(std::uint32_t ms) override;

    // Delivers what is queued in every center now; the run's notifications are handled inside.
    static void DeliverNotifications();

    ZT::ZTRESULT HandleNotification(ZT::LNotificationDistributor* source,
                                    const ZT::RCPtr<ZT::LNotification>& notification) override;

private:
    ZT::ZTRESULT OnDeviceStateChange(ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>& notification);
    ZT::ZTRESULT OnProgress(ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>& notification);

    void ShowState(LUpdateEngineInterface::DeviceState state);

    const ZT::RCPtr<LUpdateEngineInterface> mEngine;
    const ZT::RCPtr<LUpdateSequence> mSequence;
    CProgressPrinter* const mPrinter;
    ZT::RCPtr<ZT::LNotificationHandler<LCommandLineRun>> mHandler;
    bool mAttached = false;
    std::optional<LUpdateEngineInterface::DeviceState> mShownState;
    std::optional<std::uint64_t> mTimerDueMs; // the sequence's timer, on ZT::GetClock()
    int mLoggedProgressStep = -1;             // without a printer: the last 10 % step logged
};
