// The run without a window as a silent update drives it, in this process on the simulated pair in
// virtual time: termination signals at each phase, silent mode's deadline for the second device,
// and what the summary says of each device.

#include "FirmwareUpdater/Panel/CommandLineRun.h"
#include "FirmwareUpdater/Panel/Engine/DfuSeFirmwareFile.h"
#include "FirmwareUpdater/Panel/Engine/UpdateProcessor.h"
#include "FirmwareUpdater/Panel/PrinterLogStreams.h"
#include "FirmwareUpdater/Panel/ProgressPrinter.h"
#include "ZTFramework/Debug/DebugOutput.h"
#include "tests/FirmwareUpdater/Panel/Engine/UpdateEngineTestSupport.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <mutex>
#include <string>

namespace {

using EngineTest::DeviceState;

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// What a device's log gained since it held `before` lines: empty when nothing reached it.
std::string LogSince(const LSimulatedDevice& device, std::size_t before)
{
    std::string text;
    const std::vector<std::string> log = device.GetLog();
    for (std::size_t i = before; i < log.size(); ++i)
        text += log[i] + "\n";
    return text;
}

class CommandLineRunTest : public EngineTest::EngineFixture {
protected:
    CommandLineRunTest()
    {
        // As with the debug console open: the engine's lines reach the printer.
        ZT::DebugOutput::Instance().SetLogStreams(mLogStreams.Narrow(), mLogStreams.Wide());
        LUpdateProcessor::SetExitStatus(0);
        mRun->Attach();
        mProcessor->SetHost(mRun.Get());
    }
    ~CommandLineRunTest() override
    {
        mProcessor->SetHost(nullptr);
        (void)mEngineUnderTest->WaitForUpdate(ZT::kShutdownJoinTimeoutMs);
        mClock.mAfterSleep = nullptr;
        mRun->Detach();
        mRun = nullptr;
        mEngineUnderTest = nullptr;
        mProcessor = nullptr;
        ZT::DebugOutput::Instance().UseDebugStreams();
        LUpdateProcessor::SetExitStatus(0);
    }

    ZT::ZTRESULT RunSilent() { return mProcessor->Initialize(ZT::WString(L"updater -SILENT")); }

    // Everything the run said, and its summary, for failure messages and checks.
    std::string Output() const
    {
        std::lock_guard lock(mOutputMutex);
        return mOutput;
    }
    std::string SummaryText() const
    {
        std::string text;
        for (const std::string& line : mRun->GetSummaryLines())
            text += line + "\n";
        return text;
    }
    std::string Describe() const { return "--- summary:\n" + SummaryText() + "--- output:\n" + Output(); }

    // The estimate silent mode uses for a device's product file (the switch into update mode
    // included), computed from the file itself.
    std::uint64_t EstimateWithSwitch(const ProductDevice& device) const
    {
        const auto file = LDfuSeFirmwareFile::Create();
        EXPECT_RESULT_EQ(file->Open(FilePath(device), LUpdateProcessor::kEstimateBlockBytes), ZT::S_OK);
        return LUpdateProcessor::EstimateDownloadMs(file->GetElementAddress(), file->GetElementSize(),
                                                    device.EraseSectors) +
               LUpdateProcessor::kEstimateModeSwitchMs;
    }

