// Devices left in update mode, across real processes: the bootloader serial a run records when a
// device enters update mode is what a later run goes by when nothing else tells the bootloaders
// apart; without it the run refuses and writes nothing.

#include "tests/FirmwareUpdater/Panel/ProcessRunner.h"

#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "Simulator/SimulatorStateFile.h"
#include "tests/Support/Printers.h"
#include "tools/SimulationImagePlan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

using UpdaterProcess::Contains;
using UpdaterProcess::Describe;
using UpdaterProcess::Result;
using UpdaterProcess::Sandbox;

constexpr const char* kFast = ",time-factor=0.05";

std::vector<CSimulatorStateFile::Device> ReadState(const std::string& path)
{
    std::string error;
    const auto devices = CSimulatorStateFile::Read(path, error);
    EXPECT_TRUE(devices) << path << ": " << error;
    return devices ? *devices : std::vector<CSimulatorStateFile::Device>();
}

// Whether the kept pages of device hold the element of the product's image for kind.
::testing::AssertionResult HoldsImage(const CSimulatorStateFile::Device& device, const ProductDevice& product)
{
    const DfuSeImage image = SimulationImagePlan::ForDevice(product).Build();
    for (std::size_t offset = 0; offset < image.ElementData.size(); ++offset) {
        const std::uint32_t address = image.ElementAddress + static_cast<std::uint32_t>(offset);
        const auto page = std::find_if(device.Pages.begin(), device.Pages.end(), [address](const auto& p) {
            return address >= p.Address && address < p.Address + CSimulatorStateFile::kPageSize;
        });
        const std::uint8_t held = page == device.Pages.end() ? 0xFF : page->Bytes[address - page->Address];
        if (held != image.ElementData[offset])
            return ::testing::AssertionFailure() << "flash differs at " << ZT::Testing::Hex(address, 8) << ": "
                                                 << ZT::Testing::Hex(held, 2) << " instead of "
                                                 << ZT::Testing::Hex(image.ElementData[offset], 2);
    }
    return ::testing::AssertionSuccess();
}

TEST(RecoveryProcess, BothDevicesInUpdateModeWithoutARecordAreRefusedAndLeftUntouched)
{
    Sandbox sandbox;
    const std::string state = (sandbox.Folder() / "devices.state").string();
    const Result run = sandbox.RunUpdater(
        {UpdaterProcess::BinaryPath(), "-SILENT", "-DEBUG_CONSOLE", "-SIMULATE_DEVICES=dfu,dfu,state=" + state + kFast});
    ASSERT_FALSE(run.TimedOut) << Describe(run);
    EXPECT_TRUE(Contains(run.StandardError, "2 devices are in update mode and cannot be told apart")) << Describe(run);
    EXPECT_TRUE(Contains(run.StandardError, "contact Halvard support")) << Describe(run);
    // The summary says why, not that a device is missing.
    EXPECT_TRUE(Contains(run.StandardError, "Controller: not attempted (a device in update mode could not be identified)"))
        << Describe(run);
    EXPECT_FALSE(Contains(run.StandardError, "back in normal mode")) << Describe(run);
    const auto devices = ReadState(state);
    ASSERT_EQ(devices.size(), 2u);
    for (const auto& device : devices) {
        EXPECT_EQ(device.State, CSimulatorStateFile::Power::Bootloader) << SimulatedDeviceKindName(device.Kind);
        EXPECT_TRUE(device.Pages.empty()) << SimulatedDeviceKindName(device.Kind) << ": " << device.Pages.size()
                                          << " pages written";
    }
}

// A first run is cut once the controller is in update mode (it leaves the bus during its
// download); the wheel display is then unplugged. The second run sees one bootloader and
// nothing else, and the record from the first run says it is the controller.
TEST(RecoveryProcess, TheRecordOfACutRunLetsTheNextRunFinishTheController)
{
    Sandbox sandbox;
    const std::string state = (sandbox.Folder() / "devices.state").string();
    const std::string program = UpdaterProcess::BinaryPath();
    const Result first = sandbox.RunUpdater({program, "-SILENT", "-DEBUG_CONSOLE",
                                             "-SIMULATE_DEVICES=00.30,00.49,controller:unplug-after-blocks=0,state=" +
                                                 state + kFast});
    ASSERT_FALSE(first.TimedOut) << Describe(first);
    ASSERT_TRUE(Contains(first.StandardError, "as the serial number of the controller's bootloader")) << Describe(first);

    std::vector<CSimulatorStateFile::Device> devices = ReadState(state);
    ASSERT_EQ(devices.size(), 2u);
    ASSERT_EQ(devices[0].Kind, SimulatedDeviceKind::Controller);
    devices.pop_back(); // the wheel display is unplugged
    std::string error;
    ASSERT_TRUE(CSimulatorStateFile::Write(state, devices, error)) << error;

    const Result second =
        sandbox.RunUpdater({program, "-SILENT", "-DEBUG_CONSOLE", "-SIMULATE_DEVICES=dfu,-,state=" + state + kFast});
    ASSERT_FALSE(second.TimedOut) << Describe(second);
    EXPECT_TRUE(Contains(second.StandardError, "Controller: back in normal mode with firmware 00.31.")) << Describe(second);
    devices = ReadState(state);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].State, CSimulatorStateFile::Power::Running);
    EXPECT_TRUE(HoldsImage(devices[0], kControllerDevice));
}

