// The fault point (SimulatedDeviceFaults::at): each kind where it hits, through a USB connection
// and the MIDI port as the engine uses them. The engine's answers to them are the fault matrix's
// (test_fault_matrix); here, what the device itself does.

#include "SimulatorTestSupport.h"

namespace {

using namespace SimTest;
using Phase = SimulatedFaultPhase;
using Kind = SimulatedFaultKind;

constexpr std::uint8_t kDnbusy = static_cast<std::uint8_t>(ZT::DfuState::DfuDnbusy);
constexpr std::uint8_t kDnloadIdle = static_cast<std::uint8_t>(ZT::DfuState::DfuDnloadIdle);
constexpr std::uint8_t kError = static_cast<std::uint8_t>(ZT::DfuState::DfuError);
constexpr std::uint8_t kIdle = static_cast<std::uint8_t>(ZT::DfuState::DfuIdle);
constexpr std::uint8_t kManifest = static_cast<std::uint8_t>(ZT::DfuState::DfuManifest);

SimulatedDeviceFaults At(Phase phase, Kind kind, std::uint32_t index = 0)
{
    SimulatedDeviceFaults faults;
    faults.at = SimulatedFaultAt{phase, kind, index};
    return faults;
}

class FaultPoint : public SimulatorTest {
protected:
    std::vector<std::uint8_t> Flash(std::uint32_t address, std::size_t length)
    {
        return mController->ReadFlash(address, length).value_or(std::vector<std::uint8_t>{});
    }
    static bool Erased(const std::vector<std::uint8_t>& bytes)
    {
        return !bytes.empty() && std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; });
    }
};

// The request number counts within the session: the first erase goes through, the second fails
// with its step's error and leaves its sector as it was; a failed block or set-address likewise.
TEST_F(FaultPoint, AnErrorStatusFailsOnlyTheRequestItIsAddressedToAndChangesNothing)
{
    const std::vector<std::uint8_t> factory = Flash(kApplicationStartAddress, 0x10000);
    struct Row {
        const char* what;
        Phase phase;
        std::uint8_t expectedStatus;
    };
    for (const Row row : {Row{"second erase", Phase::Erase, static_cast<std::uint8_t>(ZT::DfuStatus::ErrErase)},
                          Row{"second set-address", Phase::SetAddress, static_cast<std::uint8_t>(ZT::DfuStatus::ErrAddress)},
                          Row{"second data block", Phase::DataBlock, static_cast<std::uint8_t>(ZT::DfuStatus::ErrWrite)}}) {
        SCOPED_TRACE(row.what);
        mController->SetFaults(At(row.phase, Kind::ErrorStatus, 1));
        DfuHost host = EnterBootloader();
        const std::uint32_t hits = mController->GetFaultHits();
        const std::vector<std::uint8_t> before = Flash(0x0800C000, kBlockSize);
        ASSERT_FALSE(Erased(before)) << "the factory image does not reach 0x0800C000";
        // Request number 0 of each phase, which goes well.
        ASSERT_TRUE(host.EraseSector(0x08008000));
        ASSERT_TRUE(host.SetAddress(0x08008000));
        ASSERT_TRUE(host.WriteBlock(2, MakeImage(kBlockSize, std::nullopt)));

        // Request number 1 of the phase at fault.
        if (row.phase == Phase::Erase)
            ASSERT_TRUE(host.Download(0, DfuHost::Command(ZT::kDfuSeCommandErase, 0x0800C000)));
        else if (row.phase == Phase::SetAddress)
            ASSERT_TRUE(host.Download(0, DfuHost::Command(ZT::kDfuSeCommandSetAddress, 0x0800C000)));
        else
            ASSERT_TRUE(host.Download(3, MakeImage(kBlockSize, std::nullopt, 9)));
        const auto busy = host.GetStatus();
        ASSERT_TRUE(busy);
        EXPECT_EQ(busy->state, kDnbusy);
        const auto outcome = host.GetStatus();
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->state, kError) << "the operation at fault did not fail";
        EXPECT_EQ(mController->GetFaultHits(), hits + 1) << "the fault's acts are not counted once each";
        EXPECT_EQ(outcome->status, row.expectedStatus);
        if (row.phase == Phase::Erase) {
            EXPECT_EQ(Flash(0x0800C000, kBlockSize), before) << "the failed erase erased its sector";
        }
        if (row.phase == Phase::DataBlock) {
            EXPECT_TRUE(Erased(Flash(0x08008800, kBlockSize))) << "the failed block was programmed";
        }
        if (row.phase == Phase::SetAddress) {
            // The pointer stayed at 0x08008000: a block written after clearing lands there.
            ASSERT_TRUE(host.ClearStatus());
            ASSERT_TRUE(host.Download(0, DfuHost::Command(ZT::kDfuSeCommandErase, 0x08010000)));
            ASSERT_TRUE(host.GetStatus());
            ASSERT_TRUE(host.GetStatus());
            EXPECT_FALSE(host.WriteBlock(2, MakeImage(kBlockSize, std::nullopt)))
                << "block 2 was programmed twice without an error: the failed set-address moved the pointer";
        }
        // The factory image back, for the next row's switch into update mode.
        mController->Unplug();
        ASSERT_TRUE(mController->ProgramFlash(kApplicationStartAddress, factory));
        mController->Plug();
    }
}