    mutable std::mutex mOutputMutex;
    std::string mOutput; // guarded by mOutputMutex
    CProgressPrinter mPrinter{CProgressPrinter::Style::Lines, [this](std::string_view bytes) {
                                  std::lock_guard lock(mOutputMutex);
                                  mOutput.append(bytes);
                              }};
    CPrinterLogStreams mLogStreams{mPrinter};
    ZT::RCPtr<LUpdateProcessor> mProcessor =
        ZT::MakeRC<LUpdateProcessor>(LDualUpdater::GetUpdateTarget(), LDualUpdater::GetScanPreparer());
    ZT::RCPtr<LUpdateEngineInterface> mEngineUnderTest = mProcessor->GetEngine();
    ZT::RCPtr<LCommandLineRun> mRun = ZT::MakeRC<LCommandLineRun>(mEngineUnderTest, &mPrinter);
};

// ---- Termination signals ----------------------------------------------------------------------------

TEST_F(CommandLineRunTest, ASignalDuringTheDownloadFinishesThatDeviceAndStartsNothingElse)
{
    const auto controller = AddController(0x0030);
    const auto display = AddDisplay(0x0049);
    const std::size_t displayLog = display->GetLog().size();
    std::atomic<int> signals{0};
    // The signal thread's call, made while the worker writes the controller (twice: a second
    // signal must not cut the download either).
    mClock.mAfterSleep = [&](std::uint64_t) {
        if (mEngineUnderTest->GetDeviceState() == DeviceState::Updating && signals.load() < 2) {
            const int count = ++signals;
            mRun->OnTerminationSignal(SIGTERM, static_cast<std::uint32_t>(count));
        }
    };

    EXPECT_RESULT_EQ(RunSilent(), ZT::ZTRESULT_EXIT_APPLICATION);
    ASSERT_EQ(signals.load(), 2) << "the signals never came during the download\n" << Describe();
    EXPECT_EQ(mRun->GetEndSignal(), SIGTERM);
    EXPECT_EQ(controller->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031)) << Describe();
    EXPECT_EQ(controller->GetMode(), SimulatedDeviceMode::Application)
        << "the controller was left in " << SimulatedDeviceModeName(controller->GetMode()) << "\n" << Describe();
    EXPECT_EQ(LogSince(*display, displayLog), "") << "the wheel display was touched after the signal\n" << Describe();
    EXPECT_EQ(display->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0049));

    EXPECT_TRUE(Contains(Output(), "Interrupted by SIGTERM: finishing the controller's update first; do not unplug it."))
        << Describe();
    EXPECT_TRUE(Contains(Output(), "SIGTERM again: the controller's update is not cut short")) << Describe();
    EXPECT_FALSE(Contains(Output(), "Wheel display: switching")) << Describe();
    EXPECT_EQ(SummaryText(), "Controller: updated to 00.31\nWheel display: not attempted (interrupted by SIGTERM)\n");
}

TEST_F(CommandLineRunTest, ASignalDuringTheSwitchIntoUpdateModeStopsItBeforeAnythingIsWritten)
{
    const auto controller = AddController(0x0030);
    const auto display = AddDisplay(0x0049);
    const std::size_t displayLog = display->GetLog().size();
    std::atomic<bool> signalled{false};
    mClock.mAfterSleep = [&](std::uint64_t) {
        if (mEngineUnderTest->GetDeviceState() == DeviceState::EnteringUpdateMode && !signalled.exchange(true))
            mRun->OnTerminationSignal(SIGINT, 1);
    };

    EXPECT_RESULT_EQ(RunSilent(), ZT::ZTRESULT_EXIT_APPLICATION);
    ASSERT_TRUE(signalled.load()) << Describe();
    for (const SimulatedUsbRequest& request : controller->GetRequestLog())
        ADD_FAILURE() << "a USB request reached the controller after the signal: request 0x" << std::hex
                      << static_cast<unsigned>(request.request) << "\n" << Describe();
    EXPECT_EQ(controller->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0030)) << "its flash was changed";
    EXPECT_EQ(LogSince(*display, displayLog), "") << "the wheel display was touched\n" << Describe();
    EXPECT_TRUE(Contains(Output(), "Interrupted by SIGINT: stopping the controller's switch into update mode")) << Describe();
    EXPECT_EQ(SummaryText(),
              "Controller: not attempted (interrupted by SIGINT during the switch into update mode)\n"
              "Wheel display: not attempted (interrupted by SIGINT)\n");
}

TEST_F(CommandLineRunTest, ASignalBeforeAnythingStartedLeavesBothDevicesUntouched)
{
    const auto controller = AddController(0x0030);
    const auto display = AddDisplay(0x0049);
    const std::size_t controllerLog = controller->GetLog().size();
    const std::size_t displayLog = display->GetLog().size();
    mRun->OnTerminationSignal(SIGHUP, 1);

    EXPECT_RESULT_EQ(RunSilent(), ZT::ZTRESULT_EXIT_APPLICATION);
    EXPECT_EQ(LogSince(*controller, controllerLog), "") << "the controller was touched\n" << Describe();
    EXPECT_EQ(LogSince(*display, displayLog), "") << "the wheel display was touched\n" << Describe();
    EXPECT_TRUE(Contains(Output(), "Controller: not started: interrupted by SIGHUP.")) << Describe();
    EXPECT_EQ(SummaryText(), "Controller: not attempted (interrupted by SIGHUP)\n"
                             "Wheel display: not attempted (interrupted by SIGHUP)\n");
}

