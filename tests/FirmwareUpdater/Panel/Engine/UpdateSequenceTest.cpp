// The two-device update sequence on the simulated pair in virtual time, driven by a host that
// does what the front ends' loops do: it delivers the engine's notifications and the timers the
// sequence asks for, and continues for the dual updater. Termination signals at each step,
// silent mode's deadline, and what the summary says of each device.

#include "FirmwareUpdater/Panel/Engine/DfuSeFirmwareFile.h"
#include "FirmwareUpdater/Panel/Engine/DualUpdaterHost.h"
#include "FirmwareUpdater/Panel/Engine/UpdateProcessor.h"
#include "FirmwareUpdater/Panel/Engine/UpdateSequence.h"
#include "FirmwareUpdater/Panel/Engine/WaitForDeviceToReturn.h"
#include "tests/FirmwareUpdater/Panel/Engine/UpdateEngineTestSupport.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

using EngineTest::DeviceState;
using Step = IUpdateSequenceHost::Step;

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::string LogSince(const LSimulatedDevice& device, std::size_t before)
{
    std::string text;
    const std::vector<std::string> log = device.GetLog();
    for (std::size_t i = before; i < log.size(); ++i)
        text += log[i] + "\n";
    return text;
}

// A front end reduced to what the sequence asks of it: lines, steps and one timer, which the
// test's loop delivers; the dual updater's "go on" is the sequence's Start.
class FakeHost final : public IUpdateSequenceHost, public IDualUpdaterHost {
public:
    explicit FakeHost(LUpdateSequence& sequence) : mSequence(sequence) {}

    void Tell(const std::string& line) override
    {
        std::lock_guard lock(mMutex);
        mLines += line + "\n";
    }
    void OnStep(Step step) override
    {
        mSteps.push_back(step);
        // From the end of the first download's step to the next device's switch or download.
        if (step == Step::Idle && std::count(mSteps.begin(), mSteps.end(), Step::Downloading) == 1)
            mBetweenDevices.store(true);
        if (step == Step::Switching || step == Step::Downloading)
            mBetweenDevices.store(false);
    }
    void SetTimer(std::uint32_t ms) override
    {
        mTimerDueMs = ZT::GetClock().NowMs() + ms;
        mTimerRequests.push_back(ms);
    }

    void ContinueUpdateProcess() override { (void)mSequence.Start(); }
    bool HasLabel(const ZT::WString&) override { return false; }
    bool GetLabelString(const ZT::WString&, const ZT::WString&, ZT::WString&) override { return false; }
    void SetLabelText(const ZT::WString&, const ZT::WString&) override {}
    void HideButton(const ZT::WString&) override {}

    std::string Lines() const
    {
        std::lock_guard lock(mMutex);
        return mLines;
    }

    LUpdateSequence& mSequence;
    mutable std::mutex mMutex;
    std::string mLines; // guarded by mMutex: the signal's lines come from another thread
    std::vector<Step> mSteps;
    std::optional<std::uint64_t> mTimerDueMs;
    std::vector<std::uint32_t> mTimerRequests;
    // Read by the USB backend on whichever thread lists the bus.
    std::atomic<bool> mBetweenDevices{false};
};

// The process's USB backend with a hook that runs before every listing, on the listing thread.
class LHookedUsbBackend final : public ZT::IUsbBackend {
public:
    using Hook = std::function<void()>;
    LHookedUsbBackend(ZT::RCPtr<ZT::IUsbBackend> inner, Hook hook) : mInner(std::move(inner)), mHook(std::move(hook)) {}
    ZT::ZTRESULT ListDevices(std::vector<ZT::UsbDeviceInfo>& devices) override
    {
        mHook();
        return mInner->ListDevices(devices);
    }
    ZT::RCPtr<ZT::IUsbDeviceConnection> Open(const std::string& path, ZT::UsbError& error) override
    {
        return mInner->Open(path, error);
    }
    bool IsSimulated() const override { return mInner->IsSimulated(); }

private:
    const ZT::RCPtr<ZT::IUsbBackend> mInner;
    const Hook mHook;
};

