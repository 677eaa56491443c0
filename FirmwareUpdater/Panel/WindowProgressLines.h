#pragma once
// The step and progress lines of a run with a window, on the debug console: the window's main
// control does the update, and this only follows the engine's notifications and writes what the
// command line writes for the same steps ("Controller: switching to update mode...", the
// progress bar, "Wheel display: firmware written; waiting for the device to restart...").
//
// It acts on nothing: it selects no device, waits for nothing and starts nothing, so the window
// keeps the whole flow.
//
// Its handlers must run before the main control's (register it after the control: the last
// registered is called first), since the main control's completion handler already moves on to
// the other device, whose name the lines would then carry.
//
// Threads: the user-interface thread's (the notifications are delivered there).

#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"
#include "ZTFramework/Notification/NotificationClient.h"
#include "ZTFramework/Notification/NotificationHandler.h"

#include <optional>
#include <string>
#include <utility>

class CProgressPrinter;

class LWindowProgressLines final : public ZT::LNotificationClient {
public:
    LWindowProgressLines(ZT::RCPtr<LUpdateEngineInterface> engine, CProgressPrinter& printer);
    ~LWindowProgressLines() override;
    LWindowProgressLines(const LWindowProgressLines&) = delete;
    LWindowProgressLines& operator=(const LWindowProgressLines&) = delete;

    // Registers with the application center. A refused registration gives its result.
    [[nodiscard]] ZT::ZTRESULT Start();
    // Drops the registrations; nothing is written afterwards. Idempotent.
    void Stop();

    // The window's wait for the device after its download has ended: whether it came back.
    void OnDeviceReturned();

    ZT::ZTRESULT HandleNotification(ZT::LNotificationDistributor* source,
                                    const ZT::RCPtr<ZT::LNotification>& notification) override;

private:
    ZT::ZTRESULT OnDeviceStateChange(ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>& notification);
    ZT::ZTRESULT OnProgress(ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>& notification);
    ZT::ZTRESULT OnCompleted(ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>& notification);

    const ZT::RCPtr<LUpdateEngineInterface> mEngine;
    CProgressPrinter& mPrinter;
    ZT::RCPtr<ZT::LNotificationHandler<LWindowProgressLines>> mHandler;
    // The last step written (device, state), and the problem state written last.
    std::optional<std::pair<std::string, LUpdateEngineInterface::DeviceState>> mShownStep;
    std::optional<LUpdateEngineInterface::DeviceState> mShownProblem;
};
