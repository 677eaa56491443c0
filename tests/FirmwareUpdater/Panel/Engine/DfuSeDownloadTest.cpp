// LUpdateEngine::PerformUpdate against the simulated bootloader: the exact requests of a download,
// how blocks are numbered and which sectors are erased, progress, cancelling, how each fault of
// the device ends, with the device recoverable afterwards, the DFU states a bootloader may be
// found in, and the firmware files refused before any device is touched.

#include "DownloadTestSupport.h"

#include "tests/Simulator/SimulatorTestSupport.h"
#include "tests/Support/Printers.h"
#include "tests/ZTFramework/Threads/DebugCapture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <iterator>

namespace {

using namespace DownloadTest;
using SimTest::Fault;
using F = SimulatedDeviceFaults;
using ZT::Testing::CDebugCapture;

std::vector<std::string> Last(const std::vector<std::string>& requests, std::size_t count)
{
    return {requests.end() - static_cast<std::ptrdiff_t>(std::min(count, requests.size())), requests.end()};
}

// The requests that start with prefix ("DNLOAD": commands, blocks and the leave request), in order.
std::vector<std::string> Starting(const std::vector<std::string>& requests, const std::string& prefix)
{
    std::vector<std::string> matching;
    std::copy_if(requests.begin(), requests.end(), std::back_inserter(matching),
                 [&](const std::string& request) { return request.rfind(prefix, 0) == 0; });
    return matching;
}

std::string ModeOf(LSimulatedDevice& device)
{
    return SimulatedDeviceModeName(device.GetMode());
}
std::string DfuStateOf(LSimulatedDevice& device)
{
    const auto state = device.GetDfuState();
    return state ? ZT::ToString(*state) : "(not in its bootloader)";
}

// Progress as the engine computes it: sector i of n in the first half, block i of b in the second.
double EraseProgress(std::uint32_t i, std::uint32_t n) { return 0.5 * i / n; }
double WriteProgress(std::uint32_t i, std::uint32_t b) { return static_cast<double>(i + b) / (2.0 * b); }

void ExpectFractions(const std::vector<double>& actual, const std::vector<double>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i)
        EXPECT_NEAR(actual[i], expected[i], 1e-12) << "progress notification " << i;
}

class DfuSeDownload : public DownloadFixture {
protected:
    // Drops the notifications and requests so far: the run's own follow.
    void ForgetWhatCameBefore()
    {
        Deliver();
        mRecorder->mReceived.clear();
        mUsb->Clear();
    }
    // How a failed run must end.
    // Gives the line of the failure record the completion carried.
    std::string ExpectDeviceFailure(UpdateRunState runState)
    {
        EXPECT_EQ(runState, UpdateRunState::Failed);
        EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceCannotBeUpdated);
        EXPECT_EQ(SelectedRecord().ErrorReason, DeviceErrorReason::DeviceAccessFailure);
        Deliver();
        EXPECT_EQ(mRecorder->Completions(), std::vector<bool>{false});
        const std::vector<std::string> failures = mRecorder->CompletionFailures();
        mRecorder->mReceived.clear();
        return failures.empty() ? std::string() : failures.front();
    }

    // What the user does after any failure: scan again, update again. The product image must
    // then be in flash and the controller back with its new version. start: the requests that
    // the second run must begin with, when given.
    void ExpectRecoverable(const std::vector<std::string>& start = {})
    {
        SCOPED_TRACE("second update");
        ScanAndEnterUpdateMode();
        mUsb->Clear();
        ASSERT_EQ(RunUpdate(), UpdateRunState::Succeeded);
        const auto requests = mUsb->GetDescriptions();
        EXPECT_EQ(std::vector<std::string>(requests.begin(), requests.begin() + static_cast<std::ptrdiff_t>(
                                                                                   std::min(start.size(), requests.size()))),
                  start);
        EXPECT_TRUE(FlashHolds(*mController, mControllerImage));
        ASSERT_RESULT_EQ(WaitForDeviceToReturn(*mEngine), ZT::S_OK);
        ExpectControllerVersion();
    }
    // The controller's version as the engine found it: its product image's.
    void ExpectControllerVersion()
    {
        FirmwareVersion version;
        ASSERT_RESULT_EQ(mEngine->GetDeviceVersion(0, version), ZT::S_OK);
        EXPECT_EQ(version.Text, ZT::WString(L"00.31"));
    }
};

TEST_F(DfuSeDownload, ControllerImageIsErasedWrittenAndTheDeviceReturnsWithItsVersion)
{
    ScanAndEnterUpdateMode();
    ForgetWhatCameBefore();

    const std::uint64_t startedAt = mClock.NowMs();
    EXPECT_EQ(RunUpdate(), UpdateRunState::Succeeded);
    // The bootloader holds each busy reply until its flash is done and still asks for the whole
    // time in it: the run takes the flash's time (erases 250 + 250 + 1100 ms, 47 blocks of 20 ms,
    // 744 bytes in 8 ms), not that time again on top.
    const std::uint64_t flashMs = 250 + 250 + 1100 + 47 * 20 + 8;
    EXPECT_EQ(mClock.NowMs() - startedAt, flashMs) << "the engine waited for the flash more than once";
    const auto requests = mUsb->GetDescriptions();

    // Idle check, then each of the controller's three sectors: erase, busy (answered once the
    // flash is done), download idle at once; each block the same. The blocks start at the
    // image's second block: the first, with the vector table, comes last.
    const std::vector<std::string> start = {
        "GETSTATUS 2",
        "DNLOAD 0 erase 0x08008000", "GETSTATUS 4", "GETSTATUS 5",
        "DNLOAD 0 erase 0x0800C000", "GETSTATUS 4", "GETSTATUS 5",
        "DNLOAD 0 erase 0x08010000", "GETSTATUS 4", "GETSTATUS 5",
        "DNLOAD 0 set 0x08008800", "GETSTATUS 4", "GETSTATUS 5",
        "DNLOAD 2 2048 bytes", "GETSTATUS 4", "GETSTATUS 5",
    };
    ASSERT_GE(requests.size(), start.size());
    EXPECT_EQ(std::vector<std::string>(requests.begin(), requests.begin() + start.size()), start);

    // 97000 bytes: blocks 1 to 46 in full, then 744 bytes at 0x08008000 + 47 x 2048 after a
    // set-address command of their own, then block 0 after its own, then the leave request and
    // the status request that completes it. Before the leave the address pointer is at the
    // element's start, where a bootloader that jumps to it finds the application.
    const std::vector<std::string> end = {
        "DNLOAD 47 2048 bytes", "GETSTATUS 4", "GETSTATUS 5",
        "DNLOAD 0 set 0x0801F800", "GETSTATUS 4", "GETSTATUS 5",
        "DNLOAD 2 744 bytes", "GETSTATUS 4", "GETSTATUS 5",
        "DNLOAD 0 set 0x08008000", "GETSTATUS 4", "GETSTATUS 5",
        "DNLOAD 2 2048 bytes", "GETSTATUS 4", "GETSTATUS 5",
        "DNLOAD 0 set 0x08008000", "GETSTATUS 4", "GETSTATUS 5",
        "DNLOAD 0 leave", "GETSTATUS 7",
    };
    EXPECT_EQ(Last(requests, end.size()), end);
    EXPECT_EQ(mUsb->CountDataBlocks(), 48u);
    EXPECT_TRUE(FlashHolds(*mController, mControllerImage));

    std::vector<double> expected;
    for (std::uint32_t i = 0; i < 3; ++i)
        expected.push_back(EraseProgress(i, 3));
    for (std::uint32_t i = 0; i < 48; ++i)
        expected.push_back(WriteProgress(i, 48));
    ExpectFractions(TakeProgress(), expected);

    // The refresh right after the leave request finds the device restarting.
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceCannotBeUpdated);
    EXPECT_EQ(SelectedRecord().ErrorReason, DeviceErrorReason::DeviceAccessFailure);

    const std::uint64_t leftAt = mClock.NowMs();
    EXPECT_RESULT_EQ(WaitForDeviceToReturn(*mEngine), ZT::S_OK);
    EXPECT_EQ(mClock.NowMs() - leftAt, 1500u); // back after 1.2 s, seen by the third 500 ms poll
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceNotInUpdateMode);
    ExpectControllerVersion();
}