// ---- Silent mode's deadline ---------------------------------------------------------------------------

TEST_F(CommandLineRunTest, TheSecondDeviceIsNotStartedWhenTheTimeLeftIsBelowItsEstimate)
{
    const auto controller = AddController(0x0030);
    const auto display = AddDisplay(0x0049);
    const std::size_t displayLog = display->GetLog().size();
    // Exactly what the controller needs: it starts; whatever its update took leaves the wheel
    // display, whose image is larger, less than its own estimate.
    ASSERT_GT(EstimateWithSwitch(kWheelDisplayDevice), EstimateWithSwitch(kControllerDevice));
    mProcessor->SetSilentWaitMs(static_cast<std::uint32_t>(EstimateWithSwitch(kControllerDevice)));

    EXPECT_RESULT_EQ(RunSilent(), ZT::ZTRESULT_EXIT_APPLICATION);
    EXPECT_EQ(controller->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031)) << Describe();
    EXPECT_EQ(LogSince(*display, displayLog), "") << "the wheel display was started without the time for it\n"
                                                  << Describe();
    const std::vector<std::string> lines = mRun->GetSummaryLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Controller: updated to 00.31");
    EXPECT_TRUE(Contains(lines[1], "Wheel display: not attempted (") &&
                Contains(lines[1], " s of the silent run's time are left; the switch into update mode and the "
                                   "download may take up to 48 s)"))
        << Describe();
}

// ---- The summary ------------------------------------------------------------------------------------

TEST_F(CommandLineRunTest, ADeviceCountsAsUpdatedOnlyOnceItCameBackWithTheFilesVersion)
{
    const auto controller = AddController(0x0030);
    const auto display = AddDisplay(0x0049);
    const std::size_t displayLog = display->GetLog().size();
    SimulatedDeviceFaults faults;
    faults.noReturnAfterLeave = true;
    controller->SetFaults(faults);

    EXPECT_RESULT_EQ(RunSilent(), ZT::ZTRESULT_EXIT_APPLICATION);
    EXPECT_EQ(mRun->GetSummary().Succeeded, 0u) << "a written device that never came back was counted\n" << Describe();
    EXPECT_EQ(mRun->GetSummary().Failed, 1u) << Describe();
    EXPECT_EQ(SummaryText(), "Controller: failed (written, but it did not come back in normal mode within 10 s "
                             "(DeviceCannotBeUpdated))\n"
                             "Wheel display: not attempted (the controller's update did not succeed)\n");
    EXPECT_EQ(LogSince(*display, displayLog), "") << Describe();
}

TEST_F(CommandLineRunTest, AFailedDownloadIsNamedWithTheEnginesReasonAndWhereItStopped)
{
    const auto controller = AddController(0x0030);
    AddDisplay(0x0049);
    SimulatedDeviceFaults faults;
    faults.stallAfterBlocks = 5;
    controller->SetFaults(faults);

    EXPECT_RESULT_EQ(RunSilent(), ZT::ZTRESULT_EXIT_APPLICATION);
    const LCommandLineRun::DeviceReport report = mRun->GetDeviceReport(0);
    EXPECT_EQ(report.Result, LCommandLineRun::Outcome::Failed) << ToString(report.Result) << "\n" << Describe();
    // The engine's reason, then its own line's context: the step and the request that failed.
    EXPECT_TRUE(Contains(report.Detail, "DeviceCannotBeUpdated, DeviceAccessFailure: download to 0483:DF11")) << report.Detail;
    // After 5 blocks (1 to 5: the image's first block goes last) the sixth data request stalls.
    EXPECT_TRUE(Contains(report.Detail, "writing block 6 as block number 7")) << report.Detail;
    EXPECT_EQ(mRun->GetSummary().Failed, 1u);
}

} // namespace
