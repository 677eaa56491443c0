// LUpdateEngine::PerformUpdate against the simulated bootloader: the exact requests of a download,
// how blocks are numbered and which sectors are erased, progress, cancelling, and how each fault
// of the device ends, with the device recoverable afterwards.

#include "DownloadTestSupport.h"

#include "tests/Simulator/SimulatorTestSupport.h"

#include <algorithm>
#include <functional>
#include <iterator>

namespace {

using namespace DownloadTest;
using SimTest::Fault;
using F = SimulatedDeviceFaults;

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
    void ExpectDeviceFailure(UpdateRunState runState)
    {
        EXPECT_EQ(runState, UpdateRunState::Failed);
        EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceCannotBeUpdated);
        EXPECT_EQ(SelectedRecord().ErrorReason, DeviceErrorReason::DeviceAccessFailure);
        Deliver();
        EXPECT_EQ(mRecorder->Completions(), std::vector<bool>{false});
        mRecorder->mReceived.clear();
    }

    // What the user does after any failure: scan again, update again. The product image must
    // then be in flash and the controller back with its new version.
    void ExpectRecoverable()
    {
        SCOPED_TRACE("second update");
        ScanAndEnterUpdateMode();
        mUsb->Clear();
        ASSERT_EQ(RunUpdate(), UpdateRunState::Succeeded);
        EXPECT_TRUE(FlashHolds(*mController, mControllerImage));
        ASSERT_EQ(WaitForDeviceToReturn(*mEngine), ZT::S_OK);
        ExpectControllerVersion();
    }
    // The controller's version as the engine found it: its product image's.
    void ExpectControllerVersion()
    {
        FirmwareVersion version;
        ASSERT_EQ(mEngine->GetDeviceVersion(0, version), ZT::S_OK);
        EXPECT_EQ(version.Text, ZT::WString(L"00.31"));
    }
};

TEST_F(DfuSeDownload, ControllerImageIsErasedWrittenAndTheDeviceReturnsWithItsVersion)
{
    ScanAndEnterUpdateMode();
    ForgetWhatCameBefore();

    EXPECT_EQ(RunUpdate(), UpdateRunState::Succeeded);
    const auto requests = mUsb->GetDescriptions();

    // Idle check, then each of the controller's three sectors: erase, busy (answered once the
    // flash is done), (10 ms) download idle; each block the same.
    const std::vector<std::string> start = {
        "GETSTATUS 2",
        "DNLOAD 0 erase 0x08008000", "GETSTATUS 4", "GETSTATUS 5",
        "DNLOAD 0 erase 0x0800C000", "GETSTATUS 4", "GETSTATUS 5",
        "DNLOAD 0 erase 0x08010000", "GETSTATUS 4", "GETSTATUS 5",
        "DNLOAD 0 set 0x08008000", "GETSTATUS 4", "GETSTATUS 5",
        "DNLOAD 2 2048 bytes", "GETSTATUS 4", "GETSTATUS 5",
    };
    ASSERT_GE(requests.size(), start.size());
    EXPECT_EQ(std::vector<std::string>(requests.begin(), requests.begin() + start.size()), start);

    // 97000 bytes: 47 full blocks, then 744 bytes at 0x08008000 + 47 x 2048 after a set-address
    // command of their own, then the leave request and the status request that completes it.
    const std::vector<std::string> end = {
        "DNLOAD 48 2048 bytes", "GETSTATUS 4", "GETSTATUS 5",
        "DNLOAD 0 set 0x0801F800", "GETSTATUS 4", "GETSTATUS 5",
        "DNLOAD 2 744 bytes", "GETSTATUS 4", "GETSTATUS 5",
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
    EXPECT_EQ(WaitForDeviceToReturn(*mEngine), ZT::S_OK);
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
        EXPECT_EQ(engine.PerformUpdate(), ZT::E_FAIL);
        EXPECT_EQ(engine.GetUpdateRunState(false), UpdateRunState::Idle);
        EXPECT_EQ(engine.GetDeviceState(), state);
    };
    expectRefused("no update started", *mEngine, DeviceState::DeviceInUpdateMode);
    const auto withoutFile = ZT::MakeRC<LUpdateEngine>();
    withoutFile->SetDeviceState(DeviceState::Updating);
    expectRefused("no firmware file", *withoutFile, DeviceState::Updating);
    EXPECT_EQ(mEngine->SetFirmwareFileWithVersion(ZT::WString((mFolder / "missing.dfu").string().c_str()), FirmwareVersion()),
              ZT::E_FAIL);
    mEngine->SetDeviceState(DeviceState::Updating);
    expectRefused("firmware file not valid", *mEngine, DeviceState::Updating);
    EXPECT_TRUE(mUsb->GetDescriptions().empty());
    EXPECT_TRUE(TakeProgress().empty());
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
        BlockCase{"TwoFullBlocksAndOneByte", 4097,
                  {"DNLOAD 0 erase 0x08008000", "DNLOAD 0 set 0x08008000", "DNLOAD 2 2048 bytes", "DNLOAD 3 2048 bytes",
                   "DNLOAD 0 set 0x08009000", "DNLOAD 2 1 bytes", "DNLOAD 0 leave"}},
        BlockCase{"ThreeFullBlocks", 6144,
                  {"DNLOAD 0 erase 0x08008000", "DNLOAD 0 set 0x08008000", "DNLOAD 2 2048 bytes", "DNLOAD 3 2048 bytes",
                   "DNLOAD 4 2048 bytes", "DNLOAD 0 leave"}},
        BlockCase{"OneFullBlock", 2048,
                  {"DNLOAD 0 erase 0x08008000", "DNLOAD 0 set 0x08008000", "DNLOAD 2 2048 bytes", "DNLOAD 0 leave"}},
        // The first block is also the short last one: one set-address command serves both.
        BlockCase{"OneByte", 1, {"DNLOAD 0 erase 0x08008000", "DNLOAD 0 set 0x08008000", "DNLOAD 2 1 bytes", "DNLOAD 0 leave"}},
        // Nothing to erase or write: straight to the leave request, which an idle bootloader
        // refuses; the run still counts as done.
        BlockCase{"Empty", 0, {"DNLOAD 0 leave !Pipe"}}),
    [](const ::testing::TestParamInfo<BlockCase>& info) { return std::string(info.param.name); });

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