TEST_F(DfuSeDownload, RefusedPreconditionsChangeNothingAndSendNothing)
{
    ScanAndEnterUpdateMode();
    mUsb->Clear();
    const auto expectRefused = [](const char* what, LUpdateEngine& engine, DeviceState state) {
        SCOPED_TRACE(what);
        EXPECT_RESULT_EQ(engine.PerformUpdate(), ZT::E_FAIL);
        EXPECT_EQ(engine.GetUpdateRunState(false), UpdateRunState::Idle);
        EXPECT_EQ(engine.GetDeviceState(), state);
    };
    expectRefused("no update started", *mEngine, DeviceState::DeviceInUpdateMode);
    const auto withoutFile = ZT::MakeRC<LUpdateEngine>();
    withoutFile->SetDeviceState(DeviceState::Updating);
    expectRefused("no firmware file", *withoutFile, DeviceState::Updating);
    EXPECT_RESULT_EQ(mEngine->SetFirmwareFileWithVersion(ZT::WString((mFolder / "missing.dfu").string().c_str()), FirmwareVersion()),
                     ZT::E_FAIL);
    mEngine->SetDeviceState(DeviceState::Updating);
    expectRefused("firmware file not valid", *mEngine, DeviceState::Updating);
    EXPECT_TRUE(mUsb->GetDescriptions().empty());
    EXPECT_TRUE(TakeProgress().empty());
}

// The window's switch on the worker: refused while one runs and outside DeviceNotInUpdateMode;
// the worker reaches the bootloader and the caller learns the end from IsWorkerBusy.
TEST_F(DfuSeDownload, TheSwitchOnTheWorkerReachesTheBootloaderAndIsRefusedWhileBusy)
{
    EXPECT_RESULT_EQ(mEngine->StartUpdateModeSwitch(), ZT::E_FAIL) << "started before any scan";
    ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    ASSERT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceNotInUpdateMode);
    EngineTest::WorkerGate gate;
    mClock.mAfterSleep = [&](std::uint64_t) { gate.Hold(); };
    ASSERT_RESULT_EQ(mEngine->StartUpdateModeSwitch(), ZT::S_OK);
    EXPECT_TRUE(gate.WaitUntilHeld(std::chrono::seconds(10)) && mEngine->IsWorkerBusy())
        << "the worker ended the switch before its first wait";
    EXPECT_RESULT_EQ(mEngine->StartUpdateModeSwitch(), ZT::E_FAIL) << "a second switch started while one runs";
    EXPECT_RESULT_EQ(mEngine->StartUpdate(), ZT::E_FAIL) << "a download started during the switch";
    gate.Open();
    ASSERT_RESULT_EQ(mEngine->WaitForUpdate(kWorkerWaitMs), ZT::S_OK);
    mClock.mAfterSleep = nullptr;
    EXPECT_FALSE(mEngine->IsWorkerBusy());
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceInUpdateMode);
    EXPECT_EQ(SimulatedDeviceModeName(mController->GetMode()), std::string("Bootloader"));
    EXPECT_RESULT_EQ(mEngine->StartUpdateModeSwitch(), ZT::E_FAIL) << "started again in DeviceInUpdateMode";
}

// A file cut short after it was chosen is refused by the same open: DfuSeFileTest's TruncatedByOneByte.
TEST_F(DfuSeDownload, FirmwareFileRemovedAfterItWasChosenFailsWithoutAnyRequest)
{
    ScanAndEnterUpdateMode();
    UseImage(MakeImage(0x08008000, 5000, 0x0031));
    std::filesystem::remove(mFolder / "test-image.dfu");
    mUsb->Clear();

    EXPECT_EQ(RunUpdate(), UpdateRunState::Failed);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceCannotBeUpdated);
    EXPECT_EQ(SelectedRecord().ErrorReason, DeviceErrorReason::FileAccessFailure);
    EXPECT_TRUE(mUsb->GetDescriptions().empty());
    // The device never saw a request, so the product file goes in at the next attempt.
    ExpectRecoverable();
}

// The file is replaced on disk (another image of the same shape, as a second copy of the
// installer would leave it) while the first sector is erased, after the run has checked it: the
// flash must hold the checked image, never blocks of both.
TEST_F(DfuSeDownload, AFileReplacedDuringTheEraseChangesNothingTheRunWrites)
{
    const DfuSeImage checked = MakeImage(0x08008000, 5 * 2048 + 100, 0x0030, 1);
    const DfuSeImage replacement = MakeImage(0x08008000, 5 * 2048 + 100, 0x0030, 2);
    ASSERT_NE(checked.ElementData, replacement.ElementData);
    ScanAndEnterUpdateMode();
    UseImage(checked);
    bool replaced = false;
    mClock.mAfterSleep = [&](std::uint64_t) {
        if (!replaced) {
            (void)mTemp.Write("test-image.dfu", replacement.ToBytes());
            replaced = true;
        }
    };
    const UpdateRunState end = RunUpdate();
    mClock.mAfterSleep = nullptr;
    ASSERT_TRUE(replaced) << "the run never waited during its erase";
    ASSERT_EQ(end, UpdateRunState::Succeeded);
    EXPECT_TRUE(FlashHolds(*mController, checked)) << "the flash is not the image the run checked";
}