// BusyTooLong: dfuDNBUSY from the first status request on, for busyTooLongMs, then the outcome
// as the flash allows it: the block is written after all.
TEST_F(FaultPoint, BusyTooLongAnswersBusyPastAnyHostsPatienceThenEndsWell)
{
    mController->SetFaults(At(Phase::DataBlock, Kind::BusyTooLong, 0));
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.EraseSector(0x08008000));
    ASSERT_TRUE(host.SetAddress(0x08008000));
    ASSERT_TRUE(host.Download(2, MakeImage(kBlockSize, std::nullopt)));
    const std::uint64_t started = mClock.NowMs();
    const auto first = host.GetStatus();
    ASSERT_TRUE(first);
    EXPECT_EQ(mClock.NowMs(), started) << "the first status request was held back";
    EXPECT_EQ(first->state, kDnbusy);
    const std::uint32_t busyMs = SimulatedDeviceTimings{}.busyTooLongMs;
    mClock.AdvanceMs(busyMs - 1);
    const auto still = host.GetStatus();
    ASSERT_TRUE(still);
    EXPECT_EQ(still->state, kDnbusy) << "it ended before busyTooLongMs";
    EXPECT_TRUE(Erased(Flash(0x08008000, kBlockSize))) << "the block was written while the device said busy";
    mClock.AdvanceMs(1);
    const auto done = host.GetStatus();
    ASSERT_TRUE(done);
    EXPECT_EQ(done->state, kDnloadIdle);
    EXPECT_EQ(Flash(0x08008000, kBlockSize), MakeImage(kBlockSize, std::nullopt));
}

// PowerCut: the request is lost, the device leaves the bus and powers up a restart time later by
// its image's first word, here erased: back as its bootloader, in dfuIDLE, the block not written.
// At the mode-switch message the image is whole: it comes back in its application.
TEST_F(FaultPoint, APowerCutLosesTheRequestAndTheDeviceBootsByItsFirstWord)
{
    mController->SetFaults(At(Phase::DataBlock, Kind::PowerCut, 0));
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.EraseSector(0x08008000));
    ASSERT_TRUE(host.SetAddress(0x08008000));
    EXPECT_FALSE(host.Download(2, MakeImage(kBlockSize, std::nullopt)));
    EXPECT_EQ(host.Connection().GetLastError(), ZT::UsbError::NoDevice);
    EXPECT_FALSE(FindBootloader()) << "still on the bus after its power was cut";
    mClock.AdvanceMs(SimulatedDeviceTimings{}.returnMs);
    EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Bootloader) << SimulatedDeviceModeName(mController->GetMode());
    EXPECT_EQ(mController->GetDfuState(), std::optional<ZT::DfuState>(ZT::DfuState::DfuIdle));
    EXPECT_TRUE(Erased(Flash(0x08008000, kBlockSize))) << "the lost block was programmed";

    mController->SetFaults(At(Phase::ModeSwitch, Kind::PowerCut));
    mController->Unplug();
    ASSERT_TRUE(mController->ProgramFlash(kApplicationStartAddress, MakeImage(0x1000, 0x0031)));
    mController->Plug();
    ASSERT_EQ(mController->GetMode(), SimulatedDeviceMode::Application);
    EXPECT_EQ(SendUpdateModeRequest("Halvard XR4000 NOVA"), 10);
    mClock.AdvanceMs(SimulatedDeviceTimings{}.returnMs);
    EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Application) << SimulatedDeviceModeName(mController->GetMode());
    EXPECT_FALSE(FindBootloader());
}