std::string StepsText(const std::vector<Step>& steps)
{
    std::string text;
    for (const Step step : steps)
        text += std::string(text.empty() ? "" : " ") + ToString(step);
    return text;
}

class UpdateSequenceTest : public EngineTest::EngineFixture {
protected:
    UpdateSequenceTest()
    {
        mSequence->Attach();
        (void)mSequence->SetHost(&mHost);
        LDualUpdater::SetHost(&mHost);
    }
    ~UpdateSequenceTest() override
    {
        (void)mEngine->WaitForUpdate(ZT::kShutdownJoinTimeoutMs);
        mClock.mAfterSleep = nullptr;
        LDualUpdater::SetHost(nullptr);
        (void)mSequence->SetHost(nullptr);
        mSequence->Detach();
    }

    // The pair at these releases, the first scan, then the sequence's start.
    bool ScanAndStart(std::optional<std::uint64_t> deadlineMs = std::nullopt)
    {
        EXPECT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
        Deliver();
        return mSequence->Start(deadlineMs);
    }

    // The host's loop until the sequence has ended: deliveries, the timer once its time has come
    // (the clock is moved on to it when nothing else is waiting), else the worker's task's end.
    void RunToEnd()
    {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < giveUp) {
            Deliver();
            if (!mSequence->IsRunning()) {
                Deliver();
                if (!mSequence->IsRunning())
                    return;
                continue;
            }
            if (mHost.mTimerDueMs) {
                const std::uint64_t due = *std::exchange(mHost.mTimerDueMs, std::nullopt);
                if (const std::uint64_t now = mClock.NowMs(); due > now)
                    mClock.AdvanceMs(due - now);
                mSequence->OnTimer();
                continue;
            }
            // The worker switches or writes: what comes next is its task's end, whose completion
            // is posted before the wait returns.
            (void)mEngine->WaitForUpdate(ZT::kShutdownJoinTimeoutMs);
        }
        FAIL() << "the sequence never ended; step " << ToString(mSequence->GetStep()) << "\n" << Describe();
    }

    std::string SummaryText() const
    {
        std::string text;
        for (const std::string& line : mSequence->GetSummaryLines())
            text += line + "\n";
        return text;
    }
    std::string Describe() const
    {
        return "--- steps: " + StepsText(mHost.mSteps) + "\n--- summary:\n" + SummaryText() + "--- lines:\n" + mHost.Lines();
    }

    std::uint64_t EstimateWithSwitch(const ProductDevice& device) const
    {
        const auto file = LDfuSeFirmwareFile::Create();
        EXPECT_RESULT_EQ(file->Open(FilePath(device), LUpdateProcessor::kEstimateBlockBytes), ZT::S_OK);
        return LUpdateProcessor::EstimateDownloadMs(file->GetElementAddress(), file->GetElementSize(),
                                                    device.EraseSectors) +
               LUpdateProcessor::kEstimateModeSwitchMs;
    }

    ZT::RCPtr<LUpdateSequence> mSequence = ZT::MakeRC<LUpdateSequence>(mEngine);
    FakeHost mHost{*mSequence};
};

// ---- The flow ---------------------------------------------------------------------------------------