// A bootloader that answers an erase's first status request at once, dfuDNBUSY with the erase's
// time, and erases while the host waits: the engine waits that time once and writes nothing into
// a sector that is still being erased.
TEST_F(DfuSeDownload, AnEraseAnsweredBusyAtOnceIsWaitedForOnce)
{
    ScanAndEnterUpdateMode();
    mController->SetFaults(Fault(&F::eraseBusyAtOnce, true));
    ForgetWhatCameBefore();
    const std::uint64_t startedAt = mClock.NowMs();
    ASSERT_EQ(RunUpdate(), UpdateRunState::Succeeded);
    EXPECT_EQ(mClock.NowMs() - startedAt, 250u + 250 + 1100 + 47 * 20 + 8) << "not the flash's own time";
    const auto requests = mUsb->GetDescriptions();
    const std::vector<std::string> erase = {"DNLOAD 0 erase 0x08010000", "GETSTATUS 4", "GETSTATUS 5",
                                            "DNLOAD 0 set 0x08008800"};
    EXPECT_NE(std::search(requests.begin(), requests.end(), erase.begin(), erase.end()), requests.end());
    EXPECT_TRUE(FlashHolds(*mController, mControllerImage));
}

struct BlockCase {
    const char* name;
    std::size_t size;
    std::vector<std::string> downloads; // every DNLOAD of the run, in order
};
void PrintTo(const BlockCase& c, std::ostream* out) { *out << c.name; }

class DfuSeBlockNumbering : public DfuSeDownload, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(DfuSeBlockNumbering, FollowsEachSetAddressCommand)
{
    const BlockCase& c = GetParam();
    const DfuSeImage image = MakeImage(0x08008000, c.size, 0x0031);
    ScanAndEnterUpdateMode();
    UseImage(image);
    mUsb->Clear();

    EXPECT_EQ(RunUpdate(), UpdateRunState::Succeeded);
    EXPECT_EQ(Starting(mUsb->GetDescriptions(), "DNLOAD"), c.downloads);
    EXPECT_TRUE(FlashHolds(*mController, image));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DfuSeBlockNumbering,
    ::testing::Values(
        // Block 1, the short block 2 at its own address, then block 0 at the element's start.
        BlockCase{"TwoFullBlocksAndOneByte", 4097,
                  {"DNLOAD 0 erase 0x08008000", "DNLOAD 0 set 0x08008800", "DNLOAD 2 2048 bytes",
                   "DNLOAD 0 set 0x08009000", "DNLOAD 2 1 bytes", "DNLOAD 0 set 0x08008000", "DNLOAD 2 2048 bytes",
                   "DNLOAD 0 set 0x08008000", "DNLOAD 0 leave"}},
        BlockCase{"ThreeFullBlocks", 6144,
                  {"DNLOAD 0 erase 0x08008000", "DNLOAD 0 set 0x08008800", "DNLOAD 2 2048 bytes", "DNLOAD 3 2048 bytes",
                   "DNLOAD 0 set 0x08008000", "DNLOAD 2 2048 bytes", "DNLOAD 0 set 0x08008000", "DNLOAD 0 leave"}},
        BlockCase{"OneFullBlock", 2048,
                  {"DNLOAD 0 erase 0x08008000", "DNLOAD 0 set 0x08008000", "DNLOAD 2 2048 bytes", "DNLOAD 0 set 0x08008000",
                   "DNLOAD 0 leave"}},
        // The first block is also the short last one: one set-address command serves both.
        BlockCase{"OneByte", 1,
                  {"DNLOAD 0 erase 0x08008000", "DNLOAD 0 set 0x08008000", "DNLOAD 2 1 bytes", "DNLOAD 0 set 0x08008000",
                   "DNLOAD 0 leave"}},
        // Nothing to erase or write: the address pointer, then the leave request.
        BlockCase{"Empty", 0, {"DNLOAD 0 set 0x08008000", "DNLOAD 0 leave"}}),
    [](const ::testing::TestParamInfo<BlockCase>& info) { return std::string(info.param.name); });

// A download cut after any number of blocks (the cable pulled) leaves the image's first word
// erased: the simulated boot code, which starts whatever has a stack pointer there, keeps the
// device in its bootloader at the next power-up.
TEST_F(DfuSeDownload, CutAfterAnyBlockLeavesTheFirstWordErasedAndTheDeviceInItsBootloader)
{
    const DfuSeImage image = MakeImage(0x08008000, 4 * 2048 + 808, 0x0030); // 5 blocks, the last short
    for (std::uint32_t blocks = 0; blocks < 5; ++blocks) {
        SCOPED_TRACE("unplugged after " + std::to_string(blocks) + " of 5 blocks");
        ScanAndEnterUpdateMode();
        UseImage(image);
        mController->SetFaults(Fault(&F::unplugAfterBlocks, blocks));
        ASSERT_EQ(RunUpdate(), UpdateRunState::Failed);
        mController->Plug();
        const auto head = mController->ReadFlash(0x08008000, 8);
        ASSERT_TRUE(head.has_value());
        EXPECT_EQ(*head, std::vector<std::uint8_t>(8, 0xFF)) << "the first 8 bytes at 0x08008000 are not erased";
        EXPECT_EQ(ModeOf(*mController), "Bootloader") << "the power-up started a half-written image";

        // The next run, without the fault, finishes the image and the device starts it.
        mController->SetFaults({});
        ScanAndEnterUpdateMode();
        UseImage(image);
        ASSERT_EQ(RunUpdate(), UpdateRunState::Succeeded);
        EXPECT_TRUE(FlashHolds(*mController, image));
        mClock.AdvanceMs(1500);
        EXPECT_EQ(ModeOf(*mController), "Application");
    }
}

struct EraseCase {
    const char* name;
    bool display; // the wheel display's six sectors; otherwise the controller's three
    std::uint32_t address;
    std::size_t size;
    std::vector<std::string> erased;
    std::uint32_t erasePhaseSteps; // progress notifications of the erase phase
};
void PrintTo(const EraseCase& c, std::ostream* out) { *out << c.name; }

class DfuSeEraseList : public DfuSeDownload, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(DfuSeEraseList, ErasesTheSectorsThatStartInsideTheElement)
{
    const EraseCase& c = GetParam();
    if (c.display) {
        // An old wheel display beside an up-to-date controller: the dual updater aims at it.
        mController->Unplug();
        mDisplay->Unplug();
        mController = AddController(0x0031);
        mDisplay = AddDisplay(0x0049);
    }
    const DfuSeImage image = MakeImage(c.address, c.size, 0x0031);
    ScanAndEnterUpdateMode();
    ASSERT_EQ(LDualUpdater::GetEraseSectorCount(), c.display ? 6u : 3u);
    UseImage(image);
    ForgetWhatCameBefore();

