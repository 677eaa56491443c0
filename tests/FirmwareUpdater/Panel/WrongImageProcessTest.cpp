// The real program with the controller's image saved under the wheel display's file name, as a
// packaging slip or a user copying files leaves it: the display is never switched or written.

#include "tests/FirmwareUpdater/Panel/ProcessRunner.h"

#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "Simulator/DeviceSimulator.h"
#include "Simulator/SimulatorStateFile.h"
#include "tests/Support/Printers.h"
#include "tools/SimulationImagePlan.h"
#include "ZTFramework/Time/VirtualClock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using UpdaterProcess::Contains;
using UpdaterProcess::Describe;
using UpdaterProcess::Result;
using UpdaterProcess::Sandbox;

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::filesystem::path FileName(const ProductDevice& device)
{
    return std::filesystem::path(ZT::WString(device.FirmwareFileName).ToUTF8());
}

TEST(WrongImageProcess, TheControllersImageUnderTheDisplaysNameIsNeverWritten)
{
    Sandbox sandbox;
    // A copy of the program whose folder holds the controller's image under both names.
    const std::filesystem::path program = std::filesystem::path(UpdaterProcess::BinaryPath());
    const std::filesystem::path folder = sandbox.Folder() / "bin";
    std::filesystem::create_directories(folder);
    const std::filesystem::path copy = folder / program.filename();
    std::filesystem::copy_file(program, copy);
    const std::vector<std::uint8_t> controllerImage = SimulationImagePlan::ForDevice(kControllerDevice).Build().ToBytes();
    WriteFile(folder / FileName(kControllerDevice), controllerImage);
    WriteFile(folder / FileName(kWheelDisplayDevice), controllerImage);

    // The controller is up to date, so the wheel display (00.49) is the one to update.
    const std::string state = (sandbox.Folder() / "devices.state").string();
    ZT::VirtualClock clock;
    const auto simulator = ZT::MakeRC<LDeviceSimulator>(0.0, &clock);
    (void)simulator->AddDevice(SimulatedDeviceKind::Controller, kControllerDevice.FirmwareRelease);
    (void)simulator->AddDevice(SimulatedDeviceKind::WheelDisplay, 0x0049);
    const std::vector<CSimulatorStateFile::Device> before = CSimulatorStateFile::Capture(*simulator);
    std::string error;
    ASSERT_TRUE(CSimulatorStateFile::Write(state, before, error)) << error;

    const Result run = sandbox.Run(copy.string(), {copy.string(), "-SILENT", "-DEBUG_CONSOLE",
                                                   "-SIMULATE_DEVICES=00.31,00.49,state=" + state + ",time-factor=0.05"});
    ASSERT_FALSE(run.TimedOut) << Describe(run);
    EXPECT_EQ(run.Signal, 0) << Describe(run);
    EXPECT_TRUE(Contains(run.StandardError, "Wheel display: cannot be updated (reading the firmware file: "))
        << Describe(run);
    EXPECT_TRUE(Contains(run.StandardError, "it is the Halvard XR4000 NOVA's image, not the Halvard XR4000 NOVA WD's: "
                                            "its DFU suffix names 2C1A:8010"))
        << Describe(run);
    EXPECT_FALSE(Contains(run.StandardError, "Wheel display: writing firmware")) << Describe(run);
    // The summary counts the refusal as the display's failed update, so that nobody takes the run
    // for a success.
    EXPECT_TRUE(Contains(run.StandardError, "Wheel display: failed (")) << Describe(run);
    EXPECT_TRUE(Contains(run.StandardError, "Finished: 0 device(s) updated, 1 update(s) failed.")) << Describe(run);

    const auto after = CSimulatorStateFile::Read(state, error);
    ASSERT_TRUE(after) << error;
    ASSERT_EQ(after->size(), 2u);
    EXPECT_EQ((*after)[1].Kind, SimulatedDeviceKind::WheelDisplay);
    EXPECT_EQ((*after)[1].State, CSimulatorStateFile::Power::Running) << "the display left normal mode";
    EXPECT_TRUE((*after)[1].Pages == before[1].Pages) << "the display's flash was changed";
}

} // namespace
