#pragma once
// What the engine tests share: the simulated controller pair in virtual time, the product's two
// firmware files in a folder of their own, and a client that records the engine's notifications
// as the user-interface thread receives them.

#include "FirmwareUpdater/Panel/Engine/ApplicationFolder.h"
#include "FirmwareUpdater/Panel/Engine/BootloaderRoleRecord.h"
#include "FirmwareUpdater/Panel/Engine/DeviceStateChangeNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareFileStateChangeNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateCompletedNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "FirmwareUpdater/Panel/Engine/ScanPreparer.h"
#include "FirmwareUpdater/Panel/Engine/UpdateEngine.h"
#include "FirmwareUpdater/Panel/Engine/UpdateTarget.h"
#include "Simulator/DeviceSimulator.h"
#include "ZTFramework/Midi/MidiComm.h"
#include "ZTFramework/Midi/MidiOutputBackend.h"
#include "ZTFramework/Notification/NotificationCenterManager.h"
#include "ZTFramework/Notification/NotificationClient.h"
#include "ZTFramework/Time/Clock.h"
#include "ZTFramework/Time/VirtualClock.h"
#include "ZTFramework/Usb/UsbBackend.h"
#include "tests/Support/Printers.h"
#include "tools/SimulationImagePlan.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace EngineTest {

using DeviceState = LUpdateEngineInterface::DeviceState;
using FirmwareFileState = LUpdateEngineInterface::FirmwareFileState;
using UpdateRunState = LUpdateEngineInterface::UpdateRunState;
using DeviceErrorReason = LUpdateEngineInterface::DeviceErrorReason;
using FirmwareVersion = LUpdateEngineInterface::FirmwareVersion;
using StateChange = std::pair<DeviceState, DeviceState>; // new, old

// An engine as the update processor makes it: the dual updater is its target and chooses that
// target before each scan.
inline ZT::RCPtr<LUpdateEngine> MakeProductEngine()
{
    const auto engine = ZT::MakeRC<LUpdateEngine>();
    engine->SetUpdateTarget(&LDualUpdater::GetUpdateTarget());
    engine->SetScanPreparer(&LDualUpdater::GetScanPreparer());
    return engine;
}

// Virtual time with a hook that runs after every sleep, on the sleeping thread: what a test uses
// to act at a chosen moment of a wait loop.
class HookedClock final : public ZT::IClock {
public:
    [[nodiscard]] std::uint64_t NowMs() const override { return mClock.NowMs(); }
    void SleepMs(std::uint32_t ms) override
    {
        mClock.SleepMs(ms);
        if (mAfterSleep)
            mAfterSleep(mClock.NowMs());
    }
    [[nodiscard]] bool AdvancesByItself() const override { return false; }
    void AdvanceMs(std::uint64_t ms) { mClock.AdvanceMs(ms); }
    // Set before the engine runs; not guarded.
    std::function<void(std::uint64_t nowMs)> mAfterSleep;

private:
    ZT::VirtualClock mClock;
};

// Holds the worker at one of its waits (called from HookedClock::mAfterSleep) until the test
// opens the gate or until a condition the test gives becomes true, such as another thread
// beginning to wait for the worker; then it stays open. What a test uses to have a download
// still running, for certain, when it does something, without slowing the worker in real time.
class WorkerGate {
public:
    // On the worker: marks it held and returns once the gate is open or releaseWhen() is true.
    // The condition is looked at every millisecond: no notification tells of it. Once past, the
    // gate is open for every later call.
    void Hold(const std::function<bool()>& releaseWhen = {})
    {
        std::unique_lock lock(mMutex);
        mHeld = true;
        mChanged.notify_all();
        if (!releaseWhen)
            mChanged.wait(lock, [this] { return mOpen; });
        while (!mOpen && !releaseWhen())
            mChanged.wait_for(lock, std::chrono::milliseconds(1));
        mOpen = true;
    }
    // On the test's thread: true once the worker is held, false after timeout.
    [[nodiscard]] bool WaitUntilHeld(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, timeout, [this] { return mHeld; });
    }
    void Open()
    {
        std::lock_guard lock(mMutex);
        mOpen = true;
        mChanged.notify_all();
    }
    [[nodiscard]] bool IsOpen() const
    {
        std::lock_guard lock(mMutex);
        return mOpen;
    }

private:
    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    bool mHeld = false; // guarded by mMutex
    bool mOpen = false; // guarded by mMutex
};

// Records the engine's notifications as the user-interface thread receives them.
class LEngineRecorder : public ZT::LNotificationClient {
public:
    ZT::ZTRESULT HandleNotification(ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>& notification) override
    {
        mReceived.push_back(notification);
        return ZT::S_OK;
    }

    // What field gives of each payload of type Data received, in order.
    template <class Data, class Field>
    auto Collect(Field field) const
    {
        std::vector<decltype(field(std::declval<const Data&>()))> values;
        for (const auto& notification : mReceived) {
            if (const auto data = notification->GetPayloadAs<Data>())
                values.push_back(field(*data));
        }
        return values;
    }
    std::vector<StateChange> DeviceStateChanges() const
    {
        return Collect<ZT::LDeviceStateChangeNotificationData>(
            [](const auto& data) { return StateChange(data.GetNewState(), data.GetOldState()); });
    }
    std::vector<bool> Completions() const
    {
        return Collect<ZT::LFirmwareUpdateCompletedNotificationData>([](const auto& data) { return data.GetSucceeded(); });
    }
    // The line of each completion's failure record ("" for none).
    std::vector<std::string> CompletionFailures() const
    {
        return Collect<ZT::LFirmwareUpdateCompletedNotificationData>(
            [](const auto& data) { return data.GetFailure().Format(); });
    }