    EXPECT_EQ(RunUpdate(), UpdateRunState::Succeeded);
    EXPECT_EQ(Starting(mUsb->GetDescriptions(), "DNLOAD 0 erase"), c.erased);
    EXPECT_TRUE(FlashHolds(c.display ? *mDisplay : *mController, image));

    // Skipped sectors count for progress as erased ones do.
    std::vector<double> erase;
    for (double fraction : TakeProgress()) {
        if (fraction < 0.5)
            erase.push_back(fraction);
    }
    std::vector<double> expected;
    for (std::uint32_t i = 0; i < c.erasePhaseSteps; ++i)
        expected.push_back(EraseProgress(i, c.display ? 6 : 3));
    ExpectFractions(erase, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, DfuSeEraseList,
    ::testing::Values(
        // The third sector starts below the element's end, so all three go.
        EraseCase{"ControllerSixtyFourKiB", false, 0x08008000, 0x10000,
                  {"DNLOAD 0 erase 0x08008000", "DNLOAD 0 erase 0x0800C000", "DNLOAD 0 erase 0x08010000"}, 3},
        // An element that ends exactly where the next sector starts leaves that sector alone.
        EraseCase{"ControllerOneSectorExactly", false, 0x08008000, 0x4000, {"DNLOAD 0 erase 0x08008000"}, 2},
        EraseCase{"ControllerOneByteIntoTheNextSector", false, 0x08008000, 0x4001,
                  {"DNLOAD 0 erase 0x08008000", "DNLOAD 0 erase 0x0800C000"}, 3},
        // The first two sectors lie below the element and are skipped.
        EraseCase{"DisplayFromTheFirst64KiBSector", true, 0x08010000, 0x10000, {"DNLOAD 0 erase 0x08010000"}, 4},
        EraseCase{"DisplayUpToTheLastSector", true, 0x08010000, 0x50001,
                  {"DNLOAD 0 erase 0x08010000", "DNLOAD 0 erase 0x08020000", "DNLOAD 0 erase 0x08040000",
                   "DNLOAD 0 erase 0x08060000"},
                  6}),
    [](const ::testing::TestParamInfo<EraseCase>& info) { return std::string(info.param.name); });

// Stands in for the dual updater as the engine's target and, once told to, answers as a target
// with nothing to erase: what the engine would see if the target changed while a download runs.
class ChangingTarget final : public IUpdateTarget {
public:
    ZT::WString GetMidiPortName() const override { return Now().GetMidiPortName(); }
    std::uint32_t GetDefaultProductId() const override { return Now().GetDefaultProductId(); }
    std::uint32_t GetEraseSectorCount() const override { return Now().GetEraseSectorCount(); }
    bool GetEraseSectorAddress(std::uint32_t i, std::uint32_t& address) const override
    {
        return Now().GetEraseSectorAddress(i, address);
    }
    std::atomic<bool> mChanged{false}; // set on the worker, through the clock's hook

private:
    const IUpdateTarget& Now() const { return mChanged ? NoUpdateTarget() : LDualUpdater::GetUpdateTarget(); }
};

TEST_F(DfuSeDownload, ErasesTheListItsTargetHadWhenTheRunBegan)
{
    ScanAndEnterUpdateMode();
    ChangingTarget target;
    mEngine->SetUpdateTarget(&target);
    // The first wait of the run comes after the first erase request, between its two status
    // requests: from then on the target has nothing left to erase.
    mClock.mAfterSleep = [&target](std::uint64_t) { target.mChanged = true; };
    ForgetWhatCameBefore();

    const UpdateRunState end = RunUpdate();
    mClock.mAfterSleep = nullptr;
    mEngine->SetUpdateTarget(&LDualUpdater::GetUpdateTarget());

    ASSERT_TRUE(target.mChanged) << "the run never waited, so the target never changed";
    EXPECT_EQ(end, UpdateRunState::Succeeded);
    EXPECT_EQ(Starting(mUsb->GetDescriptions(), "DNLOAD 0 erase"),
              (std::vector<std::string>{"DNLOAD 0 erase 0x08008000", "DNLOAD 0 erase 0x0800C000",
                                        "DNLOAD 0 erase 0x08010000"}))
        << "the download read the target again after its start";
    EXPECT_TRUE(FlashHolds(*mController, mControllerImage));
}

struct CancelCase {
    const char* name;
    // Asked after each wait of the run; true when the user presses abort now.
    std::function<bool(const RecordingUsbBackend&)> cancelNow;
    std::vector<std::string> lastRequests;
    double lastProgress;
};
void PrintTo(const CancelCase& c, std::ostream* out) { *out << c.name; }

class DfuSeCancel : public DfuSeDownload, public ::testing::WithParamInterface<CancelCase> {};

// Once a sector is erased the flash holds no whole image: the device must not be sent away to
// start it. The abort ends the download, so the next run starts from dfuIDLE.
TEST_P(DfuSeCancel, AfterTheFirstEraseAbortsWithoutLeavingAndTheDeviceStaysInItsBootloader)
{
    const CancelCase& c = GetParam();
    ScanAndEnterUpdateMode();
    ForgetWhatCameBefore();
    bool cancelled = false;
    mClock.mAfterSleep = [&](std::uint64_t) {
        if (!cancelled && c.cancelNow(*mUsb))
            cancelled = mEngine->CancelUpdate() == ZT::S_OK;
    };

    CDebugCapture capture;
    EXPECT_EQ(RunUpdate(), UpdateRunState::Cancelled);
    mClock.mAfterSleep = nullptr;
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceInUpdateMode);
    EXPECT_EQ(SelectedRecord().ErrorReason, DeviceErrorReason::NoReason);
    const auto requests = mUsb->GetDescriptions();
    EXPECT_EQ(Last(requests, c.lastRequests.size()), c.lastRequests);
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "DNLOAD 0 leave"), 0);
    EXPECT_NE(capture.Text().find("was cancelled after the first erase request; the device stays in update mode, and "
                                  "running the updater again finishes the update"),
              std::string::npos)
        << capture.Text();
    Deliver();
    EXPECT_EQ(mRecorder->Completions(), std::vector<bool>{false});
    const auto progress = TakeProgress();
    ASSERT_FALSE(progress.empty());
    EXPECT_NEAR(progress.back(), c.lastProgress, 1e-12);

    // Long after, the device still waits in its bootloader, idle, for the next run.
    mClock.AdvanceMs(60000);
    EXPECT_EQ(ModeOf(*mController), "Bootloader");
    EXPECT_EQ(DfuStateOf(*mController), "dfuIDLE");
    ExpectRecoverable({"GETSTATUS 2", "DNLOAD 0 erase 0x08008000"});
}

