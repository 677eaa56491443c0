// The -SIMULATE_DEVICES value and the state file that keeps simulated devices between runs.

#include "Simulator/SimulatedDevice.h"
#include "Simulator/SimulatedDevicesSetup.h"
#include "Simulator/SimulatorStateFile.h"
#include "ZTFramework/Time/Clock.h"
#include "ZTFramework/Time/VirtualClock.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

TEST(SimulateDevicesValue, NamesTheDevicesPluggedIn)
{
    struct Row {
        const char* value;
        bool controllerPresent;
        std::optional<std::uint16_t> controller;
        bool displayPresent;
        std::optional<std::uint16_t> display;
        std::size_t unrecognised;
    };
    const Row rows[] = {{"", true, 0x0030, true, 0x0049, 0}, {"00.31,00.50", true, 0x0031, true, 0x0050, 0},
                        {"0.31,1.5", true, 0x0031, true, 0x0105, 0}, {"99.99", true, 0x9999, true, 0x0049, 0},
                        {"-,DFU", false, {}, true, std::nullopt, 0}, {"dfu,-", true, std::nullopt, false, {}, 0},
                        {",00.50", true, 0x0030, true, 0x0050, 0},
                        // Left out before the options: the defaults.
                        {"state=/tmp/s,slow-return", true, 0x0030, true, 0x0049, 0},
                        {"00.31,slow-return,00.50", true, 0x0031, true, 0x0049, 1},
                        // Not versions: the defaults stay and the items are reported.
                        {"0031,1.2.3", true, 0x0030, true, 0x0049, 2}, {"100.00,a.b", true, 0x0030, true, 0x0049, 2},
                        {".31,00.", true, 0x0030, true, 0x0049, 2}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        const SimulatedDevicesSetup setup = SimulatedDevicesSetup::Parse(row.value);
        EXPECT_EQ(setup.Controller.Present, row.controllerPresent);
        EXPECT_EQ(setup.Display.Present, row.displayPresent);
        // The release of a device that is not plugged in means nothing.
        EXPECT_EQ(row.controllerPresent ? setup.Controller.ReleaseNumber : row.controller, row.controller);
        EXPECT_EQ(row.displayPresent ? setup.Display.ReleaseNumber : row.display, row.display);
        EXPECT_EQ(setup.Unrecognised.size(), row.unrecognised);
    }
}

TEST(SimulateDevicesItems, SetFaultsStateAndPace)
{
    const SimulatedDevicesSetup setup = SimulatedDevicesSetup::Parse(
        "00.30,00.49,STATE=/tmp/Some Folder/State.bin,time-factor=0.25,controller:unplug-after-blocks=7,"
        "display:Stall-On-Erase,slow-return,busy-block=3,busy-replies=40,enumeration-fails,controller:image-check,"
        "display:identity-from-image,erase-busy-at-once,controller:at=Data-Block/47/Power-Cut,display:at=leave/stall");
    EXPECT_EQ(setup.StateFile, "/tmp/Some Folder/State.bin");
    EXPECT_DOUBLE_EQ(setup.TimeFactor, 0.25);
    EXPECT_TRUE(setup.EnumerationFails);
    EXPECT_EQ(setup.Controller.Faults.unplugAfterBlocks, std::optional<std::uint32_t>(7));
    EXPECT_FALSE(setup.Display.Faults.unplugAfterBlocks.has_value());
    EXPECT_FALSE(setup.Controller.Faults.stallOnErase);
    EXPECT_TRUE(setup.Display.Faults.stallOnErase);
    EXPECT_TRUE(setup.Controller.Faults.checksImage);
    EXPECT_FALSE(setup.Display.Faults.checksImage);
    EXPECT_TRUE(setup.Display.Faults.identityFromImage);
    EXPECT_FALSE(setup.Controller.Faults.identityFromImage);
    for (const SimulatedDevicesSetup::Device* device : {&setup.Controller, &setup.Display}) {
        EXPECT_TRUE(device->Faults.slowReturn);
        EXPECT_TRUE(device->Faults.eraseBusyAtOnce);
        EXPECT_EQ(device->Faults.busyBlockIndex, std::optional<std::uint32_t>(3));
        EXPECT_EQ(device->Faults.busyBlockStatusReplies, 40u);
    }
    EXPECT_EQ(setup.Controller.Faults.at,
              std::optional<SimulatedFaultAt>(SimulatedFaultAt{SimulatedFaultPhase::DataBlock, SimulatedFaultKind::PowerCut, 47}));
    EXPECT_EQ(setup.Display.Faults.at,
              std::optional<SimulatedFaultAt>(SimulatedFaultAt{SimulatedFaultPhase::Leave, SimulatedFaultKind::Stall, 0}));
    EXPECT_TRUE(setup.Unrecognised.empty());
}

