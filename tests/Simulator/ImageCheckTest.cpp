// What a simulated device starts at power-up (a leave, a plug, a power cycle) after a download:
// its bootloader checks the image's length and checksum, so a cut download never runs and never
// reports the new version; without that check (noImageCheck) a broken image runs and the device
// is gone from the bus.

#include "SimulatorTestSupport.h"


namespace {

using namespace SimTest;
using F = SimulatedDeviceFaults;

constexpr std::uint16_t kNewRelease = 0x0032;
constexpr std::size_t kBlocks = 48;

class ImageCheck : public SimulatorTest {
protected:
    // A 48-block controller image, its last block short, as the product's builds are.
    const std::vector<std::uint8_t> mImage = MakeImage(kBlocks * kBlockSize - 1000, kNewRelease);

    // Erases the application's three sectors and writes the first `blocks` blocks of mImage.
    ::testing::AssertionResult Download(DfuHost& host, std::size_t blocks)
    {
        for (const std::uint32_t sector : {0x08008000u, 0x0800C000u, 0x08010000u}) {
            if (auto erased = host.EraseSector(sector); !erased)
                return erased;
        }
        if (auto pointed = host.SetAddress(kApplicationStartAddress); !pointed)
            return pointed;
        const std::span<const std::uint8_t> image(mImage);
        for (std::size_t i = 0; i < blocks; ++i) {
            const std::size_t offset = i * kBlockSize;
            const auto block = image.subspan(offset, std::min<std::size_t>(kBlockSize, image.size() - offset));
            if (auto written = host.WriteBlock(static_cast<std::uint16_t>(i + 2), block); !written)
                return written;
        }
        return ::testing::AssertionSuccess();
    }

    // The zero-length DNLOAD and the status request that completes it; the device then resets.
    void Leave(DfuHost& host)
    {
        ASSERT_TRUE(host.Leave());
        (void)host.GetStatus();
        mClock.AdvanceMs(1200);
    }

    std::string Where()
    {
        return std::string(SimulatedDeviceModeName(mController->GetMode()));
    }
};

TEST_F(ImageCheck, ACompleteDownloadBootsWithTheNewVersion)
{
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(Download(host, kBlocks));
    Leave(host);
    const auto application = Find(0x2C1A, 0x8010);
    ASSERT_TRUE(application) << "the device is " << Where();
    EXPECT_EQ(application->releaseNumber, kNewRelease);
    EXPECT_EQ(mController->GetFlashReleaseNumber(), std::optional<std::uint16_t>(kNewRelease));
}

// Whatever ends the download early (the cable, the power, a host that leaves after a cancel),
// the next power-up finds a version record whose checksum the flash does not match.
TEST_F(ImageCheck, ACutDownloadStaysInTheBootloaderAndReportsNoNewVersion)
{
    enum class Cut { PlugInAgain, PowerCycle, Leave }; // what ends the session; the device then powers up
    struct Case {
        const char* what;
        SimulatedDeviceFaults faults;
        std::size_t blocks; // written before the cut
        Cut cut;
    };
    const std::vector<Case> cases{
        {"unplugged while sending block 5", Fault(&F::unplugAfterBlocks, 5u), kBlocks, Cut::PlugInAgain},
        {"power cycle after 5 blocks", {}, 5, Cut::PowerCycle},
        {"leave after 4 blocks (a cancel)", {}, 4, Cut::Leave},
        {"leave after all but the last block", {}, kBlocks - 1, Cut::Leave},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        mController->SetFaults(c.faults);
        DfuHost host = EnterBootloader();
        const ::testing::AssertionResult written = Download(host, c.blocks);
        EXPECT_EQ(static_cast<bool>(written), !c.faults.unplugAfterBlocks) << written.message();
        switch (c.cut) {
        case Cut::PowerCycle:
            mController->Unplug();
            [[fallthrough]];
        case Cut::PlugInAgain:
            mController->Plug();
            break;
        case Cut::Leave:
            Leave(host);
            break;
        }

        EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Bootloader) << "the device is " << Where();
        EXPECT_TRUE(FindBootloader());
        EXPECT_FALSE(Find(0x2C1A, 0x8010)) << "a cut image must not run";
        EXPECT_EQ(mController->GetFlashReleaseNumber(), std::nullopt) << "no version may be reported";
        EXPECT_EQ(mController->GetDfuState(), std::optional<ZT::DfuState>(ZT::DfuState::DfuIdle))
            << "a power-up starts afresh";

        // The next run repairs it: a complete download boots.
        mController->SetFaults({});
        mController->Unplug();
        mController->Plug();
        DfuHost again = EnterBootloaderDirectly();
        ASSERT_TRUE(Download(again, kBlocks));
        Leave(again);
        ASSERT_EQ(mController->GetMode(), SimulatedDeviceMode::Application);

        // Back to the old version for the next case.
        ASSERT_TRUE(mController->ProgramFlash(kApplicationStartAddress, MakeImage(0x10000, 0x0031)));
        mController->Unplug();
        mController->Plug();
    }
}

TEST_F(ImageCheck, WithoutTheCheckABrokenImageRunsAndTheDeviceNeverEnumerates)
{
    mController->SetFaults(Fault(&F::noImageCheck, true));
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(Download(host, 5));
    Leave(host);
    EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::RunningBrokenImage);
    EXPECT_FALSE(FindBootloader()) << "the device is " << Where();
    EXPECT_FALSE(Find(0x2C1A, 0x8010));

    // Plugged in again it runs the same image and stays gone, however long one waits.
    mController->Unplug();
    mController->Plug();
    mClock.AdvanceMs(60000);
    EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::RunningBrokenImage);
    EXPECT_EQ(List().size(), 1u) << "only the wheel display may be on the bus";

    // A bootloader that checks finds itself again at the next power-up.
    mController->SetFaults({});
    mController->Unplug();
    mController->Plug();
    EXPECT_TRUE(FindBootloader()) << "the device is " << Where();
}

TEST_F(ImageCheck, WithoutTheCheckAnErasedApplicationStillKeepsTheBootloader)
{
    mController->SetFaults(Fault(&F::noImageCheck, true));
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(Download(host, 0)); // erased, nothing written: the first word reads 0xFFFFFFFF
    Leave(host);
    EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Bootloader) << "the device is " << Where();

    // A valid image starts with the fault as without it.
    DfuHost again = EnterBootloaderDirectly();
    ASSERT_TRUE(Download(again, kBlocks));
    Leave(again);
    EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Application);
}

} // namespace