TEST_F(UpdateSequenceTest, BothDevicesGoThroughEveryStepWithEveryWaitATimerOrANotification)
{
    const auto controller = AddController(0x0030);
    const auto display = AddDisplay(0x0049);
    ASSERT_TRUE(ScanAndStart()) << Describe();
    // Start returns with the switch handed to the worker: the caller's thread is free.
    EXPECT_TRUE(mSequence->GetStep() == Step::Switching || mSequence->GetStep() == Step::WaitingForWorker)
        << "Start returned in step " << ToString(mSequence->GetStep()) << "\n" << Describe();
    RunToEnd();

    EXPECT_EQ(controller->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031)) << Describe();
    EXPECT_EQ(display->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0050)) << Describe();
    EXPECT_EQ(display->GetMode(), SimulatedDeviceMode::Application)
        << "the wheel display was left in " << SimulatedDeviceModeName(display->GetMode());
    // Each device: switch, download, the return wait, then the next one; WaitingForWorker may
    // come between the steps when the worker is still ending its task.
    std::vector<Step> steps;
    for (const Step step : mHost.mSteps) {
        if (step != Step::WaitingForWorker)
            steps.push_back(step);
    }
    EXPECT_EQ(StepsText(steps), "Switching Downloading WaitingForReturn Idle Rescanning Idle Switching Downloading "
                                "WaitingForReturn Idle Rescanning Idle")
        << Describe();
    // The waits for the devices to come back were timers of the host, in 500 ms steps.
    EXPECT_GE(std::count(mHost.mTimerRequests.begin(), mHost.mTimerRequests.end(), kDeviceReturnPollIntervalMs), 2)
        << "the return waits did not go through the host's timer\n" << Describe();
    EXPECT_EQ(SummaryText(), "Controller: updated to 00.31\nWheel display: updated to 00.50\n") << Describe();
    EXPECT_EQ(mSequence->GetSummary().Succeeded, 2u);
}

TEST_F(UpdateSequenceTest, ADeviceCountsAsUpdatedOnlyOnceItCameBackWithTheFilesVersion)
{
    const auto controller = AddController(0x0030);
    const auto display = AddDisplay(0x0049);
    const std::size_t displayLog = display->GetLog().size();
    SimulatedDeviceFaults faults;
    faults.noReturnAfterLeave = true;
    controller->SetFaults(faults);

    ASSERT_TRUE(ScanAndStart()) << Describe();
    RunToEnd();
    EXPECT_EQ(mSequence->GetSummary().Succeeded, 0u) << "a written device that never came back was counted\n" << Describe();
    EXPECT_EQ(SummaryText(), "Controller: failed (waiting for the device to return: written, but not back in normal "
                             "mode within 10 s (DeviceCannotBeUpdated))\n"
                             "Wheel display: not attempted (the controller's update did not succeed)\n")
        << Describe();
    EXPECT_EQ(LogSince(*display, displayLog), "") << Describe();
}

// The report takes the engine's failure record: where the download broke, by block, address and
// the bootloader's status, not the engine's state names.
TEST_F(UpdateSequenceTest, AFailedDownloadIsRecordedWhereItBrokeAndEndsTheRun)
{
    const auto controller = AddController(0x0030);
    const auto display = AddDisplay(0x0049);
    const std::size_t displayLog = display->GetLog().size();
    SimulatedDeviceFaults faults;
    faults.stallAfterBlocks = 5; // blocks 1 to 5 are written; block 6 is the sixth sent
    controller->SetFaults(faults);

    ASSERT_TRUE(ScanAndStart()) << Describe();
    RunToEnd();
    const LUpdateSequence::DeviceReport report = mSequence->GetDeviceReport(0);
    EXPECT_EQ(report.Result, LUpdateSequence::Outcome::Failed) << ToString(report.Result) << "\n" << Describe();
    EXPECT_EQ(report.Detail, "writing block 6 (0x0800B000): data request: Pipe, dfuERROR/errSTALLEDPKT");
    EXPECT_EQ(report.Failure.Format(), report.Detail);
    EXPECT_EQ(report.Failure.FormatDevice().rfind("Controller 0483:DF11 serial ", 0), 0u)
        << "the failed device is not named: " << report.Failure.FormatDevice();
    EXPECT_TRUE(Contains(mHost.Lines(), "Controller: the update failed (writing block 6 (0x0800B000)")) << Describe();
    EXPECT_TRUE(Contains(SummaryText(), "Controller: failed (writing block 6 (0x0800B000): data request: Pipe, "
                                        "dfuERROR/errSTALLEDPKT)\n"))
        << Describe();
    EXPECT_EQ(LogSince(*display, displayLog), "") << "the wheel display was started after a failure\n" << Describe();
}