INSTANTIATE_TEST_SUITE_P(
    Phases, DfuSeCancel,
    ::testing::Values(
        // Pressed during the first erase: that erase completes, the second is never sent.
        CancelCase{"DuringErase", [](const RecordingUsbBackend&) { return true; },
                   {"GETSTATUS 2", "DNLOAD 0 erase 0x08008000", "GETSTATUS 4", "GETSTATUS 5", "ABORT"},
                   EraseProgress(0, 3)},
        // Pressed while the fifth block is programmed: that block completes, the sixth is never sent.
        CancelCase{"DuringWriting", [](const RecordingUsbBackend& usb) { return usb.CountDataBlocks() >= 5; },
                   {"DNLOAD 6 2048 bytes", "GETSTATUS 4", "GETSTATUS 5", "ABORT"},
                   WriteProgress(4, 48)},
        // Pressed while the last block is programmed: the image is whole, but the cancel came
        // before the leave and is honoured.
        CancelCase{"DuringTheLastBlock", [](const RecordingUsbBackend& usb) { return usb.CountDataBlocks() >= 48; },
                   {"DNLOAD 2 2048 bytes", "GETSTATUS 4", "GETSTATUS 5", "ABORT"}, WriteProgress(47, 48)}),
    [](const ::testing::TestParamInfo<CancelCase>& info) { return std::string(info.param.name); });

// Before the first erase the application is whole: the device may restart into it, as a cancel
// always did. An earlier client sent a block (to the default address pointer, 0x08000000, erased
// in the simulated flash) and never asked for its status, so the run's first status request
// starts programming it and is answered only when that is done; the user cancels meanwhile.
TEST_F(DfuSeDownload, CancelBeforeTheFirstEraseLeavesToTheUntouchedApplication)
{
    ScanAndEnterUpdateMode();
    {
        ZT::UsbError error = ZT::UsbError::None;
        const auto connection = mSimulator->CreateUsbBackend()->Open(SelectedRecord().UpdateModePath.ToUTF8(), error);
        ASSERT_TRUE(connection) << ZT::UsbErrorName(error);
        SimTest::DfuHost host(connection, mClock);
        ASSERT_TRUE(host.Download(2, std::vector<std::uint8_t>(2048, 0x00)));
        connection->Close();
    }
    const auto before = mController->ReadFlash(0x08008000, 0x18000);
    ForgetWhatCameBefore();
    mClock.mAfterSleep = [&](std::uint64_t) { (void)mEngine->CancelUpdate(); };

    EXPECT_EQ(RunUpdate(), UpdateRunState::Cancelled);
    mClock.mAfterSleep = nullptr;
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceInUpdateMode);
    // The block is waited out, then its download aborted; nothing is erased.
    EXPECT_EQ(mUsb->GetDescriptions(),
              (std::vector<std::string>{"GETSTATUS 4", "GETSTATUS 5", "ABORT", "GETSTATUS 2", "DNLOAD 0 set 0x08008000",
                                        "GETSTATUS 4", "GETSTATUS 5", "DNLOAD 0 leave", "GETSTATUS 7", "ABORT !NoDevice"}));
    EXPECT_EQ(mController->ReadFlash(0x08008000, 0x18000), before);
    mClock.AdvanceMs(1500);
    EXPECT_EQ(ModeOf(*mController), "Application");
}

struct FailureCase {
    const char* name;
    SimulatedDeviceFaults faults;
    std::vector<std::string> lastRequests; // the end of the run's traffic: nothing after the failure
    bool powerCycleToRecover;              // the device no longer answers until it restarts
    // How the next run finds the bootloader and brings it to dfuIDLE.
    std::vector<std::string> retryStart;
    const char* failure; // how the run's failure line ends: the request and the reason by name
    // The failure record the completion carries: phase, block or sector, address, DFU status.
    const char* record;
};
void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class DfuSeDeviceFailure : public DfuSeDownload, public ::testing::WithParamInterface<FailureCase> {};

// Every one of these fails after the first erase request: no leave request, and the device stays
// in its bootloader for the next run, which finishes the update at its first attempt.
TEST_P(DfuSeDeviceFailure, EndsTheRunAtOnceWithoutLeavingAndTheNextRunFinishesTheUpdate)
{
    const FailureCase& c = GetParam();
    ScanAndEnterUpdateMode();
    mController->SetFaults(c.faults);
    ForgetWhatCameBefore();

    CDebugCapture capture;
    const std::string record = ExpectDeviceFailure(RunUpdate());
    EXPECT_EQ(record, c.record) << "the completion places the failure elsewhere";
    const CUpdateFailure failure = mEngine->GetLastFailure();
    EXPECT_EQ(failure.Format(), c.record) << "the engine's last failure is not the completion's";
    EXPECT_EQ(failure.VendorId, 0x0483) << "the failed device's IDs are not the bootloader's";
    EXPECT_EQ(failure.ProductId, 0xDF11) << "the failed device's IDs are not the bootloader's";
    EXPECT_EQ(failure.BootloaderSerial, SelectedRecord().UpdateModeSerialNumber);
    const auto requests = mUsb->GetDescriptions();
    EXPECT_EQ(Last(requests, c.lastRequests.size()), c.lastRequests);
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "DNLOAD 0 leave"), 0);
    EXPECT_NE(capture.Text().find("failed after the first erase request; the device stays in update mode"), std::string::npos)
        << capture.Text();
    EXPECT_NE(capture.Text().find(c.failure), std::string::npos) << "no line ending in \"" << c.failure << "\" in:\n"
                                                                  << capture.Text();

    mController->SetFaults({});
    mClock.AdvanceMs(60000);
    if (c.powerCycleToRecover) {
        mController->Unplug();
        mController->Plug();
    } else {
        EXPECT_EQ(ModeOf(*mController), "Bootloader");
    }
    ExpectRecoverable(c.retryStart);
}