struct CancelCase {
    const char* name;
    // Asked after each wait of the run; true when the user presses abort now.
    std::function<bool(const RecordingUsbBackend&)> cancelNow;
    std::vector<std::string> lastRequests;
    double lastProgress;
};
void PrintTo(const CancelCase& c, std::ostream* out) { *out << c.name; }

class DfuSeCancel : public DfuSeDownload, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(DfuSeCancel, SendsTheLeaveThenTheAbortRequestAndStaysInUpdateMode)
{
    const CancelCase& c = GetParam();
    ScanAndEnterUpdateMode();
    ForgetWhatCameBefore();
    bool cancelled = false;
    mClock.mAfterSleep = [&](std::uint64_t) {
        if (!cancelled && c.cancelNow(*mUsb))
            cancelled = mEngine->CancelUpdate() == ZT::S_OK;
    };

    EXPECT_EQ(RunUpdate(), UpdateRunState::Cancelled);
    mClock.mAfterSleep = nullptr;
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceInUpdateMode);
    EXPECT_EQ(SelectedRecord().ErrorReason, DeviceErrorReason::NoReason);
    // The leave request makes the device reset, so the abort that follows finds it gone.
    EXPECT_EQ(Last(mUsb->GetDescriptions(), c.lastRequests.size()), c.lastRequests);
    Deliver();
    EXPECT_EQ(mRecorder->Completions(), std::vector<bool>{false});
    const auto progress = TakeProgress();
    ASSERT_FALSE(progress.empty());
    EXPECT_NEAR(progress.back(), c.lastProgress, 1e-12);

    // The device comes back by itself after its reset.
    mClock.AdvanceMs(1500);
    ExpectRecoverable();
}

INSTANTIATE_TEST_SUITE_P(
    Phases, DfuSeCancel,
    ::testing::Values(
        // Pressed during the first erase: that erase completes, the second is never sent.
        CancelCase{"DuringErase", [](const RecordingUsbBackend&) { return true; },
                   {"GETSTATUS 2", "DNLOAD 0 erase 0x08008000", "GETSTATUS 4", "GETSTATUS 5", "DNLOAD 0 leave",
                    "GETSTATUS 7", "ABORT !NoDevice"},
                   EraseProgress(0, 3)},
        // Pressed while the fifth block is programmed: that block completes, the sixth is never sent.
        CancelCase{"DuringWriting", [](const RecordingUsbBackend& usb) { return usb.CountDataBlocks() >= 5; },
                   {"DNLOAD 6 2048 bytes", "GETSTATUS 4", "GETSTATUS 5", "DNLOAD 0 leave", "GETSTATUS 7",
                    "ABORT !NoDevice"},
                   WriteProgress(4, 48)}),
    [](const ::testing::TestParamInfo<CancelCase>& info) { return std::string(info.param.name); });

