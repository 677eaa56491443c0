// USB discovery and the switch into update mode against the simulated pair, in virtual time.

#include "UpdateEngineTestSupport.h"

#include "ZTFramework/Threads/Event.h"
#include "tests/Support/Printers.h"

#include <thread>

namespace {

using ZT::Testing::UsbId;

using namespace EngineTest;

// ---- Hardware IDs -----------------------------------------------------------------------------

TEST(HardwareId, GivesIdsAndTheReleaseOfADeviceInNormalModeOnly)
{
    struct Row {
        const char* hardwareId;
        std::uint16_t vendorId;
        std::uint16_t productId;
        ZT::ZTRESULT releaseResult;
        FirmwareVersion release;
    };
    const Row rows[] = {
        {"USB\\VID_2C1A&PID_8010&REV_0031", 0x2C1A, 0x8010, ZT::S_OK, {0, 0, 3, 1, L"00.31"}},
        // Lower-case digits, and even lower-case tags, read the same.
        {"USB\\VID_2c1a&PID_b010&REV_0050", 0x2C1A, 0xB010, ZT::S_OK, {0, 0, 5, 0, L"00.50"}},
        {"usb\\vid_2c1a&pid_8010&rev_0031", 0x2C1A, 0x8010, ZT::S_OK, {0, 0, 3, 1, L"00.31"}},
        // A character that is no hexadecimal digit counts 0 and keeps its place.
        {"USB\\VID_2C1A&PID_8010&REV_00G1", 0x2C1A, 0x8010, ZT::S_OK, {0, 0, 0, 1, L"00.01"}},
        // How a release becomes a version: ReleaseNumber.GivesOneVersionPartPerHexDigitAndTheDecimalText.
        // Missing tags read as 0.
        {"USB\\PID_8010&REV_0031", 0, 0x8010, ZT::S_OK, {0, 0, 3, 1, L"00.31"}},
        {"USB\\VID_2C1A&PID_8010", 0x2C1A, 0x8010, ZT::E_FAIL, {}},
        {"", 0, 0, ZT::E_FAIL, {}},
        // Digits missing at the end count 0 in their places.
        {"USB\\VID_2C", 0x2C00, 0, ZT::E_FAIL, {}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.hardwareId);
        EXPECT_EQ(UsbId(LUpdateEngine::ReadHardwareIdNumber(row.hardwareId, "VID_")), UsbId(row.vendorId));
        EXPECT_EQ(UsbId(LUpdateEngine::ReadHardwareIdNumber(row.hardwareId, "PID_")), UsbId(row.productId));
        FirmwareVersion release{9, 9, 9, 9, L"stale"};
        EXPECT_RESULT_EQ(LUpdateEngine::ReadFirmwareRelease(row.hardwareId, false, release), row.releaseResult);
        EXPECT_TRUE(release.HasSameNumberAs(row.release));
        EXPECT_EQ(release.Text, row.release.Text);
    }
    // A bootloader's ID carries no release.
    FirmwareVersion release{0, 0, 3, 1, L"00.31"};
    EXPECT_RESULT_EQ(LUpdateEngine::ReadFirmwareRelease("USB\\VID_0483&PID_DF11&REV_2200", true, release), ZT::S_FALSE);
    EXPECT_TRUE(release.HasSameNumberAs({}));
    EXPECT_TRUE(release.Text.IsEmpty());
}

// ---- Scans ---------------------------------------------------------------------------------------

class DiscoveryTest : public EngineFixture {
protected:
    // The engine set up for definitions without the dual updater's choice.
    void Define(std::initializer_list<LUpdateEngineInterface::DeviceDefinition> definitions)
    {
        ASSERT_RESULT_EQ(mEngine->SetDeviceDefinitions(LUpdateEngineInterface::DeviceDefinitions(definitions)),
                         ZT::S_OK);
    }
    LUpdateEngine::DeviceDefinitionEx Found(std::uint32_t index)
    {
        LUpdateEngine::DeviceDefinitionEx record;
        EXPECT_TRUE(mEngine->GetFoundDevice(index, record));
        return record;
    }
};

TEST_F(DiscoveryTest, KeepsTheFirstMatchOfEachDefinitionInDefinitionOrderUntilAListingFails)
{
    auto first = AddController(0x0030);
    AddController(0x0031);
    auto bootloader = mSimulator->AddDevice(SimulatedDeviceKind::WheelDisplay, std::nullopt);
    AddDisplay(0x0050);
    Define({kWheelDisplayDevice.GetDeviceDefinition(), kControllerDevice.GetDeviceDefinition()});

    ASSERT_RESULT_EQ(mEngine->ScanDevices(), ZT::S_OK);
    ASSERT_EQ(mEngine->GetFoundDeviceCount(), 2u);
    // The display's definition also matches the bootloader, which comes first on the bus: a
    // device in update mode.
    const auto display = Found(0);
    EXPECT_TRUE(display.InUpdateMode);
    EXPECT_TRUE(mEngine->IsDeviceInUpdateMode(0));
    EXPECT_EQ(display.UpdateModePath, ZT::WString(bootloader->GetUsbInfo()->path.c_str()));
    EXPECT_TRUE(display.NormalModePath.IsEmpty());
    EXPECT_TRUE(display.FirmwareRelease.Text.IsEmpty());
    // Of the two controllers the first listed.
    const auto controller = Found(1);
    EXPECT_FALSE(controller.InUpdateMode);
    EXPECT_EQ(controller.NormalModePath, ZT::WString(first->GetUsbInfo()->path.c_str()));
    EXPECT_EQ(controller.FirmwareRelease.Text, ZT::WString(L"00.30"));
    EXPECT_EQ(controller.ErrorReason, DeviceErrorReason::NoReason);
    // The MIDI port names come from the dual updater, which does not exist yet.
    EXPECT_TRUE(controller.MidiPortName.IsEmpty());

    LUpdateEngineInterface::DeviceDefinitions definitions;
    ASSERT_RESULT_EQ(mEngine->GetFoundDevices(definitions), ZT::S_OK);
    ASSERT_EQ(definitions.GetCount(), 2u);
    EXPECT_EQ(UsbId(definitions[1].ProductId), UsbId(0x8010));
    FirmwareVersion version;
    EXPECT_RESULT_EQ(mEngine->GetDeviceVersion(2, version), ZT::E_FAIL);
    EXPECT_FALSE(mEngine->IsDeviceInUpdateMode(2));

    // A listing that fails leaves nothing found.
    mSimulator->SetEnumerationFails(true);
    EXPECT_RESULT_EQ(mEngine->ScanDevices(), ZT::E_FAIL);
    EXPECT_EQ(mEngine->GetFoundDeviceCount(), 0u);
}

// ---- The switch into update mode ---------------------------------------------------------------

class ModeSwitchTest : public EngineFixture {
protected:
    // The pair with the controller at 00.30, scanned: the controller is selected in normal mode.
    void ScanPair()
    {
        mController = AddController(0x0030);
        mDisplay = AddDisplay(0x0050);
        ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
        ASSERT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceNotInUpdateMode);
        (void)TakeStateChanges();
    }
    void SetBootloaderAppearMs(std::uint32_t ms)
    {
        auto timings = mController->GetTimings();
        timings.bootloaderAppearMs = ms;
        mController->SetTimings(timings);
    }
    std::uint32_t SelectedErrorReason()
    {
        std::uint32_t reason = 0;
        EXPECT_RESULT_EQ(mEngine->GetDeviceErrorReason(reason), ZT::S_OK);
        return reason;
    }