// The leave: an error status keeps the bootloader, in dfuERROR (errFIRMWARE); BusyTooLong keeps it
// on the bus in dfuMANIFEST for busyTooLongMs before it resets into the image.
TEST_F(FaultPoint, TheLeaveFailsOrManifestsOnTheBusForTooLong)
{
    for (const Kind kind : {Kind::ErrorStatus, Kind::BusyTooLong}) {
        SCOPED_TRACE(ToString(kind));
        mController->SetFaults(At(Phase::Leave, kind));
        DfuHost host = EnterBootloader();
        ASSERT_TRUE(host.EraseSector(0x08008000));
        ASSERT_TRUE(host.WriteElement(kApplicationStartAddress, MakeImage(0x1000, 0x0031)));
        ASSERT_TRUE(host.SetAddress(kApplicationStartAddress));
        ASSERT_TRUE(host.Leave());
        const auto status = host.GetStatus();
        ASSERT_TRUE(status);
        if (kind == Kind::ErrorStatus) {
            EXPECT_EQ(status->state, kError);
            EXPECT_EQ(status->status, static_cast<std::uint8_t>(ZT::DfuStatus::ErrFirmware));
            mClock.AdvanceMs(30000);
            EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Bootloader) << "a failed leave restarted the device";
        } else {
            EXPECT_EQ(status->state, kManifest);
            mClock.AdvanceMs(SimulatedDeviceTimings{}.busyTooLongMs - 1);
            EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Bootloader) << "it reset before busyTooLongMs";
            mClock.AdvanceMs(1 + SimulatedDeviceTimings{}.returnMs);
            EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Application)
                << SimulatedDeviceModeName(mController->GetMode());
        }
        mController->SetFaults({});
        mController->Unplug();
        mController->Plug();
    }
}

// The bootloader's start: it may answer nothing, start in dfuERROR, come late, or not at all. The
// idle check's faults hit only the first status request of a session.
TEST_F(FaultPoint, TheBootloaderStartsBrokenLateOrNotAndTheIdleCheckIsItsFirstStatusRequest)
{
    mController->SetFaults(At(Phase::BootloaderSearch, Kind::NoAnswer));
    {
        DfuHost host = EnterBootloader();
        EXPECT_FALSE(host.GetStatus());
        EXPECT_EQ(host.Connection().GetLastError(), ZT::UsbError::Timeout);
    }
    mController->SetFaults(At(Phase::BootloaderSearch, Kind::BusyTooLong));
    mController->Unplug();
    mController->Plug(); // the factory image: in its application again
    ASSERT_EQ(SendUpdateModeRequest("Halvard XR4000 NOVA"), 10);
    mClock.AdvanceMs(SimulatedDeviceTimings{}.slowReturnMs - 1);
    EXPECT_FALSE(FindBootloader()) << "a late bootloader came in time";
    mClock.AdvanceMs(1);
    EXPECT_TRUE(FindBootloader());

    mController->SetFaults(At(Phase::IdleCheck, Kind::Stall));
    mController->Unplug();
    mController->Plug();
    DfuHost host = EnterBootloader();
    EXPECT_FALSE(host.GetStatus()) << "the first status request was not stalled";
    const auto second = host.GetStatus();
    ASSERT_TRUE(second) << "the stall hit the second status request too";
    EXPECT_EQ(second->state, kError);
    EXPECT_EQ(second->status, static_cast<std::uint8_t>(ZT::DfuStatus::ErrStalledPkt));
    ASSERT_TRUE(host.ClearStatus());
    const auto idle = host.GetStatus();
    ASSERT_TRUE(idle);
    EXPECT_EQ(idle->state, kIdle);
}

} // namespace
