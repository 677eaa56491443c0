// The hold fault and the power cut: what a test that ends a run at one point of an update relies
// on. A held device keeps its state before it says that it holds, holds nothing else, and answers
// once the hold is over; a power cut leaves each device to its boot code and the image's first word.

#include "SimulatorTestSupport.h"

#include "Simulator/SimulatedDevicesSetup.h"
#include "Simulator/SimulatorStateFile.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"

#include <functional>
#include <string>
#include <vector>

namespace {

using namespace SimTest;
using Point = SimulatedDeviceHold::Point;

TEST(SimulatedDeviceHold, TheCommandLineNamesEachPointAndAnythingElseIsIgnored)
{
    struct Case {
        const char* text;
        std::optional<SimulatedDeviceHold> hold;
    };
    const Case cases[] = {
        {"update-mode-message", SimulatedDeviceHold{Point::UpdateModeMessage, 0}},
        {"Bootloader-Appearance", SimulatedDeviceHold{Point::BootloaderAppearance, 0}},
        {"first-request", SimulatedDeviceHold{Point::FirstRequest, 0}},
        {"erase:2", SimulatedDeviceHold{Point::Erase, 2}},
        {"block:150", SimulatedDeviceHold{Point::Block, 150}},
        {"set-address-after-blocks:48", SimulatedDeviceHold{Point::SetAddressAfterBlocks, 48}},
        {"leave", SimulatedDeviceHold{Point::Leave, 0}},
        {"RETURN", SimulatedDeviceHold{Point::Return, 0}},
        {"erase:", std::nullopt},
        {"block:-1", std::nullopt},
        {"block:1x", std::nullopt},
        {"block:99999999999", std::nullopt},
        {"leave:1", std::nullopt},
        {"", std::nullopt},
        {"nowhere", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto parsed = SimulatedDeviceHold::Parse(c.text);
        EXPECT_EQ(parsed.has_value(), c.hold.has_value()) << "\"" << c.text << "\"";
        if (parsed && c.hold) {
            EXPECT_TRUE(*parsed == *c.hold) << "\"" << c.text << "\" read as " << parsed->Describe();
        }
    }

    // On -SIMULATE_DEVICES a hold belongs to the device named, or to both.
    const auto setup = SimulatedDevicesSetup::Parse("00.30,00.49,display:hold=erase:3,hold,hold=,hold=block:x");
    ASSERT_TRUE(setup.Display.Faults.hold.has_value());
    EXPECT_TRUE(*setup.Display.Faults.hold == (SimulatedDeviceHold{Point::Erase, 3})) << setup.Display.Faults.hold->Describe();
    EXPECT_FALSE(setup.Controller.Faults.hold.has_value()) << "the controller was given the display's hold";
    EXPECT_EQ(setup.Unrecognised, (std::vector<std::string>{"hold", "hold=", "hold=block:x"}));
}

// What the hold hook saw: its text, the controller as the state file kept it at that moment, and
// the simulator's clock.
const char* PowerName(CSimulatorStateFile::Power power)
{
    switch (power) {
    case CSimulatorStateFile::Power::Running:
        return "Running";
    case CSimulatorStateFile::Power::Bootloader:
        return "Bootloader";
    case CSimulatorStateFile::Power::PoweredOff:
        return "PoweredOff";
    case CSimulatorStateFile::Power::RunningBrokenImage:
        return "RunningBrokenImage";
    }
    return "no power state";
}

struct HoldSeen {
    std::string Text;
    std::optional<CSimulatorStateFile::Device> Kept;
    std::uint64_t AtMs = 0;
};

class DeviceHold : public SimulatorTest {
protected:
    DeviceHold()
    {
        mSetup.InstallStateSaver(*mSimulator);
        mSimulator->SetHoldHook([this](const std::string& text) {
            HoldSeen seen{text, std::nullopt, mClock.NowMs()};
            std::string error;
            if (const auto kept = CSimulatorStateFile::Read(mPath, error))
                seen.Kept = kept->front();
            mHolds.push_back(std::move(seen));
        });
    }
    void Hold(SimulatedDeviceHold hold)
    {
        SimulatedDeviceFaults faults;
        faults.hold = hold;
        mController->SetFaults(faults);
    }
    // Erases the sectors of an image of `blocks` blocks at 0x08008000 and writes it as the engine
    // does: from the second block on, then set-address and the first block, then set-address.
    ::testing::AssertionResult WriteImage(DfuHost& host, std::size_t blocks)
    {
        const auto image = MakeImage(blocks * kBlockSize, 0x0032);
        auto result = host.EraseSector(0x08008000);
        if (result && blocks * kBlockSize > 0x4000)
            result = host.EraseSector(0x0800C000);
        if (result)
            result = host.SetAddress(0x08008000 + kBlockSize);
        for (std::size_t i = 1; result && i < blocks; ++i)
            result = host.WriteBlock(static_cast<std::uint16_t>(i + 1),
                                     std::span<const std::uint8_t>(image).subspan(i * kBlockSize, kBlockSize));
        if (result)
            result = host.SetAddress(0x08008000);
        if (result)
            result = host.WriteBlock(2, std::span<const std::uint8_t>(image).first(kBlockSize));
        if (result)
            result = host.SetAddress(0x08008000);
        return result;
    }

    ZT::Testing::TempFolder mTemp{"zt-simhold"};
    const std::string mPath = mTemp.File("devices.state");
    const SimulatedDevicesSetup mSetup = SimulatedDevicesSetup::Parse("state=" + mPath);
    std::vector<HoldSeen> mHolds;
};

// Every point of an update the hold can be put at, driven as the engine drives it: the hold is
// told once, with what it holds, after the state file has kept the device as it is there; the
// request waits for the whole hold and is then answered as it would have been.
TEST_F(DeviceHold, EachPointHoldsOnceKeepsTheDeviceFirstAndThenGoesOn)
{
    struct Case {
        const char* name;
        SimulatedDeviceHold hold;
        std::function<::testing::AssertionResult()> drive;
        const char* text;
        CSimulatorStateFile::Power kept;
        const char* keptDfuState; // with Power::Bootloader
    };
    const auto enterAndWrite = [this](std::size_t blocks) {
        return [this, blocks] {
            DfuHost host = EnterBootloader();
            return WriteImage(host, blocks);
        };
    };
    const std::vector<Case> cases{
        {"UpdateModeMessage", {Point::UpdateModeMessage, 0},
         [this] {
             return SendUpdateModeRequest("Halvard XR4000 NOVA") == 10 ? ::testing::AssertionSuccess()
                                                                              : ::testing::AssertionFailure() << "not sent";
         },
         "the controller holds the update-mode message, not acted on yet until the process ends",
         CSimulatorStateFile::Power::Running, ""},
        {"BootloaderAppearance", {Point::BootloaderAppearance, 0},
         [this] {
             if (SendUpdateModeRequest("Halvard XR4000 NOVA") != 10)
                 return ::testing::AssertionFailure() << "not sent";
             mClock.SleepMs(1500);
             if (FindBootloader())
                 return ::testing::AssertionFailure() << "the bootloader appeared during the hold";
             mClock.SleepMs(static_cast<std::uint32_t>(SimulatedDeviceHold::kHoldMs));
             return FindBootloader() ? ::testing::AssertionSuccess()
                                          : ::testing::AssertionFailure() << "no bootloader after the hold";
         },
         "the controller holds its bootloader's appearance after the update-mode message until the process ends",
         CSimulatorStateFile::Power::Bootloader, "dfuIDLE"},
        {"FirstRequest", {Point::FirstRequest, 0}, enterAndWrite(4),
         "the controller holds its bootloader's answer to the first request of the session until the process ends",
         CSimulatorStateFile::Power::Bootloader, "dfuIDLE"},
        {"SecondErase", {Point::Erase, 1}, enterAndWrite(9),
         "the controller holds its answer to the status request of erase 1 until the process ends",
         CSimulatorStateFile::Power::Bootloader, "dfuDNLOAD-IDLE"},
        {"ThirdBlock", {Point::Block, 2}, enterAndWrite(4),
         "the controller holds its answer to the status request of data block 2 until the process ends",
         CSimulatorStateFile::Power::Bootloader, "dfuDNLOAD-IDLE"},
        {"SetAddressAfterAllBlocks", {Point::SetAddressAfterBlocks, 4}, enterAndWrite(4),
         "the controller holds its answer to the status request of the set-address command after 4 data blocks "
         "until the process ends",
         CSimulatorStateFile::Power::Bootloader, "dfuDNLOAD-IDLE"},
        {"Leave", {Point::Leave, 0},
         [this] {
             DfuHost host = EnterBootloader();
             auto result = WriteImage(host, 4);
             if (result && (!host.Leave() || !host.GetStatus()))
                 return ::testing::AssertionFailure() << "the leave failed";
             return result;
         },
         "the controller holds its answer to the status request that completes the leave until the process ends",
         CSimulatorStateFile::Power::Bootloader, "dfuMANIFEST-SYNC"},
        {"Return", {Point::Return, 0},
         [this] {
             DfuHost host = EnterBootloader();
             auto result = WriteImage(host, 4);
             if (result && (!host.Leave() || !host.GetStatus()))
                 return ::testing::AssertionFailure() << "the leave failed";
             mClock.SleepMs(1200);
             if (Find(0x2C1A, 0x8010))
                 return ::testing::AssertionFailure() << "the controller returned during the hold";
             return result;
         },
         "the controller holds its return after the leave until the process ends", CSimulatorStateFile::Power::Running,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mController->Unplug();
        mController->Plug();
        mClock.SleepMs(10);
        mHolds.clear();
        Hold(c.hold);
        const std::uint64_t started = mClock.NowMs();
        ASSERT_TRUE(c.drive());
        ASSERT_EQ(mHolds.size(), 1u) << "the hold was told " << mHolds.size() << " times";
        const HoldSeen& seen = mHolds.front();
        EXPECT_EQ(seen.Text, c.text);
        ASSERT_TRUE(seen.Kept.has_value()) << "no state file when the hold began";
        EXPECT_EQ(std::string(PowerName(seen.Kept->State)), PowerName(c.kept))
            << "the state file lags behind the held device";
        if (c.kept == CSimulatorStateFile::Power::Bootloader) {
            EXPECT_EQ(std::string(ZT::ToString(seen.Kept->Bootloader.State)), c.keptDfuState)
                << "the state file lags behind the held bootloader";
        }
        if (c.hold.At != Point::BootloaderAppearance && c.hold.At != Point::Return) {
            EXPECT_GE(mClock.NowMs() - started, SimulatedDeviceHold::kHoldMs) << "the request was answered during the hold";
        }
        EXPECT_LT(seen.AtMs - started, SimulatedDeviceHold::kHoldMs) << "the hold was told only after it was over";
    }
}

// The state a hold keeps is the held operation carried out, as a device that keeps its power
// finishes it: the held block is in the kept flash, the block after it is not.
TEST_F(DeviceHold, AHeldBlockIsInTheKeptFlashAndTheNextOneIsNot)
{
    Hold({Point::Block, 2});
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(WriteImage(host, 6));
    ASSERT_EQ(mHolds.size(), 1u);
    ASSERT_TRUE(mHolds.front().Kept.has_value());
    const auto& pages = mHolds.front().Kept->Pages;
    const auto has = [&pages](std::uint32_t address) {
        return std::any_of(pages.begin(), pages.end(), [address](const auto& page) { return page.Address == address; });
    };
    // Blocks go from the second one on: data block 2 of the session lands at the image's block 3.
    EXPECT_TRUE(has(0x08008000 + 3 * kBlockSize)) << "the held block at 0x08009800 was not kept";
    EXPECT_FALSE(has(0x08008000 + 4 * kBlockSize)) << "a block the host had not sent at the hold was kept";
    EXPECT_FALSE(has(0x08008000)) << "the first block, written last, was kept at the hold";
}

// A power cut: every device boots by its image's first word when powered again.
TEST_F(DeviceHold, APowerCutBootsEachDeviceByTheFirstWordOfItsImage)
{
    struct Case {
        const char* name;
        std::function<void(DfuHost&)> write;
        SimulatedDeviceMode after;
        const char* dfuState;
    };
    const std::vector<Case> cases{
        // The first word still erased: the bootloader, afresh in dfuIDLE.
        {"CutBeforeTheFirstBlock", [](DfuHost& host) {
             ASSERT_TRUE(host.EraseSector(0x08008000));
             ASSERT_TRUE(host.SetAddress(0x08008000 + kBlockSize));
             ASSERT_TRUE(host.WriteBlock(2, MakeImage(kBlockSize, std::nullopt)));
         },
         SimulatedDeviceMode::Bootloader, "dfuIDLE"},
        // The whole image written, the leave never sent: it runs.
        {"CutAfterTheWholeImage", [this](DfuHost& host) { ASSERT_TRUE(WriteImage(host, 4)); },
         SimulatedDeviceMode::Application, "not in the bootloader"},
        // A plausible first word over half an image: it starts, and crashes.
        {"CutAfterTheFirstBlockWrittenFirst", [](DfuHost& host) {
             const auto image = MakeImage(4 * kBlockSize, 0x0032);
             ASSERT_TRUE(host.EraseSector(0x08008000));
             ASSERT_TRUE(host.SetAddress(0x08008000));
             ASSERT_TRUE(host.WriteBlock(2, std::span<const std::uint8_t>(image).first(kBlockSize)));
         },
         SimulatedDeviceMode::RunningBrokenImage, "not in the bootloader"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mController->Unplug();
        mController->Plug(); // in its bootloader after the first case, which erased the first word
        DfuHost host = mController->GetMode() == SimulatedDeviceMode::Bootloader ? EnterBootloaderDirectly()
                                                                                  : EnterBootloader();
        c.write(host);
        ASSERT_FALSE(HasFatalFailure());
        std::vector<CSimulatorStateFile::Device> devices = CSimulatorStateFile::Capture(*mSimulator);
        ASSERT_EQ(std::string(PowerName(devices.front().State)), "Bootloader");
        ASSERT_EQ(std::string(ZT::ToString(devices.front().Bootloader.State)), "dfuDNLOAD-IDLE");
        CSimulatorStateFile::CutPower(devices);
        for (const auto& device : devices) {
            EXPECT_EQ(std::string(PowerName(device.State)), "PoweredOff")
                << SimulatedDeviceKindName(device.Kind) << " kept its power";
        }

        auto next = ZT::MakeRC<LDeviceSimulator>(0.0, &mClock);
        const auto restored = CSimulatorStateFile::Restore(*next, devices);
        ASSERT_EQ(restored.size(), 2u);
        EXPECT_EQ(std::string(SimulatedDeviceModeName(restored[0]->GetMode())), SimulatedDeviceModeName(c.after));
        const auto state = restored[0]->GetDfuState();
        EXPECT_EQ(state ? std::string(ZT::ToString(*state)) : std::string("not in the bootloader"), c.dfuState);
        EXPECT_EQ(restored[1]->GetMode(), SimulatedDeviceMode::Application) << "the wheel display lost its image";
    }
}

} // namespace