    ZT::RCPtr<LSimulatedDevice> mController;
    ZT::RCPtr<LSimulatedDevice> mDisplay;
};

// The done-when of the engine: scan the pair, let the dual updater choose, switch the chosen
// device into update mode and find its bootloader.
TEST_F(ModeSwitchTest, ScansThePairPicksTheControllerAndFindsItsBootloader)
{
    ScanPair(); // the dual updater's choice for each pair: DualUpdaterTarget
    EXPECT_TRUE(mEngine->IsUpdateNeeded());

    ASSERT_RESULT_EQ(mEngine->RequestUpdateMode(), ZT::S_OK); // when it is found: ModeSwitchTiming
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceInUpdateMode);

    LUpdateEngine::DeviceDefinitionEx record;
    ASSERT_TRUE(mEngine->GetFoundDevice(0, record));
    EXPECT_TRUE(record.InUpdateMode);
    EXPECT_EQ(record.UpdateModePath, ZT::WString(mController->GetUsbInfo()->path.c_str()));
    EXPECT_EQ(mDisplay->GetMode(), SimulatedDeviceMode::Application);
    // Still needed: a bootloader's release is unknown, and the record keeps the one it had.
    EXPECT_TRUE(mEngine->IsUpdateNeeded());

    // A second request finds the device already there.
    EXPECT_RESULT_EQ(mEngine->RequestUpdateMode(), ZT::S_FALSE);
}