std::vector<std::string> BusyBlockEnd(std::size_t busyReplies)
{
    std::vector<std::string> requests = {"DNLOAD 4 2048 bytes"};
    requests.insert(requests.end(), busyReplies, "GETSTATUS 4");
    return requests;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DfuSeDeviceFailure,
    ::testing::Values(
        FailureCase{"StallOnErase", Fault(&F::stallOnErase, true),
                    // A stalled request is followed by one status request that reads why.
                    {"GETSTATUS 2", "DNLOAD 0 erase 0x08008000 !Pipe", "GETSTATUS 10"}, false,
                    {"GETSTATUS 10", "CLRSTATUS", "GETSTATUS 2", "DNLOAD 0 erase 0x08008000"},
                    "erasing the sector at 0x08008000: command request: Pipe",
                    "erasing sector 0 (0x08008000): command request: Pipe, dfuERROR/errSTALLEDPKT"},
        FailureCase{"StallAfterThreeBlocks", Fault(&F::stallAfterBlocks, 3u),
                    {"GETSTATUS 4", "GETSTATUS 5", "DNLOAD 5 2048 bytes !Pipe", "GETSTATUS 10"}, false,
                    {"GETSTATUS 10", "CLRSTATUS", "GETSTATUS 2", "DNLOAD 0 erase 0x08008000"},
                    "writing block 4 as block number 5: data request: Pipe",
                    "writing block 4 (0x0800A000): data request: Pipe, dfuERROR/errSTALLEDPKT"},
        // The power cycle brings the bootloader back in dfuIDLE.
        FailureCase{"NoAnswerAfterThreeBlocks", Fault(&F::noAnswerAfterBlocks, 3u),
                    {"GETSTATUS 5", "DNLOAD 5 2048 bytes !Timeout"}, true, {"GETSTATUS 2", "DNLOAD 0 erase 0x08008000"},
                    "writing block 4 as block number 5: data request: Timeout",
                    "writing block 4 (0x0800A000): data request: Timeout"},
        FailureCase{"UnpluggedAfterThreeBlocks", Fault(&F::unplugAfterBlocks, 3u),
                    {"GETSTATUS 5", "DNLOAD 5 2048 bytes !NoDevice"}, true, {"GETSTATUS 2", "DNLOAD 0 erase 0x08008000"},
                    "writing block 4 as block number 5: data request: NoDevice",
                    "writing block 4 (0x0800A000): data request: NoDevice"},
        // The first status request and 20 polls all answer dfuDNBUSY. The block is done by the
        // next run, which finds dfuDNLOAD-IDLE: an ABORT, not a CLRSTATUS, brings that to dfuIDLE.
        FailureCase{"BlockBusyPastTwentyPolls",
                    Fault(&F::busyBlockStatusReplies, 21u, Fault(&F::busyBlockIndex, 2u)),
                    BusyBlockEnd(21), false, {"GETSTATUS 5", "ABORT", "GETSTATUS 2", "DNLOAD 0 erase 0x08008000"},
                    "writing block 3 as block number 4: last of 20 status polls: dfuDNBUSY (OK) where dfuDNLOAD-IDLE "
                    "was expected",
                    "writing block 3 (0x08009800): last of 20 status polls (dfuDNLOAD-IDLE expected), dfuDNBUSY/OK"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(DfuSeDownload, BlockThatBecomesIdleOnTheTwentiethPollIsWritten)
{
    ScanAndEnterUpdateMode();
    mController->SetFaults(Fault(&F::busyBlockStatusReplies, 20u, Fault(&F::busyBlockIndex, 2u)));
    mUsb->Clear();

    EXPECT_EQ(RunUpdate(), UpdateRunState::Succeeded);
    const auto requests = mUsb->GetDescriptions();
    auto expected = BusyBlockEnd(20);
    expected.push_back("GETSTATUS 5");
    expected.push_back("DNLOAD 5 2048 bytes");
    const auto block = std::search(requests.begin(), requests.end(), expected.begin(), expected.end());
    EXPECT_NE(block, requests.end());
    EXPECT_TRUE(FlashHolds(*mController, mControllerImage));
}

struct StartStateCase {
    const char* name;
    SimulatedDeviceFaults faults;
    // What another client did to the bootloader before the run (a run that was killed).
    std::function<void(SimTest::DfuHost&)> leaveBehind;
    std::vector<std::string> start; // the run's requests up to its first erase
    const char* logged;             // what the engine's line names the state it found by, if any
};
void PrintTo(const StartStateCase& c, std::ostream* out) { *out << c.name; }

class DfuSeStartState : public DfuSeDownload, public ::testing::WithParamInterface<StartStateCase> {};

// A CLRSTATUS outside dfuERROR puts a bootloader into dfuERROR: each state gets the one request
// that ends it, then dfuIDLE must follow.
TEST_P(DfuSeStartState, TheBootloaderIsBroughtToIdleWithTheRequestItsStateNeeds)
{
    const StartStateCase& c = GetParam();
    mController->SetFaults(c.faults);
    ScanAndEnterUpdateMode();
    if (c.leaveBehind) {
        ZT::UsbError error = ZT::UsbError::None;
        const auto connection = mSimulator->CreateUsbBackend()->Open(SelectedRecord().UpdateModePath.ToUTF8(), error);
        ASSERT_TRUE(connection) << ZT::UsbErrorName(error);
        SimTest::DfuHost host(connection, mClock);
        c.leaveBehind(host);
        connection->Close();
    }
    mUsb->Clear();

    CDebugCapture capture;
    EXPECT_EQ(RunUpdate(), UpdateRunState::Succeeded);
    const auto requests = mUsb->GetDescriptions();
    const auto firstErase = std::find(requests.begin(), requests.end(), "DNLOAD 0 erase 0x08008000");
    EXPECT_EQ(std::vector<std::string>(requests.begin(), firstErase), c.start);
    if (c.logged) {
        EXPECT_NE(capture.Text().find(c.logged), std::string::npos) << capture.Text();
    }
    EXPECT_TRUE(FlashHolds(*mController, mControllerImage));
}

const std::vector<std::uint8_t> kSetAddressCommand{0x21, 0x00, 0x80, 0x00, 0x08};

INSTANTIATE_TEST_SUITE_P(
    States, DfuSeStartState,
    ::testing::Values(
        StartStateCase{"Idle", {}, nullptr, {"GETSTATUS 2"}, nullptr},
        StartStateCase{"ErrorAtPowerUp", Fault(&F::bootloaderStartsInError, true), nullptr,
                       {"GETSTATUS 10", "CLRSTATUS", "GETSTATUS 2"}, "is in dfuERROR (errUNKNOWN); clearing it"},
        // Killed between a command and its status request: the first status request starts the
        // command, which is waited out, then aborted.
        StartStateCase{"DownloadSync", {},
                       [](SimTest::DfuHost& host) { ASSERT_TRUE(host.Download(0, kSetAddressCommand)); },
                       {"GETSTATUS 4", "GETSTATUS 5", "ABORT", "GETSTATUS 2"},
                       "is in dfuDNLOAD-IDLE, left by a transfer that did not end; aborting it"},
        StartStateCase{"DownloadIdle", {},
                       [](SimTest::DfuHost& host) {
                           ASSERT_TRUE(host.Download(0, kSetAddressCommand));
                           ASSERT_EQ(host.GetStatus()->state, 4);
                           ASSERT_EQ(host.GetStatus()->state, 5);
                       },
                       {"GETSTATUS 5", "ABORT", "GETSTATUS 2"}, "is in dfuDNLOAD-IDLE, left by"},
        StartStateCase{"UploadIdle", {},
                       [](SimTest::DfuHost& host) { ASSERT_TRUE(host.Upload(0, 4)); },
                       {"GETSTATUS 9", "ABORT", "GETSTATUS 2"}, "is in dfuUPLOAD-IDLE, left by"}),
    [](const ::testing::TestParamInfo<StartStateCase>& info) { return std::string(info.param.name); });

// A run killed between its leave request and the status request that completes it leaves the
// bootloader in dfuMANIFEST-SYNC; the next run's first status request starts the manifestation.
// A bootloader that resets itself then answers dfuMANIFEST and leaves the bus; one that waits for
// a USB reset answers dfuMANIFEST-WAIT-RESET from then on. Either way the run resets the device
// and looks again: a whole image runs and nothing is written; an image whose first word is erased
// leaves the bootloader in charge, and the run finishes the update.
struct ManifestCase {
    const char* name;
    bool waitsForReset;   // the bootloader waits in dfuMANIFEST-WAIT-RESET
    bool firstSectorErased; // the killed run's image is not whole
    std::vector<std::string> start; // the run's first requests
};
void PrintTo(const ManifestCase& c, std::ostream* out) { *out << c.name; }

class DfuSeManifestAtStart : public DfuSeDownload, public ::testing::WithParamInterface<ManifestCase> {
protected:
    // What a killed run leaves: (an erase,) a set-address command, then the leave request, and
    // for a bootloader that waits for its reset also the status request that starts the wait.
    void LeaveManifesting(const ManifestCase& c)
    {
        ZT::UsbError error = ZT::UsbError::None;
        const auto connection = mSimulator->CreateUsbBackend()->Open(SelectedRecord().UpdateModePath.ToUTF8(), error);
        ASSERT_TRUE(connection) << ZT::UsbErrorName(error);
        SimTest::DfuHost host(connection, mClock);
        const auto command = [&host](std::vector<std::uint8_t> payload) {
            ASSERT_TRUE(host.Download(0, payload));
            ASSERT_EQ(host.GetStatus()->state, 4);
            ASSERT_EQ(host.GetStatus()->state, 5);
        };
        if (c.firstSectorErased)
            command({0x41, 0x00, 0x80, 0x00, 0x08});
        command(kSetAddressCommand);
        ASSERT_TRUE(host.Download(0, {}));
        if (c.waitsForReset) {
            ASSERT_EQ(host.GetStatus()->state, static_cast<std::uint8_t>(ZT::DfuState::DfuManifest));
        }
        connection->Close();
    }
};

TEST_P(DfuSeManifestAtStart, TheDeviceIsResetAndComesUpAsItsImageAllows)
{
    const ManifestCase& c = GetParam();
    SimulatedDeviceFaults faults;
    faults.manifestWaitsForReset = c.waitsForReset;
    mController->SetFaults(faults);
    ScanAndEnterUpdateMode();
    LeaveManifesting(c);
    if (HasFatalFailure())
        return;
    mUsb->Clear();

    CDebugCapture capture;
    const UpdateRunState runState = RunUpdate();
    const auto requests = mUsb->GetDescriptions();
    EXPECT_EQ(std::vector<std::string>(requests.begin(),
                                       requests.begin() + static_cast<std::ptrdiff_t>(std::min(c.start.size(), requests.size()))),
              c.start);
    EXPECT_NE(capture.Text().find("left by a run that ended after its leave request; resetting the device"),
              std::string::npos)
        << capture.Text();

    if (c.firstSectorErased) {
        EXPECT_EQ(runState, UpdateRunState::Succeeded);
        EXPECT_NE(capture.Text().find("in its bootloader again"), std::string::npos) << capture.Text();
        EXPECT_TRUE(FlashHolds(*mController, mControllerImage));
        ASSERT_RESULT_EQ(WaitForDeviceToReturn(*mEngine), ZT::S_OK);
        ExpectControllerVersion();
        return;
    }
    // Nothing is written to a device whose image runs; the run says it runs, and which version.
    EXPECT_EQ(runState, UpdateRunState::Failed);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceNotInUpdateMode);
    EXPECT_STREQ(ToString(SelectedRecord().ErrorReason), ToString(DeviceErrorReason::NoReason));
    EXPECT_EQ(ModeOf(*mController), "Application");
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [](const std::string& r) { return r.rfind("DNLOAD", 0) == 0; }),
              0)
        << "requests after the reset: " << ::testing::PrintToString(requests);
    FirmwareVersion version;
    ASSERT_RESULT_EQ(mEngine->GetDeviceVersion(0, version), ZT::S_OK);
    ASSERT_FALSE(version.Text.IsEmpty());
    EXPECT_NE(capture.Text().find("is in its application, firmware version " + version.Text.ToUTF8()), std::string::npos)
        << capture.Text();
}