// A run killed between the controller's leave request and the status request that completes it
// leaves the bootloader in dfuMANIFEST-SYNC with the new image in flash: the state a first run
// that wrote the image leaves, made to rest before the leave completed. The next run resets the
// device instead of failing: a whole image starts and is reported with its version; with its
// first word erased (the run was cut before its last block) the bootloader comes back and the
// run finishes the update.
class RecoveryProcessManifest : public ::testing::TestWithParam<bool> {};

TEST_P(RecoveryProcessManifest, ARunCutAfterTheLeaveIsFinishedByTheNextRun)
{
    const bool firstWordErased = GetParam();
    Sandbox sandbox;
    const std::string state = (sandbox.Folder() / "devices.state").string();
    const std::string program = UpdaterProcess::BinaryPath();
    const Result first =
        sandbox.RunUpdater({program, "-SILENT", "-DEBUG_CONSOLE", "-SIMULATE_DEVICES=00.30,00.49,state=" + state + kFast});
    ASSERT_FALSE(first.TimedOut) << Describe(first);
    std::vector<CSimulatorStateFile::Device> devices = ReadState(state);
    ASSERT_EQ(devices.size(), 2u);
    ASSERT_EQ(devices[0].Kind, SimulatedDeviceKind::Controller);
    ASSERT_TRUE(HoldsImage(devices[0], kControllerDevice)) << Describe(first);
    devices.pop_back(); // the wheel display is unplugged
    devices[0].State = CSimulatorStateFile::Power::Bootloader;
    devices[0].Bootloader = DfuSeSession{ZT::DfuState::DfuManifestSync, ZT::DfuStatus::Ok, 0x08008000};
    if (firstWordErased) {
        const auto page = std::find_if(devices[0].Pages.begin(), devices[0].Pages.end(),
                                       [](const auto& p) { return p.Address == 0x08008000; });
        ASSERT_NE(page, devices[0].Pages.end());
        std::fill_n(page->Bytes.begin(), 8, std::uint8_t{0xFF});
    }
    std::string error;
    ASSERT_TRUE(CSimulatorStateFile::Write(state, devices, error)) << error;

    const Result second =
        sandbox.RunUpdater({program, "-SILENT", "-DEBUG_CONSOLE", "-SIMULATE_DEVICES=dfu,-,state=" + state + kFast});
    ASSERT_FALSE(second.TimedOut) << Describe(second);
    EXPECT_EQ(second.Signal, 0) << Describe(second);
    EXPECT_TRUE(Contains(second.StandardError, "is in dfuMANIFEST, left by a run that ended after its leave request"))
        << Describe(second);
    if (firstWordErased) {
        EXPECT_TRUE(Contains(second.StandardError, "Controller: back in normal mode with firmware 00.31.")) << Describe(second);
    } else {
        EXPECT_TRUE(Contains(second.StandardError, "the device is in its application, firmware version 00.31"))
            << Describe(second);
    }
    // Either way the controller runs the file's firmware, and the summary says so.
    EXPECT_TRUE(Contains(second.StandardError, "Controller: updated to 00.31")) << Describe(second);
    EXPECT_FALSE(Contains(second.StandardError, "the update failed")) << Describe(second);
    devices = ReadState(state);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].State, CSimulatorStateFile::Power::Running) << "the controller did not start its image";
    EXPECT_TRUE(HoldsImage(devices[0], kControllerDevice));
}

INSTANTIATE_TEST_SUITE_P(Images, RecoveryProcessManifest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "FirstWordErased" : "WholeImage");
                         });

// A query on a controller in normal mode beside a bootloader leaves no record behind: only a run
// that writes a device may say which bootloader it is.
TEST(RecoveryProcess, AQueryNeverWritesTheBootloaderRecord)
{
    Sandbox sandbox;
    const Result query = sandbox.RunUpdater(
        {UpdaterProcess::BinaryPath(), "-RETURN_UPDATE_MODE_STATUS", "-DEBUG_CONSOLE", "-SIMULATE_DEVICES=00.30,dfu"});
    ASSERT_FALSE(query.TimedOut) << Describe(query);
    EXPECT_EQ(query.Signal, 0) << Describe(query);
    const auto record = sandbox.Folder() / "state" / "Halvard" / "XR4000 NOVA Firmware Updater" / "bootloader-serials";
    EXPECT_FALSE(std::filesystem::exists(record)) << "the query wrote " << record << "\n" << Describe(query);
}

} // namespace