struct TimingCase {
    std::uint32_t bootloaderAppearMs;
    bool found;
    std::uint64_t elapsedMs;
};

void PrintTo(const TimingCase& c, std::ostream* out) { *out << "bootloader after " << c.bootloaderAppearMs << " ms"; }

class ModeSwitchTiming : public ModeSwitchTest, public ::testing::WithParamInterface<TimingCase> {};

// Searches at 1.0 s and every 500 ms after, the last at 10.5 s; giving up at 11 s.
TEST_P(ModeSwitchTiming, SearchesAfterOneSecondThenEveryHalfSecondForTenSeconds)
{
    const TimingCase& c = GetParam();
    ScanPair();
    SetBootloaderAppearMs(c.bootloaderAppearMs);

    const std::uint64_t start = mClock.NowMs();
    const ZT::ZTRESULT result = mEngine->RequestUpdateMode();
    EXPECT_EQ(mClock.NowMs() - start, c.elapsedMs);
    if (c.found) {
        EXPECT_RESULT_EQ(result, ZT::S_OK);
        EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceInUpdateMode);
        EXPECT_EQ(TakeStateChanges(),
                  (std::vector<StateChange>{{DeviceState::EnteringUpdateMode, DeviceState::DeviceNotInUpdateMode},
                                            {DeviceState::DeviceInUpdateMode, DeviceState::EnteringUpdateMode}}));
        return;
    }
    EXPECT_RESULT_EQ(result, ZT::E_FAIL);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceCannotBeUpdated);
    EXPECT_EQ(SelectedErrorReason(), static_cast<std::uint32_t>(DeviceErrorReason::DeviceAccessFailure));
    EXPECT_EQ(mEngine->GetUpdateRunState(false), UpdateRunState::Idle);
    EXPECT_EQ(TakeStateChanges(),
              (std::vector<StateChange>{{DeviceState::EnteringUpdateMode, DeviceState::DeviceNotInUpdateMode},
                                        {DeviceState::DeviceCannotBeUpdated, DeviceState::EnteringUpdateMode}}));
}

INSTANTIATE_TEST_SUITE_P(Times, ModeSwitchTiming,
                         ::testing::Values(TimingCase{500, true, 1000}, TimingCase{1001, true, 1500},
                                           TimingCase{10400, true, 10500}, TimingCase{10600, false, 11000}));

TEST_F(ModeSwitchTest, CancelFromAnotherThreadEndsTheSwitchAtTheNextCheck)
{
    ScanPair();
    SetBootloaderAppearMs(8000);
    const std::uint64_t start = mClock.NowMs();
    ZT::Event reached(false);
    ZT::Event resume(false);
    mClock.mAfterSleep = [&](std::uint64_t now) {
        // Once, at 3 s, between two searches: hold the switch until the other thread has cancelled.
        if (now - start >= 3000 && !reached.IsSet()) {
            reached.Set();
            (void)resume.Wait(ZT::kInfinite);
        }
    };
    ZT::ZTRESULT cancelResult = ZT::S_FALSE;
    std::thread canceller([&] {
        (void)reached.Wait(ZT::kInfinite);
        cancelResult = mEngine->CancelUpdate();
        resume.Set();
    });

    const ZT::ZTRESULT result = mEngine->RequestUpdateMode();
    reached.Set(); // a switch that ended before 3 s must not leave the other thread waiting
    canceller.join();
    mClock.mAfterSleep = nullptr;
    EXPECT_RESULT_EQ(cancelResult, ZT::S_OK);
    EXPECT_RESULT_EQ(result, ZT::E_ABORT);
    EXPECT_EQ(mClock.NowMs() - start, 3000u);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceCannotBeUpdated);
    EXPECT_EQ(mEngine->GetUpdateRunState(true), UpdateRunState::Cancelled);
    EXPECT_EQ(mEngine->GetUpdateRunState(true), UpdateRunState::Idle);
    // A cancel is not a device fault.
    EXPECT_EQ(SelectedErrorReason(), static_cast<std::uint32_t>(DeviceErrorReason::NoReason));
}