INSTANTIATE_TEST_SUITE_P(
    States, DfuSeManifestAtStart,
    ::testing::Values(
        // The reset finds the device gone already: it restarted by itself after its answer.
        ManifestCase{"ManifestWholeImage", false, false, {"GETSTATUS 7", "RESET !NoDevice"}},
        ManifestCase{"ManifestFirstSectorErased", false, true,
                     {"GETSTATUS 7", "RESET !NoDevice", "GETSTATUS 2", "DNLOAD 0 erase 0x08008000"}},
        ManifestCase{"WaitResetWholeImage", true, false, {"GETSTATUS 8", "RESET"}},
        ManifestCase{"WaitResetFirstSectorErased", true, true,
                     {"GETSTATUS 8", "RESET", "GETSTATUS 2", "DNLOAD 0 erase 0x08008000"}}),
    [](const ::testing::TestParamInfo<ManifestCase>& info) { return std::string(info.param.name); });

struct RefusedFileCase {
    const char* name;
    std::function<std::vector<std::uint8_t>(const DfuSeImage& product)> bytes;
    std::vector<std::string> logNames; // what the one debug line must name
};
void PrintTo(const RefusedFileCase& c, std::ostream* out) { *out << c.name; }

class DfuSeRefusedFile : public DfuSeDownload, public ::testing::WithParamInterface<RefusedFileCase> {
protected:
    void UseFile(const std::vector<std::uint8_t>& bytes)
    {
        const auto path = mTemp.Write("refused.dfu", bytes);
        ASSERT_RESULT_EQ(mEngine->SetFirmwareFileWithVersion(ZT::WString(path.string().c_str()),
                                                             FirmwareVersion(0, 0, 3, 1, ZT::WString("00.31"))),
                         ZT::S_OK);
    }
    void ExpectRefused(const CDebugCapture& capture)
    {
        EXPECT_EQ(mEngine->GetUpdateRunState(false), UpdateRunState::Failed);
        EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceCannotBeUpdated);
        EXPECT_EQ(SelectedRecord().ErrorReason, DeviceErrorReason::FileAccessFailure);
        const std::string text = capture.Text();
        EXPECT_NE(text.find("is refused before any device is touched"), std::string::npos) << text;
        for (const std::string& name : GetParam().logNames)
            EXPECT_NE(text.find(name), std::string::npos) << "no " << name << " in: " << text;
        const auto deviceRequests = mController->GetRequestLog();
        EXPECT_TRUE(deviceRequests.empty()) << deviceRequests.size() << " requests reached the controller";
        for (const std::string& line : mController->GetLog())
            EXPECT_EQ(line.find("MIDI"), std::string::npos) << line;
    }
};