    std::vector<ZT::RCPtr<ZT::LNotification>> mReceived;
};

// A USB backend that reaches the simulated devices but does not say so: the process then
// behaves as it would with real hardware.
class LUnmarkedUsbBackend final : public ZT::IUsbBackend {
public:
    explicit LUnmarkedUsbBackend(ZT::RCPtr<ZT::IUsbBackend> inner) : mInner(std::move(inner)) {}
    ZT::ZTRESULT ListDevices(std::vector<ZT::UsbDeviceInfo>& devices) override { return mInner->ListDevices(devices); }
    ZT::RCPtr<ZT::IUsbDeviceConnection> Open(const std::string& path, ZT::UsbError& error) override
    {
        return mInner->Open(path, error);
    }

private:
    const ZT::RCPtr<ZT::IUsbBackend> mInner;
};

// The simulated pair (added by each test), the product's firmware files in the application
// folder, virtual time as the process clock, and a recorder on the "application" center. The
// dual updater starts afresh in every test, and so does the record of bootloader serials (in
// a "state" folder of the test's own, made when first written).
// What a test of the engine leaves set for the whole process: the dual updater, open MIDI ports,
// the USB and MIDI backends, the application and record folders. Undone at the end of each test.
inline void ReleaseProcessWideState()
{
    LDualUpdater::ReleaseInstance();
    ZT::LMidiComm::GetInstance()->CloseAllRenderPorts();
    ZT::SetUsbBackend(nullptr);
    ZT::SetMidiOutputBackend(nullptr);
    SetApplicationFolder(ZT::WString());
    CBootloaderRoleRecord::SetFolder(std::string());
}

class EngineFixture : public ::testing::Test {
protected:
    EngineFixture()
    {
        ZT::SetClock(&mClock);
        LDualUpdater::ReleaseInstance();
        mCenter = ZT::LNotificationCenterManager::GetInstance()->GetCenter(
            ZT::WString(LUpdateEngineInterface::kApplicationCenterName));
        (void)mCenter->Flush();
        for (const wchar_t* id : {LUpdateEngineInterface::kNidDeviceStateChange,
                                  LUpdateEngineInterface::kNidFirmwareFileStateChange,
                                  LUpdateEngineInterface::kNidFirmwareUpdateCompleted})
            mRecorder->Register(mCenter.Get(), id);

        for (const ProductDevice* device : {&kControllerDevice, &kWheelDisplayDevice})
            (void)mTemp.Write(device->FirmwareFileName, SimulationImagePlan::ForDevice(*device).Build().ToBytes());
        SetApplicationFolder(ZT::WString(mFolder.string().c_str()));
        CBootloaderRoleRecord::SetFolder(mStateFolder.string());
        mSimulator->Install();
    }

    ~EngineFixture() override
    {
        mEngine = nullptr;
        ReleaseProcessWideState();
        mRecorder = nullptr;
        (void)mCenter->Flush();
        ZT::SetClock(nullptr);
    }

    ZT::RCPtr<LSimulatedDevice> AddController(std::uint16_t release)
    {
        return mSimulator->AddDevice(SimulatedDeviceKind::Controller, release);
    }
    ZT::RCPtr<LSimulatedDevice> AddDisplay(std::uint16_t release)
    {
        return mSimulator->AddDevice(SimulatedDeviceKind::WheelDisplay, release);
    }
    // The controller and the wheel display at these releases, then the user's scan.
    void PlugPairAndScan(std::uint16_t controller, std::uint16_t display)
    {
        AddController(controller);
        AddDisplay(display);
        ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    }

    // Runs the user-interface thread's delivery of what the engine has posted.
    void Deliver() { (void)mCenter->ProcessQueue(false); }
    // Delivers, and gives (and forgets) the device-state changes received.
    std::vector<StateChange> TakeStateChanges()
    {
        Deliver();
        auto changes = mRecorder->DeviceStateChanges();
        mRecorder->mReceived.clear();
        return changes;
    }

    ZT::WString FilePath(const ProductDevice& device) const
    {
        return ZT::WString((mFolder / device.FirmwareFileName).string().c_str());
    }

    HookedClock mClock;
    ZT::RCPtr<ZT::LNotificationCenter> mCenter;
    ZT::RCPtr<LEngineRecorder> mRecorder = ZT::MakeRC<LEngineRecorder>();
    ZT::Testing::TempFolder mTemp{"zt-engine-test"};
    const std::filesystem::path mFolder = mTemp.Path();
    const std::filesystem::path mStateFolder = mFolder / "state";
    ZT::RCPtr<LDeviceSimulator> mSimulator = ZT::MakeRC<LDeviceSimulator>(0.0, &mClock);
    ZT::RCPtr<LUpdateEngine> mEngine = MakeProductEngine();
};

} // namespace EngineTest

inline std::ostream& operator<<(std::ostream& out, LUpdateEngineInterface::DeviceState state)
{
    return out << ToString(state);
}
inline std::ostream& operator<<(std::ostream& out, LUpdateEngineInterface::FirmwareFileState state)
{
    return out << ToString(state);
}
inline std::ostream& operator<<(std::ostream& out, LUpdateEngineInterface::UpdateRunState state)
{
    return out << ToString(state);
}
