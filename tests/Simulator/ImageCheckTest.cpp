// What a simulated device starts at power-up (a leave, a plug, a power cycle) after a download.
// Its boot code trusts the image's first word: a plausible stack pointer there starts the image,
// whole or not (a half image crashes and the device is gone from the bus), an erased word keeps
// the bootloader. With the checksImage option it also checks the image's length and checksum, so
// a cut download never runs and never reports the new version.

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

    // Erases the application's three sectors and writes blocks `first` to `blocks` - 1 of mImage.
    ::testing::AssertionResult Download(DfuHost& host, std::size_t blocks, std::size_t first = 0)
    {
        for (const std::uint32_t sector : {0x08008000u, 0x0800C000u, 0x08010000u}) {
            if (auto erased = host.EraseSector(sector); !erased)
                return erased;
        }
        const std::uint32_t base = kApplicationStartAddress + static_cast<std::uint32_t>(first * kBlockSize);
        if (auto pointed = host.SetAddress(base); !pointed)
            return pointed;
        const std::span<const std::uint8_t> image(mImage);
        for (std::size_t i = first; i < blocks; ++i) {
            const std::size_t offset = i * kBlockSize;
            const auto block = image.subspan(offset, std::min<std::size_t>(kBlockSize, image.size() - offset));
            if (auto written = host.WriteBlock(static_cast<std::uint16_t>(i - first + 2), block); !written)
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
// a boot code that checks the image finds a version record whose checksum the flash does not
// match. (These downloads write the first block first: without the check every one would start.)
TEST_F(ImageCheck, WithTheCheckACutDownloadStaysInTheBootloaderAndReportsNoNewVersion)
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
        mController->SetFaults(Fault(&F::checksImage, true, c.faults));
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
        mController->SetFaults(Fault(&F::checksImage, true));
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

// By default a cut download that has written the image's first block starts: it crashes, and
// the device is gone from the bus at every power-up until the boot code checks the image.
TEST_F(ImageCheck, ABrokenImageWithAStackPointerRunsAndTheDeviceNeverEnumerates)
{
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

    // A boot code that checks finds its bootloader again at the next power-up.
    mController->SetFaults(Fault(&F::checksImage, true));
    mController->Unplug();
    mController->Plug();
    EXPECT_TRUE(FindBootloader()) << "the device is " << Where();
}

// The first word decides, not the rest: erased, or no RAM address, and the bootloader stays.
TEST_F(ImageCheck, AnErasedOrImplausibleFirstWordKeepsTheBootloader)
{
    {
        SCOPED_TRACE("everything but the first block written");
        DfuHost host = EnterBootloader();
        ASSERT_TRUE(Download(host, kBlocks, 1));
        Leave(host);
        EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Bootloader) << "the device is " << Where();
    }
    {
        SCOPED_TRACE("an image whose first word 0x0800C000 is a flash address");
        ASSERT_TRUE(mController->ProgramFlash(kApplicationStartAddress, MakeImage(0x10000, 0x0031)));
        mController->Unplug();
        mController->Plug();
        ASSERT_EQ(mController->GetMode(), SimulatedDeviceMode::Application);
        DfuHost host = EnterBootloader();
        std::vector<std::uint8_t> image = MakeImage(4 * kBlockSize, kNewRelease);
        const std::vector<std::uint8_t> flashAddress{0x00, 0xC0, 0x00, 0x08};
        std::copy(flashAddress.begin(), flashAddress.end(), image.begin());
        ASSERT_TRUE(host.EraseSector(0x08008000));
        ASSERT_TRUE(host.WriteElement(kApplicationStartAddress, image));
        Leave(host);
        // With a stack pointer there this image would start and crash: only the word differs.
        EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Bootloader) << "the device is " << Where();
    }

    // The whole image starts, its stack pointer and checksum both right.
    DfuHost again = EnterBootloaderDirectly();
    ASSERT_TRUE(Download(again, kBlocks));
    Leave(again);
    EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Application);
}

} // namespace