TEST(SimulateDevicesItems, WhatCannotBeReadIsReportedAndChangesNothing)
{
    const char* bad[] = {"state=",        "time-factor=0",   "time-factor=101",   "time-factor=nan", "time-factor=1x",
                         "stall-on-erase=3", "unplug-after-blocks", "unplug-after-blocks=-1", "busy-block=",
                         "printer:slow-return", "no-such-fault", "controller:", "image-check=1", "at=",
                         "at=erase", "at=erase/stall/1", "at=erase//stall", "at=erase/x/stall", "at=erase/1/burn",
                         "at=flash/1/stall", "at=erase/-1/stall"};
    for (const char* item : bad) {
        const SimulatedDevicesSetup setup = SimulatedDevicesSetup::Parse(std::string("00.30,00.49,") + item);
        ASSERT_EQ(setup.Unrecognised.size(), 1u) << item;
        EXPECT_EQ(setup.Unrecognised.front(), item);
        EXPECT_TRUE(setup.StateFile.empty()) << item;
        EXPECT_DOUBLE_EQ(setup.TimeFactor, 1.0) << item;
        EXPECT_FALSE(setup.Controller.Faults.stallOnErase || setup.Controller.Faults.slowReturn ||
                     setup.Controller.Faults.unplugAfterBlocks || setup.Controller.Faults.busyBlockIndex ||
                     setup.Controller.Faults.at)
            << item;
    }
}

// ---- The state file ---------------------------------------------------------------------------

class SimulatorState : public ::testing::Test {
protected:
    SimulatorState() { ZT::SetClock(&mClock); }
    ~SimulatorState() override { ZT::SetClock(nullptr); }

    ZT::VirtualClock mClock;
    ZT::Testing::TempFolder mTemp{"zt-simstate"};
    const fs::path mFolder = mTemp.Path();
};

TEST_F(SimulatorState, EveryDamagedFileIsRefusedWhole)
{
    auto simulator = ZT::MakeRC<LDeviceSimulator>();
    simulator->AddDevice(SimulatedDeviceKind::Controller, 0x0031);
    const std::vector<std::uint8_t> good = CSimulatorStateFile::Encode(CSimulatorStateFile::Capture(*simulator));
    std::string error;
    ASSERT_TRUE(CSimulatorStateFile::Decode(good, error).has_value()) << error;

    std::vector<std::vector<std::uint8_t>> damaged = {{}, {good.begin(), good.begin() + 10}, {good.begin(), good.end() - 1}, good};
    damaged.back().push_back(0); // one byte more
    for (const std::size_t offset : {std::size_t{0}, std::size_t{9}, std::size_t{13}, good.size() / 2, good.size() - 1}) {
        std::vector<std::uint8_t> flipped = good;
        flipped[offset] ^= 0x40;
        damaged.push_back(flipped);
    }
    for (const auto& bytes : damaged) {
        error.clear();
        EXPECT_FALSE(CSimulatorStateFile::Decode(bytes, error).has_value()) << bytes.size();
        EXPECT_FALSE(error.empty());
    }

    EXPECT_FALSE(CSimulatorStateFile::Read((mFolder / "missing").string(), error).has_value());
    EXPECT_FALSE(CSimulatorStateFile::Read(mFolder.string(), error).has_value()) << "a folder is no state file";
    EXPECT_FALSE(CSimulatorStateFile::Write((mFolder / "no/such/folder/state").string(), {}, error));
}

TEST_F(SimulatorState, TheSetupUsesAReadableStateFileAndElseItsOwnDevices)
{
    const std::string path = (mFolder / "devices.state").string();
    SimulatedDevicesSetup setup = SimulatedDevicesSetup::Parse("00.30,dfu,state=" + path + ",display:slow-return");
    std::string message;

    // First run: no file yet, the command line's devices.
    auto first = setup.CreateSimulator(message);
    EXPECT_NE(message.find("does not exist yet"), std::string::npos) << message;
    ASSERT_EQ(first->GetDevices().size(), 2u);
    EXPECT_TRUE(first->GetDevices()[1]->GetFaults().slowReturn);
    // Something happens to them: the controller is unplugged, the display's bootloader writes.
    first->GetDevices()[0]->Unplug();
    const std::vector<std::uint8_t> marker{1, 2, 3, 0xFF, 4};
    ASSERT_TRUE(first->GetDevices()[1]->ProgramFlash(0x08020000, marker));
    ASSERT_TRUE(setup.SaveState(*first, message)) << message;
    EXPECT_FALSE(fs::exists(path + ".tmp"));

    // Next run with other versions on its command line: the file wins, with each device's flash
    // and mode (the unplugged one is plugged in again); the faults still apply.
    SimulatedDevicesSetup next = SimulatedDevicesSetup::Parse("00.31,00.50,state=" + path + ",display:slow-return");
    auto second = next.CreateSimulator(message);
    EXPECT_NE(message.find("restored"), std::string::npos) << message;
    ASSERT_EQ(second->GetDevices().size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(second->GetDevices()[i]->GetKind(), first->GetDevices()[i]->GetKind());
        EXPECT_EQ(second->GetDevices()[i]->GetFlashDump(), first->GetDevices()[i]->GetFlashDump());
    }
    EXPECT_EQ(second->GetDevices()[0]->GetMode(), SimulatedDeviceMode::Application);
    EXPECT_EQ(second->GetDevices()[1]->GetMode(), SimulatedDeviceMode::Bootloader);
    EXPECT_TRUE(second->GetDevices()[1]->GetFaults().slowReturn);

    // A damaged file is reported and the command line's devices are used.
    std::ofstream(path, std::ios::trunc) << "garbage";
    auto third = next.CreateSimulator(message);
    EXPECT_NE(message.find("not used"), std::string::npos) << message;
    ASSERT_EQ(third->GetDevices().size(), 2u);
    EXPECT_EQ(third->GetDevices()[0]->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031));
}

} // namespace