TEST_F(ModeSwitchTest, TheSwitchIsRefusedOutsideNormalModeAndACancelOutsideTheSwitchAndTheDownload)
{
    ScanPair();
    mEngine->SetDeviceState(DeviceState::DevicesAvailableNoneSelected);
    (void)TakeStateChanges();
    EXPECT_RESULT_EQ(mEngine->RequestUpdateMode(), ZT::E_FAIL);
    EXPECT_TRUE(TakeStateChanges().empty());
    EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Application);

    ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    ASSERT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceNotInUpdateMode);
    EXPECT_RESULT_EQ(mEngine->CancelUpdate(), ZT::E_FAIL);
    // The refused cancel left nothing behind for the switch to trip over.
    EXPECT_RESULT_EQ(mEngine->RequestUpdateMode(), ZT::S_OK);
    EXPECT_RESULT_EQ(mEngine->CancelUpdate(), ZT::E_FAIL);
}

// The controller without a MIDI port of its own, the wheel display with its "... WD" port: the
// message must not go to the display, whose name contains the controller's.
TEST_F(ModeSwitchTest, AControllerWithoutItsOwnMidiPortFailsAtOnceAndTheDisplayIsNotTouched)
{
    ScanPair();
    auto faults = mController->GetFaults();
    faults.noMidiPort = true;
    mController->SetFaults(faults);
    const std::vector<std::uint8_t> displayFlash = mDisplay->GetFlashDump();

    const std::uint64_t start = mClock.NowMs();
    EXPECT_RESULT_EQ(mEngine->RequestUpdateMode(), ZT::E_INVALIDARG);
    EXPECT_EQ(mClock.NowMs(), start);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceCannotBeUpdated);
    EXPECT_EQ(SelectedErrorReason(), static_cast<std::uint32_t>(DeviceErrorReason::DeviceAccessFailure));
    EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Application);
    // The download cannot start after the failed switch, so nothing reaches either device.
    EXPECT_RESULT_EQ(mEngine->StartUpdate(), ZT::E_FAIL);
    mClock.AdvanceMs(5000);
    EXPECT_EQ(mDisplay->GetMode(), SimulatedDeviceMode::Application) << "the message restarted the wheel display";
    EXPECT_TRUE(mDisplay->GetRequestLog().empty()) << mDisplay->GetRequestLog().size() << " DFU requests to the display";
    EXPECT_TRUE(mDisplay->GetFlashDump() == displayFlash) << "the wheel display's flash changed";
}

// A bootloader counts only when it appears after the message while the device leaves. Each
// case leaves a bootloader on the bus that is not the controller's; none may be taken.
TEST_F(ModeSwitchTest, ABootloaderThatWasThereBeforeOrADeviceThatStaysIsAFailureWithNoDfuRequest)
{
    struct Case {
        const char* what;
        bool strayBeforeMessage; // else it appears 2 s after the message
        bool controllerStays;    // the controller ignores the message (else it leaves for good)
    };
    const Case cases[] = {
        {"a bootloader present before the message, the controller leaves", true, false},
        {"a bootloader present before the message, the controller stays", true, true},
        {"a bootloader appears after the message, but the controller stays", false, true},
    };
    ScanPair();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A fresh switch for each case: the controller back in normal mode, freshly scanned.
        auto faults = mController->GetFaults();
        faults.ignoresUpdateModeRequest = c.controllerStays;
        faults.bootloaderNeverAppears = !c.controllerStays;
        mController->SetFaults(faults);
        if (mController->GetMode() != SimulatedDeviceMode::Application) {
            mController->Unplug();
            mController->Plug();
            mClock.AdvanceMs(5000);
        }
        ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
        // Plugged after the scan, so the dual updater saw the pair alone; the switch lists the
        // bus again just before its message.
        ZT::RCPtr<LSimulatedDevice> stray;
        if (c.strayBeforeMessage)
            stray = mSimulator->AddDevice(SimulatedDeviceKind::WheelDisplay, std::nullopt);
        ASSERT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceNotInUpdateMode);
        const std::uint64_t start = mClock.NowMs();
        mClock.mAfterSleep = [&](std::uint64_t now) {
            if (!stray && now - start >= 2000)
                stray = mSimulator->AddDevice(SimulatedDeviceKind::WheelDisplay, std::nullopt);
        };

        EXPECT_RESULT_EQ(mEngine->RequestUpdateMode(), ZT::E_FAIL);
        mClock.mAfterSleep = nullptr;
        EXPECT_EQ(mClock.NowMs() - start, 11000u);
        EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceCannotBeUpdated);
        EXPECT_EQ(SelectedErrorReason(), static_cast<std::uint32_t>(DeviceErrorReason::DeviceAccessFailure));
        LUpdateEngine::DeviceDefinitionEx record;
        ASSERT_TRUE(mEngine->GetFoundDevice(0, record));
        EXPECT_TRUE(record.UpdateModePath.IsEmpty()) << "took " << record.UpdateModePath.ToUTF8();
        EXPECT_RESULT_EQ(mEngine->StartUpdate(), ZT::E_FAIL);
        ASSERT_TRUE(stray);
        EXPECT_TRUE(stray->GetRequestLog().empty()) << stray->GetRequestLog().size() << " DFU requests to the stray";
        stray->Unplug();
        stray = nullptr;
    }
}