TEST_P(DfuSeRefusedFile, IsRefusedBeforeTheUpdateModeMessage)
{
    ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    ASSERT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceNotInUpdateMode);
    UseFile(GetParam().bytes(mControllerImage));
    mController->ClearLogs();
    CDebugCapture capture;

    EXPECT_RESULT_EQ(mEngine->RequestUpdateMode(), ZT::E_FAIL);
    ExpectRefused(capture);
    mClock.AdvanceMs(60000);
    EXPECT_EQ(ModeOf(*mController), "Application");
    ExpectRecoverable();
}

// A device that is already in update mode goes straight to the download, which asks first.
TEST_P(DfuSeRefusedFile, IsRefusedByTheDownloadWithoutAnyRequest)
{
    ScanAndEnterUpdateMode();
    UseFile(GetParam().bytes(mControllerImage));
    mUsb->Clear();
    mController->ClearLogs();
    CDebugCapture capture;

    EXPECT_EQ(RunUpdate(), UpdateRunState::Failed);
    ExpectRefused(capture);
    EXPECT_TRUE(mUsb->GetDescriptions().empty());
    ExpectRecoverable({"GETSTATUS 2", "DNLOAD 0 erase 0x08008000"});
}

INSTANTIATE_TEST_SUITE_P(
    Files, DfuSeRefusedFile,
    ::testing::Values(
        // One bit of the element's last byte: the reader alone would write it.
        RefusedFileCase{"FlippedPayloadByte",
                        [](const DfuSeImage& product) {
                            auto bytes = product.ToBytes();
                            bytes[bytes.size() - 17] ^= 0x01;
                            return bytes;
                        },
                        {"SuffixCrcMismatch", "carries the CRC 0x"}},
        // Its last byte would land in 0x08020000, which the controller's list never erases.
        RefusedFileCase{"ElementPastTheErasedSectors",
                        [](const DfuSeImage&) { return MakeImage(0x08008000, 0x18001, 0x0031).ToBytes(); },
                        {"ElementPastErasedSectors", "0x08020000"}},
        RefusedFileCase{"ElementInTheBootloadersFlash",
                        [](const DfuSeImage&) { return MakeImage(0x08000000, 5000, 0x0031).ToBytes(); },
                        {"ElementBelowErasedSectors", "0x08000000", "0x08008000"}},
        // Fits the controller's flash, but its suffix says it is the wheel display's.
        RefusedFileCase{"SuffixNamesTheWheelDisplay",
                        [](const DfuSeImage& product) {
                            DfuSeImage other = product;
                            other.ProductId = 0xB010;
                            other.TargetName = "ST...";
                            return other.ToBytes();
                        },
                        {"MadeForOtherDevice",
                         "it is the Halvard XR4000 NOVA WD's image, not the Halvard XR4000 NOVA's: its DFU suffix "
                         "names 2C1A:B010"}},
        // The bootloader's own IDs in the suffix, the wheel display's name as its target's.
        RefusedFileCase{"TargetNamedTheWheelDisplay",
                        [](const DfuSeImage& product) {
                            DfuSeImage other = product;
                            other.VendorId = 0x0483;
                            other.ProductId = 0xDF11;
                            other.TargetName = "halvard xr4000 nova wd";
                            return other.ToBytes();
                        },
                        {"MadeForOtherDevice", "Halvard XR4000 NOVA WD's image", "its target is named \"halvard xr4000 nova wd\""}}),
    [](const ::testing::TestParamInfo<RefusedFileCase>& info) { return std::string(info.param.name); });

// A file that names neither device, as DfuSe tools write one (the bootloader's IDs, a generic
// target name), is judged by its contents alone and written.
TEST_F(DfuSeDownload, AFileThatNamesNeitherDeviceIsWritten)
{
    DfuSeImage generic = mControllerImage;
    generic.VendorId = 0x0483;
    generic.ProductId = 0xDF11;
    generic.TargetName = "ST...";
    ScanAndEnterUpdateMode();
    UseImage(generic);
    EXPECT_EQ(RunUpdate(), UpdateRunState::Succeeded);
    EXPECT_TRUE(FlashHolds(*mController, generic));
}

TEST_F(DfuSeDownload, DeviceGoneBeforeTheRunFailsWithoutAnyRequest)
{
    ScanAndEnterUpdateMode();
    mController->Unplug();
    mUsb->Clear();

    ExpectDeviceFailure(RunUpdate());
    EXPECT_TRUE(mUsb->GetDescriptions().empty());

    mController->Plug();
    ExpectRecoverable();
}

struct ReturnCase {
    const char* name;
    SimulatedDeviceFaults faults;
    bool powerCycle; // what brings the device back after the 10 s wait gave up; else more time
};
void PrintTo(const ReturnCase& c, std::ostream* out) { *out << c.name; }

class DfuSeLateReturn : public DfuSeDownload, public ::testing::WithParamInterface<ReturnCase> {};

TEST_P(DfuSeLateReturn, TheWaitGivesUpAfterTenSecondsAndALaterRefreshFindsTheNewVersion)
{
    const ReturnCase& c = GetParam();
    ScanAndEnterUpdateMode();
    mController->SetFaults(c.faults);

    EXPECT_EQ(RunUpdate(), UpdateRunState::Succeeded);
    EXPECT_TRUE(FlashHolds(*mController, mControllerImage));
    const std::uint64_t leftAt = mClock.NowMs();
    EXPECT_RESULT_EQ(WaitForDeviceToReturn(*mEngine), ZT::E_FAIL);
    EXPECT_EQ(mClock.NowMs() - leftAt, 10000u);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceCannotBeUpdated);
    EXPECT_EQ(SelectedRecord().ErrorReason, DeviceErrorReason::DeviceAccessFailure);

    // What the NEXT button does once the device is back.
    if (c.powerCycle) {
        mController->Unplug();
        mController->Plug();
    } else {
        mClock.AdvanceMs(2000);
    }
    ASSERT_RESULT_EQ(mEngine->RefreshDevice(), ZT::S_OK);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceNotInUpdateMode);
    ExpectControllerVersion();
}

// The slow device is back 12 s after the leave request.
INSTANTIATE_TEST_SUITE_P(Faults, DfuSeLateReturn,
                         ::testing::Values(ReturnCase{"NoReturn", Fault(&F::noReturnAfterLeave, true), true},
                                           ReturnCase{"SlowReturn", Fault(&F::slowReturn, true), false}),
                         [](const ::testing::TestParamInfo<ReturnCase>& info) { return std::string(info.param.name); });

} // namespace
