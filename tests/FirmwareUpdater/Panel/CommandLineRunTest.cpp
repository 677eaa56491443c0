// The run without a window as a silent update drives it, in this process on the simulated pair in
// virtual time: its loop takes the update sequence through both devices, and a person sees each
// step and where a download broke. The sequence's own rules (signals, the deadline, the summary)
// are tested with the sequence.

#include "FirmwareUpdater/Panel/CommandLineRun.h"
#include "FirmwareUpdater/Panel/Engine/UpdateProcessor.h"
#include "FirmwareUpdater/Panel/PrinterLogStreams.h"
#include "FirmwareUpdater/Panel/ProgressPrinter.h"
#include "ZTFramework/Debug/DebugOutput.h"
#include "tests/FirmwareUpdater/Panel/Engine/UpdateEngineTestSupport.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>

namespace {

using EngineTest::DeviceState;

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
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
        mSequence->Detach();
        mSequence = nullptr;
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
        for (const std::string& line : mSequence->GetSummaryLines())
            text += line + "\n";
        return text;
    }
    std::string Describe() const { return "--- summary:\n" + SummaryText() + "--- output:\n" + Output(); }

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
    ZT::RCPtr<LUpdateSequence> mSequence = ZT::MakeRC<LUpdateSequence>(mEngineUnderTest);
    ZT::RCPtr<LCommandLineRun> mRun = ZT::MakeRC<LCommandLineRun>(mEngineUnderTest, mSequence, &mPrinter);
};

TEST_F(CommandLineRunTest, ASilentRunTakesBothDevicesThroughEveryStepOnTheScreen)
{
    const auto controller = AddController(0x0030);
    const auto display = AddDisplay(0x0049);

    EXPECT_RESULT_EQ(RunSilent(), ZT::ZTRESULT_EXIT_APPLICATION);
    EXPECT_FALSE(mSequence->IsRunning()) << "the silent wait ended in step " << ToString(mSequence->GetStep());
    EXPECT_EQ(controller->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031)) << Describe();
    EXPECT_EQ(display->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0050)) << Describe();
    // What a person sees, in order.
    std::size_t at = 0;
    for (const char* line : {"Controller: switching to update mode...", "Controller: writing firmware 00.31...",
                             "Controller: firmware written; waiting for the device to restart...",
                             "Controller: back in normal mode with firmware 00.31.",
                             "Wheel display: switching to update mode...", "Wheel display: writing firmware 00.50...",
                             "Wheel display: back in normal mode with firmware 00.50."}) {
        const std::size_t found = Output().find(line, at);
        EXPECT_NE(found, std::string::npos) << "missing or out of order: \"" << line << "\"\n" << Describe();
        if (found != std::string::npos)
            at = found;
    }
    EXPECT_EQ(SummaryText(), "Controller: updated to 00.31\nWheel display: updated to 00.50\n");
}

TEST_F(CommandLineRunTest, AFailedDownloadIsNamedWhereItStopped)
{
    const auto controller = AddController(0x0030);
    AddDisplay(0x0049);
    SimulatedDeviceFaults faults;
    faults.stallAfterBlocks = 5;
    controller->SetFaults(faults);

    EXPECT_RESULT_EQ(RunSilent(), ZT::ZTRESULT_EXIT_APPLICATION);
    const LUpdateSequence::DeviceReport report = mSequence->GetDeviceReport(0);
    EXPECT_EQ(report.Result, LUpdateSequence::Outcome::Failed) << ToString(report.Result) << "\n" << Describe();
    // After 5 blocks (1 to 5: the image's first block goes last) the sixth data request stalls;
    // the line comes from the completion's failure record, not from what the printer showed.
    EXPECT_EQ(report.Detail, "writing block 6 (0x0800B000): data request: Pipe, dfuERROR/errSTALLEDPKT") << Describe();
    EXPECT_TRUE(Contains(SummaryText(), "Controller: failed (writing block 6 (0x0800B000)")) << SummaryText();
    EXPECT_EQ(mSequence->GetSummary().Failed, 1u);
}

} // namespace