// A switch that never finds the bootloader fails as the switch's: what it waited for, with the
// device's normal-mode IDs, and no DFU request.
TEST_F(UpdateSequenceTest, ASwitchThatFindsNoBootloaderIsRecordedAsTheSwitchsFailure)
{
    const auto controller = AddController(0x0030);
    (void)AddDisplay(0x0049);
    SimulatedDeviceFaults faults;
    faults.bootloaderNeverAppears = true;
    controller->SetFaults(faults);

    ASSERT_TRUE(ScanAndStart()) << Describe();
    RunToEnd();
    const LUpdateSequence::DeviceReport report = mSequence->GetDeviceReport(0);
    EXPECT_EQ(report.Result, LUpdateSequence::Outcome::Failed) << ToString(report.Result) << "\n" << Describe();
    EXPECT_EQ(report.Failure.Where, CUpdateFailure::Phase::Switch) << ToString(report.Failure.Where);
    EXPECT_EQ(report.Detail, "switching to update mode: no new bootloader appeared") << Describe();
    EXPECT_EQ(report.Failure.FormatDevice(), "Controller 2C1A:8010");
    EXPECT_TRUE(Contains(mHost.Lines(), "Controller: cannot be updated (switching to update mode: no new bootloader "
                                        "appeared)."))
        << Describe();
}

// ---- The rescan between the devices -----------------------------------------------------------------

// Which thread lists the bus, and whether it does so between the two devices.
class RescanTest : public UpdateSequenceTest {
protected:
    RescanTest()
    {
        ZT::SetUsbBackend(ZT::MakeRC<LHookedUsbBackend>(ZT::GetUsbBackend(), [this] { OnListing(); }));
    }

    void OnListing()
    {
        const bool between = mHost.mBetweenDevices.load();
        {
            std::lock_guard lock(mMutex);
            (between ? mRescanThreads : mOtherThreads).push_back(std::this_thread::get_id());
        }
        if (between && mOnRescanListing)
            mOnRescanListing();
    }

    // Set before the sequence starts; not guarded.
    std::function<void()> mOnRescanListing;
    const std::thread::id mHostThread = std::this_thread::get_id();
    std::mutex mMutex;
    std::vector<std::thread::id> mRescanThreads; // guarded by mMutex
    std::vector<std::thread::id> mOtherThreads;  // guarded by mMutex
};

TEST_F(RescanTest, TheRescanBetweenTheDevicesRunsOnTheWorkerAndTheSecondDeviceFollows)
{
    const auto controller = AddController(0x0030);
    const auto display = AddDisplay(0x0049);
    ASSERT_TRUE(ScanAndStart()) << Describe();
    // The worker's thread, as the controller's switch into update mode shows it.
    std::optional<std::thread::id> worker;
    while (!worker && mSequence->GetStep() == Step::Switching) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        std::lock_guard lock(mMutex);
        for (const std::thread::id id : mOtherThreads) {
            if (id != mHostThread)
                worker = id;
        }
    }
    ASSERT_TRUE(worker) << "no listing of the controller's switch was seen on the worker\n" << Describe();
    RunToEnd();

    std::lock_guard lock(mMutex);
    ASSERT_FALSE(mRescanThreads.empty()) << "nothing listed the bus between the two devices\n" << Describe();
    const auto onHost = std::count(mRescanThreads.begin(), mRescanThreads.end(), mHostThread);
    EXPECT_EQ(onHost, 0) << onHost << " of the " << mRescanThreads.size()
                         << " listings of the rescan between the devices held the host's thread\n" << Describe();
    const auto onWorker = std::count(mRescanThreads.begin(), mRescanThreads.end(), *worker);
    EXPECT_EQ(static_cast<std::size_t>(onWorker), mRescanThreads.size())
        << "the rescan between the devices did not run on the engine's worker\n" << Describe();
    EXPECT_EQ(display->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0050)) << Describe();
    EXPECT_EQ(controller->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031)) << Describe();
    EXPECT_EQ(SummaryText(), "Controller: updated to 00.31\nWheel display: updated to 00.50\n") << Describe();
    // What the rescan's probe saw reached the host's thread with its completion.
    const LDualUpdater::ProbeResult& probe = LDualUpdater::GetInstance()->GetProbeResult();
    EXPECT_EQ(probe.ControllerVersion.Text.ToUTF8(), "00.31") << "the last probe is not the one after the updates";
    EXPECT_EQ(probe.DisplayVersion.Text.ToUTF8(), "00.50") << "the last probe is not the one after the updates";
}