struct FailureCase {
    const char* name;
    SimulatedDeviceFaults faults;
    std::vector<std::string> lastRequests; // the end of the run's traffic: nothing after the failure
    bool powerCycleToRecover;              // the device no longer answers until it restarts
    // The bootloader is left in dfuDNLOAD-IDLE. The next run's clear-status request, meant for
    // dfuERROR, then puts it into dfuERROR, so that run fails at its idle check and the one
    // after it succeeds.
    bool firstRetryFailsAtIdleCheck = false;
};
void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class DfuSeDeviceFailure : public DfuSeDownload, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(DfuSeDeviceFailure, EndsTheRunAtOnceAndTheDeviceStaysRecoverable)
{
    const FailureCase& c = GetParam();
    ScanAndEnterUpdateMode();
    mController->SetFaults(c.faults);
    ForgetWhatCameBefore();

    ExpectDeviceFailure(RunUpdate());
    EXPECT_EQ(Last(mUsb->GetDescriptions(), c.lastRequests.size()), c.lastRequests);

    mController->SetFaults({});
    if (c.powerCycleToRecover) {
        mController->Unplug();
        mController->Plug();
    }
    if (c.firstRetryFailsAtIdleCheck) {
        SCOPED_TRACE("first retry");
        ScanAndEnterUpdateMode();
        mUsb->Clear();
        ExpectDeviceFailure(RunUpdate());
        EXPECT_EQ(mUsb->GetDescriptions(), (std::vector<std::string>{"GETSTATUS 5", "CLRSTATUS", "GETSTATUS 10"}));
    }
    ExpectRecoverable();
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
                    {"GETSTATUS 2", "DNLOAD 0 erase 0x08008000 !Pipe"}, false},
        FailureCase{"StallAfterThreeBlocks", Fault(&F::stallAfterBlocks, 3u),
                    {"DNLOAD 4 2048 bytes", "GETSTATUS 4", "GETSTATUS 5", "DNLOAD 5 2048 bytes !Pipe"}, false},
        FailureCase{"NoAnswerAfterThreeBlocks", Fault(&F::noAnswerAfterBlocks, 3u),
                    {"GETSTATUS 5", "DNLOAD 5 2048 bytes !Timeout"}, true},
        FailureCase{"UnpluggedAfterThreeBlocks", Fault(&F::unplugAfterBlocks, 3u),
                    {"GETSTATUS 5", "DNLOAD 5 2048 bytes !NoDevice"}, true},
        // The first status request and 20 polls all answer dfuDNBUSY.
        FailureCase{"BlockBusyPastTwentyPolls",
                    Fault(&F::busyBlockStatusReplies, 21u, Fault(&F::busyBlockIndex, 2u)),
                    BusyBlockEnd(21), false, true}),
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

TEST_F(DfuSeDownload, BootloaderStartingInErrorIsClearedOnce)
{
    mController->SetFaults(Fault(&F::bootloaderStartsInError, true));
    ScanAndEnterUpdateMode();
    mUsb->Clear();

    EXPECT_EQ(RunUpdate(), UpdateRunState::Succeeded);
    const auto requests = mUsb->GetDescriptions();
    ASSERT_GE(requests.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(requests.begin(), requests.begin() + 4),
              (std::vector<std::string>{"GETSTATUS 10", "CLRSTATUS", "GETSTATUS 2", "DNLOAD 0 erase 0x08008000"}));
    EXPECT_TRUE(FlashHolds(*mController, mControllerImage));
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
    EXPECT_EQ(WaitForDeviceToReturn(*mEngine), ZT::E_FAIL);
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
    ASSERT_EQ(mEngine->RefreshDevice(), ZT::S_OK);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceNotInUpdateMode);
    ExpectControllerVersion();
}

// The slow device is back 12 s after the leave request.
INSTANTIATE_TEST_SUITE_P(Faults, DfuSeLateReturn,
                         ::testing::Values(ReturnCase{"NoReturn", Fault(&F::noReturnAfterLeave, true), true},
                                           ReturnCase{"SlowReturn", Fault(&F::slowReturn, true), false}),
                         [](const ::testing::TestParamInfo<ReturnCase>& info) { return std::string(info.param.name); });

} // namespace