// A switch that found the bootloader leaves its path in the record; once the device is back in
// normal mode that path is stale (a new enumeration may give it to another device) and a later
// switch must find a bootloader of its own.
TEST_F(ModeSwitchTest, ABootloaderPathOfAnEarlierSwitchIsNeverTakenAgain)
{
    ScanPair();
    ASSERT_RESULT_EQ(mEngine->RequestUpdateMode(), ZT::S_OK);
    LUpdateEngine::DeviceDefinitionEx record;
    ASSERT_TRUE(mEngine->GetFoundDevice(0, record));
    ASSERT_FALSE(record.UpdateModePath.IsEmpty());

    // Power-cycled, the controller starts its intact application again.
    mController->Unplug();
    mController->Plug();
    mClock.AdvanceMs(5000);
    ASSERT_EQ(mController->GetMode(), SimulatedDeviceMode::Application);
    ASSERT_RESULT_EQ(mEngine->RefreshDevice(), ZT::S_OK);
    ASSERT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceNotInUpdateMode);
    ASSERT_TRUE(mEngine->GetFoundDevice(0, record));
    EXPECT_TRUE(record.UpdateModePath.IsEmpty()) << "kept " << record.UpdateModePath.ToUTF8();

    auto faults = mController->GetFaults();
    faults.bootloaderNeverAppears = true;
    mController->SetFaults(faults);
    EXPECT_RESULT_EQ(mEngine->RequestUpdateMode(), ZT::E_FAIL);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceCannotBeUpdated);
}

TEST_F(ModeSwitchTest, AMessageThatNeverCompletesFailsAfterTheMidiTimeout)
{
    ScanPair();
    auto faults = mController->GetFaults();
    faults.midiSendNeverCompletes = true;
    mController->SetFaults(faults);

    const std::uint64_t start = mClock.NowMs();
    EXPECT_RESULT_EQ(mEngine->RequestUpdateMode(), ZT::E_FAIL);
    EXPECT_EQ(mClock.NowMs() - start, ZT::kMidiSendCompletionTimeoutMs);
    EXPECT_EQ(SelectedErrorReason(), static_cast<std::uint32_t>(DeviceErrorReason::DeviceAccessFailure));
}

TEST_F(ModeSwitchTest, RefreshFindsTheDeviceAgainAndNeedsASelection)
{
    ScanPair();
    ASSERT_RESULT_EQ(mEngine->RequestUpdateMode(), ZT::S_OK);
    (void)TakeStateChanges();

    ASSERT_RESULT_EQ(mEngine->RefreshDevice(), ZT::S_OK);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceInUpdateMode);
    // A device gone, and one back in normal mode: DfuSeDownload's run and DfuSeLateReturn.
    mEngine->SetDeviceState(DeviceState::DevicesAvailableNoneSelected);
    EXPECT_RESULT_EQ(mEngine->RefreshDevice(), ZT::E_FAIL);
}

} // namespace