TEST_F(RescanTest, ASignalDuringTheRescanStartsNothingElse)
{
    const auto controller = AddController(0x0030);
    const auto display = AddDisplay(0x0049);
    std::atomic<bool> signalled{false};
    // The signal thread's call, made while the rescan lists the bus.
    mOnRescanListing = [&] {
        if (!signalled.exchange(true))
            mSequence->OnTerminationSignal(SIGTERM, 1);
    };
    ASSERT_TRUE(ScanAndStart()) << Describe();
    RunToEnd();

    ASSERT_TRUE(signalled.load()) << "the signal never came during the rescan\n" << Describe();
    EXPECT_EQ(mSequence->GetEndSignal(), SIGTERM);
    EXPECT_EQ(controller->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031)) << Describe();
    EXPECT_EQ(display->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0049))
        << "the wheel display was written after the signal\n" << Describe();
    EXPECT_EQ(display->GetMode(), SimulatedDeviceMode::Application)
        << "the wheel display was left in " << SimulatedDeviceModeName(display->GetMode()) << "\n" << Describe();
    EXPECT_FALSE(Contains(mHost.Lines(), "Wheel display: switching")) << Describe();
    EXPECT_TRUE(Contains(mHost.Lines(), "Interrupted by SIGTERM: ending the run; nothing new will be started."))
        << Describe();
    EXPECT_EQ(SummaryText(), "Controller: updated to 00.31\nWheel display: not attempted (interrupted by SIGTERM)\n")
        << Describe();
}

// ---- Termination signals ----------------------------------------------------------------------------

TEST_F(UpdateSequenceTest, ASignalDuringTheDownloadFinishesThatDeviceAndStartsNothingElse)
{
    const auto controller = AddController(0x0030);
    const auto display = AddDisplay(0x0049);
    const std::size_t displayLog = display->GetLog().size();
    std::atomic<int> signals{0};
    // The signal thread's call, made while the worker writes the controller (twice: a second
    // signal must not cut the download either).
    mClock.mAfterSleep = [&](std::uint64_t) {
        if (mEngine->GetDeviceState() == DeviceState::Updating && signals.load() < 2)
            mSequence->OnTerminationSignal(SIGTERM, static_cast<std::uint32_t>(++signals));
    };

    ASSERT_TRUE(ScanAndStart()) << Describe();
    RunToEnd();
    ASSERT_EQ(signals.load(), 2) << "the signals never came during the download\n" << Describe();
    EXPECT_EQ(mSequence->GetEndSignal(), SIGTERM);
    EXPECT_EQ(controller->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031)) << Describe();
    EXPECT_EQ(controller->GetMode(), SimulatedDeviceMode::Application)
        << "the controller was left in " << SimulatedDeviceModeName(controller->GetMode()) << "\n" << Describe();
    EXPECT_EQ(LogSince(*display, displayLog), "") << "the wheel display was touched after the signal\n" << Describe();
    EXPECT_TRUE(Contains(mHost.Lines(), "Interrupted by SIGTERM: finishing the controller's update first; do not unplug it."))
        << Describe();
    EXPECT_TRUE(Contains(mHost.Lines(), "SIGTERM again: the controller's update is not cut short")) << Describe();
    EXPECT_FALSE(Contains(mHost.Lines(), "Wheel display: switching")) << Describe();
    EXPECT_EQ(SummaryText(), "Controller: updated to 00.31\nWheel display: not attempted (interrupted by SIGTERM)\n");
}

TEST_F(UpdateSequenceTest, ASignalDuringTheSwitchStopsItBeforeAnythingIsWritten)
{
    const auto controller = AddController(0x0030);
    const auto display = AddDisplay(0x0049);
    const std::size_t displayLog = display->GetLog().size();
    std::atomic<bool> signalled{false};
    mClock.mAfterSleep = [&](std::uint64_t) {
        if (mEngine->GetDeviceState() == DeviceState::EnteringUpdateMode && !signalled.exchange(true))
            mSequence->OnTerminationSignal(SIGINT, 1);
    };

    ASSERT_TRUE(ScanAndStart()) << Describe();
    RunToEnd();
    ASSERT_TRUE(signalled.load()) << Describe();
    // The device left for its bootloader after the message: the only downloads it saw are the
    // address pointer and the leave that send it back, never an erase or a block.
    for (const SimulatedUsbRequest& request : controller->GetRequestLog()) {
        const bool download = request.request == static_cast<std::uint8_t>(ZT::DfuRequest::Dnload);
        const bool setAddress = request.value == 0 && request.dataOut.size() == 5 && request.dataOut[0] == 0x21;
        if (download && !setAddress && request.length != 0)
            ADD_FAILURE() << "a download other than the address pointer reached the controller: block " << request.value
                          << ", " << request.length << " bytes, first 0x" << std::hex
                          << (request.dataOut.empty() ? 0u : unsigned{request.dataOut[0]}) << "\n" << Describe();
    }
    EXPECT_EQ(controller->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0030)) << "its flash was changed";
    for (int i = 0; i < 40 && controller->GetMode() != SimulatedDeviceMode::Application; ++i)
        mClock.AdvanceMs(100); // its restart after the leave
    EXPECT_EQ(controller->GetMode(), SimulatedDeviceMode::Application)
        << "the controller was left in " << SimulatedDeviceModeName(controller->GetMode()) << "\n" << Describe();
    EXPECT_EQ(LogSince(*display, displayLog), "") << "the wheel display was touched\n" << Describe();
    EXPECT_TRUE(Contains(mHost.Lines(), "Interrupted by SIGINT: stopping the controller's switch into update mode"))
        << Describe();

    EXPECT_EQ(SummaryText(), "Controller: not attempted (interrupted by SIGINT during the switch into update mode)\n"
                             "Wheel display: not attempted (interrupted by SIGINT)\n");
}

// Ctrl-C once the controller had left its application for its bootloader: nothing was erased,
// so the run sends it back to its application instead of leaving it in update mode.
TEST_F(UpdateSequenceTest, ADeviceCaughtInItsBootloaderBySignalGoesBackToItsApplication)
{
    const auto controller = AddController(0x0030);
    AddDisplay(0x0049);
    std::atomic<bool> signalled{false};
    mClock.mAfterSleep = [&](std::uint64_t) {
        if (mEngine->GetDeviceState() == DeviceState::EnteringUpdateMode &&
            controller->GetMode() == SimulatedDeviceMode::Bootloader && !signalled.exchange(true))
            mSequence->OnTerminationSignal(SIGINT, 1);
    };

    ASSERT_TRUE(ScanAndStart()) << Describe();
    RunToEnd();
    ASSERT_TRUE(signalled.load()) << "the controller was never seen in its bootloader\n" << Describe();
    // Whether the engine saw the bootloader before it saw the signal or not, the device ends in
    // its application with the image it had.
    for (int i = 0; i < 40 && controller->GetMode() != SimulatedDeviceMode::Application; ++i)
        mClock.AdvanceMs(100); // its restart after the leave
    EXPECT_EQ(controller->GetMode(), SimulatedDeviceMode::Application)
        << "the controller was left in " << SimulatedDeviceModeName(controller->GetMode()) << "\n" << Describe();
    EXPECT_EQ(controller->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0030)) << "its flash was changed";
    EXPECT_TRUE(Contains(mHost.Lines(), "Controller: sent back to its application; nothing has been written."))
        << Describe();
    EXPECT_EQ(mSequence->GetDeviceReport(0).Detail, "interrupted by SIGINT during the switch into update mode");
}

TEST_F(UpdateSequenceTest, ASignalBeforeAnythingStartedLeavesBothDevicesUntouched)
{
    const auto controller = AddController(0x0030);
    const auto display = AddDisplay(0x0049);
    const std::size_t controllerLog = controller->GetLog().size();
    const std::size_t displayLog = display->GetLog().size();
    mSequence->OnTerminationSignal(SIGHUP, 1);

    EXPECT_FALSE(ScanAndStart()) << "the sequence started after a signal\n" << Describe();
    EXPECT_FALSE(mSequence->IsRunning());
    EXPECT_EQ(LogSince(*controller, controllerLog), "") << "the controller was touched\n" << Describe();
    EXPECT_EQ(LogSince(*display, displayLog), "") << "the wheel display was touched\n" << Describe();
    EXPECT_TRUE(Contains(mHost.Lines(), "Controller: not started: interrupted by SIGHUP.")) << Describe();
    EXPECT_EQ(SummaryText(), "Controller: not attempted (interrupted by SIGHUP)\n"
                             "Wheel display: not attempted (interrupted by SIGHUP)\n");
}

// ---- Silent mode's deadline ---------------------------------------------------------------------------

TEST_F(UpdateSequenceTest, TheSecondDeviceIsNotStartedWhenTheTimeLeftIsBelowItsEstimate)
{
    const auto controller = AddController(0x0030);
    const auto display = AddDisplay(0x0049);
    const std::size_t displayLog = display->GetLog().size();
    // Exactly what the controller needs: it starts; whatever its update took leaves the wheel
    // display, whose image is larger, less than its own estimate.
    ASSERT_GT(EstimateWithSwitch(kWheelDisplayDevice), EstimateWithSwitch(kControllerDevice));
    ASSERT_TRUE(ScanAndStart(mClock.NowMs() + EstimateWithSwitch(kControllerDevice))) << Describe();
    RunToEnd();

    EXPECT_EQ(controller->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031)) << Describe();
    EXPECT_EQ(LogSince(*display, displayLog), "") << "the wheel display was started without the time for it\n"
                                                  << Describe();
    const std::vector<std::string> lines = mSequence->GetSummaryLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Controller: updated to 00.31");
    EXPECT_TRUE(Contains(lines[1], "Wheel display: not attempted (") &&
                Contains(lines[1], " s of the silent run's time are left; the switch into update mode and the "
                                   "download may take up to 48 s)"))
        << Describe();
}

// A deadline that passes while a device is written cuts nothing: the download and the wait for
// the device end by their own time, and only what would start later is refused.
TEST_F(UpdateSequenceTest, ADeadlineThatPassesDuringTheDownloadLetsItFinish)
{
    const auto controller = AddController(0x0030);
    const auto display = AddDisplay(0x0049);
    const std::size_t displayLog = display->GetLog().size();
    // Past the deadline as soon as the first block is written.
    std::atomic<bool> passed{false};
    std::uint64_t deadline = 0;
    mClock.mAfterSleep = [&](std::uint64_t now) {
        if (mEngine->GetDeviceState() == DeviceState::Updating && !passed.exchange(true) && now < deadline)
            mClock.AdvanceMs(deadline - now + 1);
    };
    deadline = mClock.NowMs() + EstimateWithSwitch(kControllerDevice);
    ASSERT_TRUE(ScanAndStart(deadline)) << Describe();
    RunToEnd();

    ASSERT_TRUE(passed.load()) << Describe();
    EXPECT_GT(mClock.NowMs(), deadline);
    EXPECT_EQ(controller->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031))
        << "the controller's download was cut by the deadline\n" << Describe();
    EXPECT_EQ(controller->GetMode(), SimulatedDeviceMode::Application) << Describe();
    EXPECT_EQ(LogSince(*display, displayLog), "") << "the wheel display was started past the deadline\n" << Describe();
    EXPECT_EQ(SummaryText(), "Controller: updated to 00.31\n"
                             "Wheel display: not attempted (the time for the update is up)\n")
        << Describe();
}

} // namespace
